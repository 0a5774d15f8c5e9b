#include "MediaScanner.h"

#include "engine/common/Text.h"
#include "engine/scan/ExactMatcher.h"
#include "engine/scan/FolderSource.h"
#include "engine/scan/ParallelMap.h"
#include "platform/media/Movies.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

namespace vp::MediaScanner {

namespace {

const std::set<std::string, std::less<>> stillExtensions{"heic", "heif", "jpg", "jpeg", "png"};

struct Candidate {
    FolderSource::Found file;
    std::optional<std::string> stillBeside;
};

/// What examining one movie gave: a video record, a Live Photo, or a skipped file.
struct Examined {
    std::optional<VideoItem> video;
    std::optional<LivePhotoPair> pair;
    std::optional<SkippedFile> skipped;
};

/// The stills of each folder by lower-cased base name: a Live Photo's halves may differ in case
/// ("IMG_1.HEIC" beside "IMG_1.mov").
std::map<std::string, std::map<std::string, std::string>> stillsByFolder(const std::vector<FolderSource::Found>& pictures) {
    std::map<std::string, std::map<std::string, std::string>> stills;
    for (const auto& picture : pictures) {
        const std::string name = lastPathComponent(picture.path);
        if (!stillExtensions.contains(lowercased(pathExtension(name)))) continue;
        stills[deletingLastPathComponent(picture.path)].emplace(lowercased(deletingPathExtension(name)), picture.path);
    }
    return stills;
}

Examined examine(const Candidate& candidate, bool estimate, const CancellationFlag& cancel) {
    const std::string& path = candidate.file.path;
    const Volume where = volume(path);
    const auto facts = Movies::read(path);
    if (!facts) return {std::nullopt, std::nullopt, SkippedFile{path, SkipReason::corrupt, std::string(notReadable)}};

    if (candidate.stillBeside && facts->contentIdentifier && facts->duration <= longestLiveMovie) {
        const auto still = FileSnapshot::read(*candidate.stillBeside);
        if (still && still->isRegularFile && !still->isDataless())
            return {std::nullopt,
                    LivePhotoPair{candidate.file.root, *candidate.stillBeside, *still, path, candidate.file.snapshot,
                                  where.isCloudSynced, where.name, where.isExternal, std::nullopt},
                    std::nullopt};
    }

    VideoItem video{path, candidate.file.root, candidate.file.snapshot, facts->duration, facts->width, facts->height,
                    facts->frameRate, facts->codec, std::nullopt, std::nullopt, where.isCloudSynced, where.name,
                    where.isExternal, std::nullopt};
    if (candidate.stillBeside) {
        video.leftAlone = std::string(sharesName);
    } else if (isSmallHevc(video.codec, video.width, video.height)) {
        video.leftAlone = std::string(alreadySmall);
    } else if (estimate) {
        const auto size = Movies::estimateHevcSize(path, Movies::containerFor(path), [&] { return cancel.isCancelled(); });
        if (!size) {
            // A scan stopped mid-estimate says nothing about the video.
            if (!cancel.isCancelled()) video.leftAlone = std::string(cannotPlan);
        } else {
            video.estimatedSize = *size;
            video.leftAlone = leftAloneForEstimate(video.snapshot.size, *size);
        }
    }
    return {std::move(video), std::nullopt, std::nullopt};
}

} // namespace

Volume volume(const std::string& path) {
    const auto info = ExactMatcher::VolumeInfo::of(path);
    const bool cloud = ExactMatcher::isCloudSynced(deletingLastPathComponent(path)) ||
                       path.find("/Library/Mobile Documents/") != std::string::npos ||
                       path.find("/Library/CloudStorage/") != std::string::npos;
    return {cloud, info.name, info.isExternal};
}

std::optional<std::string> leftAloneForEstimate(std::int64_t fileSize, std::int64_t estimate) {
    // In whole numbers (85% is 17/20), so an estimate of exactly 85% is a candidate and one byte
    // more is not. Sizes stay far below the 2^63 / 20 where this would overflow.
    if (estimate * 20 > fileSize * 17) return std::string(tooLittle);
    return std::nullopt;
}

bool isSmallHevc(std::string_view codec, std::int64_t width, std::int64_t height) {
    return (codec == "hvc1" || codec == "hev1") && std::max(width, height) <= 1920 && std::min(width, height) <= 1080;
}

MediaScan scan(const std::vector<std::string>& roots, bool estimate, const CancellationFlag& cancel,
               const Progress& progress) {
    MediaScan result;
    const PreparedRoots prepared = FolderSource::prepare(roots);
    result.roots = prepared.roots;
    result.excluded = prepared.refused;
    FolderSource::Walk walk = FolderSource::walk(prepared.roots, std::nullopt, {}, cancel, {});
    result.excluded.insert(result.excluded.end(), walk.excluded.begin(), walk.excluded.end());

    const auto stills = stillsByFolder(walk.found);
    std::vector<Candidate> candidates;
    for (auto& movie : walk.movies) {
        Candidate candidate{std::move(movie), std::nullopt};
        if (const auto folder = stills.find(deletingLastPathComponent(candidate.file.path)); folder != stills.end()) {
            const std::string stem = lowercased(deletingPathExtension(lastPathComponent(candidate.file.path)));
            if (const auto still = folder->second.find(stem); still != folder->second.end()) candidate.stillBeside = still->second;
        }
        candidates.push_back(std::move(candidate));
    }

    std::mutex counting;
    std::int64_t done = 0;
    const auto total = static_cast<std::int64_t>(candidates.size());
    const auto examined = ExactMatcher::parallelMap(candidates, &cancel, [&](const Candidate& candidate) {
        Examined outcome = examine(candidate, estimate, cancel);
        std::int64_t now = 0;
        {
            std::lock_guard lock(counting);
            now = ++done;
        }
        if (progress) progress(now, total);
        return outcome;
    });
    for (const auto& outcome : examined) {
        if (!outcome) continue;
        if (outcome->video) result.videos.push_back(*outcome->video);
        if (outcome->pair) result.livePairs.push_back(*outcome->pair);
        if (outcome->skipped) result.skipped.push_back(*outcome->skipped);
    }
    std::stable_sort(result.videos.begin(), result.videos.end(), [](const VideoItem& a, const VideoItem& b) {
        if (a.estimatedSavings() != b.estimatedSavings()) return a.estimatedSavings() > b.estimatedSavings();
        return a.snapshot.size > b.snapshot.size;
    });
    std::sort(result.livePairs.begin(), result.livePairs.end(),
              [](const LivePhotoPair& a, const LivePhotoPair& b) { return a.still < b.still; });
    result.cancelled = walk.cancelled || cancel.isCancelled();
    return result;
}

} // namespace vp::MediaScanner
