#include "FeatureCache.h"

#include "FaceCheck.h"
#include "FeatureExtractor.h"
#include "QualityScore.h"

#include "platform/AtomicFile.h"
#include "platform/RegularFile.h"

namespace vp {

namespace {

bool isValid(const ImageFeatures& features) {
    if (features.version != ImageFeatures::pipelineVersion) return false;
    if (features.featurePrint && features.featurePrintRevision != FeatureExtractor::featurePrintRevision) return false;
    if (features.qualityScore && features.qualityRevision != QualityScore::revision) return false;
    return true;
}

// A cache of a few million pictures stays well below this; the bound keeps a device or a
// runaway file from being read without end.
constexpr std::int64_t maximumFileSize = std::int64_t{1} << 31;

} // namespace

FeatureCache::FeatureCache(std::optional<std::string> path) : m_path(std::move(path)) {
    if (!m_path) return;
    // Anything but a plain file of ours counts as no cache; the next save replaces it.
    if (const auto read = readRegularFile(*m_path, maximumFileSize); read.ok())
        m_entries = FeatureCacheFile::decode(read.content);
}

std::string FeatureCache::key(const FileSnapshot& snapshot) {
    return std::to_string(snapshot.identity.device) + ":" + std::to_string(snapshot.identity.inode) + ":" +
           std::to_string(snapshot.size) + ":" + std::to_string(snapshot.modifiedSeconds) + "." +
           std::to_string(snapshot.modifiedNanoseconds);
}

std::optional<ImageFeatures> FeatureCache::lookup(const PhotoAsset& asset) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(key(asset.snapshot));
    if (found == m_entries.end() || !isValid(found->second)) return std::nullopt;
    ImageFeatures features = found->second;
    if (features.faces && features.faces->revision != FaceCheck::revision) features.faces.reset();
    return features;
}

std::optional<FaceReading> FeatureCache::faces(const PhotoAsset& asset) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(key(asset.snapshot));
    if (found == m_entries.end() || !found->second.faces || found->second.faces->revision != FaceCheck::revision)
        return std::nullopt;
    return found->second.faces;
}

void FeatureCache::store(const PhotoAsset& asset, const ImageFeatures& features) {
    std::lock_guard lock(m_mutex);
    m_entries[key(asset.snapshot)] = features;
    m_dirty = true;
}

void FeatureCache::storeFaces(const FaceReading& reading, const PhotoAsset& asset) {
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(key(asset.snapshot));
    if (found == m_entries.end()) return;
    found->second.faces = reading;
    m_dirty = true;
}

void FeatureCache::save() {
    std::lock_guard lock(m_mutex);
    if (!m_dirty || !m_path) return;
    AtomicFile::write(*m_path, FeatureCacheFile::encode(m_entries));
    m_dirty = false;
}

std::size_t FeatureCache::count() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

} // namespace vp
