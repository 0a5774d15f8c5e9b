#include "FeatureCache.h"

#include "FaceCheck.h"
#include "FeatureExtractor.h"
#include "QualityScore.h"

#include "engine/common/Text.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace vp {

namespace {

bool isValid(const ImageFeatures& features) {
    if (features.version != ImageFeatures::pipelineVersion) return false;
    if (features.featurePrint && features.featurePrintRevision != FeatureExtractor::featurePrintRevision) return false;
    if (features.qualityScore && features.qualityRevision != QualityScore::revision) return false;
    return true;
}

std::optional<std::string> readWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::stringstream data;
    data << file.rdbuf();
    return data.str();
}

// Written beside the target and renamed over it, so a crash leaves either the old file or the new.
bool writeAtomically(const std::string& path, const std::string& data) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t wrote = ::write(fd, data.data() + written, data.size() - written);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) break;
        written += static_cast<std::size_t>(wrote);
    }
    const bool complete = written == data.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!complete || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

FeatureCache::FeatureCache(std::optional<std::string> path) : m_path(std::move(path)) {
    if (!m_path) return;
    if (const auto data = readWholeFile(*m_path)) m_entries = FeatureCacheFile::decode(*data);
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
    writeAtomically(*m_path, FeatureCacheFile::encode(m_entries));
    m_dirty = false;
}

std::size_t FeatureCache::count() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

} // namespace vp
