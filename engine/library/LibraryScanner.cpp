#include "LibraryScanner.h"

#include "LibrarySource.h"
#include "engine/scan/ParallelMap.h"
#include "engine/similarity/FaceCheck.h"
#include "engine/similarity/FeatureExtractor.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <set>
#include <unordered_map>

namespace vp {

namespace {

// The shortest text that reads back as the same double, always with a fraction ("0.0").
std::string decimalText(double value) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, error == std::errc() ? end : buffer);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

} // namespace

std::string LibraryHashCache::key(const PhotoLibraryItem& item) {
    const Timestamp date = item.modified.value_or(item.created.value_or(Timestamp{}));
    return item.id + "@" + decimalText(std::chrono::duration<double>(date.time_since_epoch()).count());
}

std::optional<LibraryHash> LibraryHashCache::lookup(const PhotoLibraryItem& item) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_hashes.find(key(item));
    if (found == m_hashes.end()) return std::nullopt;
    return LibraryHash::hashed(found->second.first, found->second.second);
}

void LibraryHashCache::store(const LibraryHash& hash, const PhotoLibraryItem& item) {
    if (hash.kind != LibraryHash::Kind::hashed) return;
    std::lock_guard lock(m_mutex);
    m_hashes[key(item)] = {hash.digest, hash.bytes};
}

bool DownloadBudget::take(std::int64_t bytes) {
    std::lock_guard lock(m_mutex);
    if (m_spent >= m_limit) return false;
    m_spent += bytes;
    return m_spent <= m_limit;
}

std::int64_t DownloadBudget::used() const {
    std::lock_guard lock(m_mutex);
    return m_spent;
}

namespace LibraryScanner {

std::string bucketKey(const PhotoLibraryItem& item) {
    return std::to_string(item.pixelWidth) + "x" + std::to_string(item.pixelHeight) + "|" + item.uti.value_or("");
}

namespace {

// Progress from several workers, one report at a time.
class SerialProgress {
public:
    explicit SerialProgress(const Progress& progress) : m_progress(progress) {}
    void report(const ScanProgress& value) {
        std::lock_guard lock(m_mutex);
        if (m_progress) m_progress(value);
    }
    /// Counts one more item done and reports it.
    void done(ScanProgress value) {
        std::lock_guard lock(m_mutex);
        value.examined = ++m_done;
        if (m_progress) m_progress(value);
    }

private:
    const Progress& m_progress;
    std::mutex m_mutex;
    std::int64_t m_done = 0;
};

ScanProgress at(ScanProgress::Stage stage, std::int64_t discovered) {
    ScanProgress progress;
    progress.stage = stage;
    progress.discovered = discovered;
    return progress;
}

// Candidates in library order: every photo whose bucket holds another one.
std::vector<PhotoLibraryItem> candidatesOf(const std::vector<PhotoLibraryItem>& photos) {
    std::unordered_map<std::string, int> bucketSizes;
    for (const auto& photo : photos) ++bucketSizes[bucketKey(photo)];
    std::vector<PhotoLibraryItem> candidates;
    for (const auto& photo : photos)
        if (bucketSizes[bucketKey(photo)] >= 2) candidates.push_back(photo);
    return candidates;
}

void sortInto(ScanResult& result, const std::vector<PhotoLibraryItem>& candidates,
              const std::vector<LibraryHash>& results, const std::string& notLocalDetail) {
    std::map<std::string, std::vector<PhotoAsset>> byContent;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const auto& item = candidates[i];
        const auto& hash = results[i];
        const std::string path = LibrarySource::path(item.id);
        switch (hash.kind) {
        case LibraryHash::Kind::hashed:
            byContent[hash.digest + "|" + std::to_string(hash.bytes)].push_back(LibrarySource::asset(item, hash.bytes));
            break;
        case LibraryHash::Kind::failed:
            result.skipped.push_back({path, SkipReason::unreadable, item.filename + ": " + hash.reason});
            break;
        case LibraryHash::Kind::notLocal:
            result.skipped.push_back({path, SkipReason::cloudPlaceholder, item.filename + ": " + notLocalDetail});
            break;
        case LibraryHash::Kind::stopped:
            result.skipped.push_back(
                {path, SkipReason::cloudPlaceholder, item.filename + ": " + std::string(notReachedDetail)});
            break;
        }
    }
    for (auto& [key, members] : byContent) {
        if (members.size() < 2) continue;
        std::sort(members.begin(), members.end(), [](const PhotoAsset& a, const PhotoAsset& b) {
            const auto timeA = std::pair(a.snapshot.modifiedSeconds, a.snapshot.modifiedNanoseconds);
            const auto timeB = std::pair(b.snapshot.modifiedSeconds, b.snapshot.modifiedNanoseconds);
            return timeA != timeB ? timeA < timeB : a.path < b.path;
        });
        DuplicateGroup group;
        group.id = key.substr(0, key.find('|'));
        group.size = members.front().snapshot.size;
        group.spread = 0.0F;
        group.kind = MatchKind::identical;
        group.members = std::move(members);
        result.groups.push_back(std::move(group));
    }
    std::sort(result.groups.begin(), result.groups.end(),
              [](const DuplicateGroup& a, const DuplicateGroup& b) { return a.members.front().path < b.members.front().path; });
}

} // namespace

std::vector<std::size_t> downloadOrder(const std::vector<PhotoLibraryItem>& candidates,
                                       const std::vector<LibraryHash>& firstPass) {
    std::set<std::string> bucketsHashedHere;
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (firstPass[i].kind == LibraryHash::Kind::hashed) bucketsHashedHere.insert(bucketKey(candidates[i]));
    std::vector<std::size_t> first;
    std::vector<std::size_t> rest;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (firstPass[i].kind != LibraryHash::Kind::notLocal) continue;
        (bucketsHashedHere.contains(bucketKey(candidates[i])) ? first : rest).push_back(i);
    }
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}

ScanResult scan(const PhotoLibraryReading& reader, bool keepPictures, DownloadBudget* download, LibraryHashCache* cache,
                const CancellationFlag& cancel, const Progress& progress) {
    ScanResult result;
    result.roots = {std::string(LibrarySource::root)};
    result.started = std::chrono::system_clock::now();
    SerialProgress serial(progress);
    serial.report(at(ScanProgress::Stage::discovering, 0));

    const auto listing = reader.items(cancel);
    result.discovered = static_cast<std::int64_t>(listing.photos.size()) + listing.videos;
    result.otherFiles = listing.videos;
    const auto finish = [&] {
        result.examined = static_cast<std::int64_t>(listing.photos.size());
        result.cancelled = cancel.isCancelled();
        result.downloadedBytes = download != nullptr ? download->used() : 0;
        if (keepPictures)
            for (const auto& photo : listing.photos) result.pictures.push_back(LibrarySource::asset(photo, 0));
        result.finished = std::chrono::system_clock::now();
        auto last = at(ScanProgress::Stage::finishing, result.discovered);
        last.examined = result.examined;
        last.skipped = static_cast<std::int64_t>(result.skipped.size());
        last.matched = result.matched();
        last.downloadedBytes = result.downloadedBytes;
        serial.report(last);
        return result;
    };
    if (cancel.isCancelled()) return finish();
    serial.report(at(ScanProgress::Stage::comparing, result.discovered));

    const auto candidates = candidatesOf(listing.photos);
    const auto total = static_cast<std::int64_t>(candidates.size());
    const auto firstPass = ExactMatcher::parallelMap(candidates, &cancel, [&](const PhotoLibraryItem& item) {
        std::optional<LibraryHash> hash = cache != nullptr ? cache->lookup(item) : std::nullopt;
        if (!hash) {
            hash = reader.hash(item.id, false, [&](std::int64_t) { return !cancel.isCancelled(); });
            if (cache != nullptr) cache->store(*hash, item);
        }
        serial.done(at(ScanProgress::Stage::comparing, total));
        return *hash;
    });
    if (cancel.isCancelled()) return finish();
    std::vector<LibraryHash> results;
    for (const auto& hash : firstPass) results.push_back(hash.value_or(LibraryHash::stopped()));

    if (download != nullptr) {
        const auto order = downloadOrder(candidates, results);
        const auto secondPass = ExactMatcher::parallelMap(order, &cancel, [&](std::size_t index) {
            if (download->isUsedUp()) return LibraryHash::stopped();
            const auto& item = candidates[index];
            auto hash = reader.hash(item.id, true, [&](std::int64_t bytes) {
                const bool within = download->take(bytes);
                auto report = at(ScanProgress::Stage::downloading, total);
                report.downloadedBytes = download->used();
                report.downloadLimit = download->limit();
                serial.report(report);
                return within && !cancel.isCancelled();
            });
            if (cache != nullptr) cache->store(hash, item);
            return hash;
        });
        for (std::size_t i = 0; i < order.size(); ++i)
            results[order[i]] = secondPass[i].value_or(LibraryHash::stopped());
    }

    sortInto(result, candidates, results, reader.notLocalDetail());
    return finish();
}

std::function<std::optional<ImageFeatures>(const PhotoAsset&)> featureReader(const PhotoLibraryReading& reader) {
    return [&reader](const PhotoAsset& asset) -> std::optional<ImageFeatures> {
        if (!asset.library) return std::nullopt;
        const auto preview = reader.preview(asset.library->id, FeatureExtractor::renditionSize);
        if (!preview) return std::nullopt;
        return FeatureExtractor::features(*preview, asset.pixelWidth.value_or(preview->width),
                                          asset.pixelHeight.value_or(preview->height), asset.snapshot.modified(),
                                          WithFeaturePrint::yes);
    };
}

std::function<std::optional<FaceReading>(const PhotoAsset&)> faceReader(const PhotoLibraryReading& reader) {
    return [&reader](const PhotoAsset& asset) -> std::optional<FaceReading> {
        if (!asset.library) return std::nullopt;
        const auto preview = reader.preview(asset.library->id, 1600);
        if (!preview) return std::nullopt;
        return FaceCheck::reading(*preview);
    };
}

} // namespace LibraryScanner
} // namespace vp
