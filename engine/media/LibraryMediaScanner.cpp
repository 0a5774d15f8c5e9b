#include "LibraryMediaScanner.h"

#include "engine/library/LibrarySource.h"
#include "engine/scan/ParallelMap.h"
#include "platform/media/Movies.h"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace vp::LibraryMediaScanner {

namespace {

VideoItem examine(const PhotoLibraryMedia& library, const LibraryVideoInfo& info, bool estimate,
                  const CancellationFlag& cancel) {
    VideoItem video;
    video.path = LibrarySource::path(info.id);
    video.root = std::string(LibrarySource::root);
    video.libraryFilename = info.filename;
    video.snapshot = LibrarySource::snapshot(info.id, info.created, info.modified, 0);

    const auto file = library.localVideoURL(info.id);
    const auto local = file ? FileSnapshot::read(*file) : std::nullopt;
    if (!local) {
        video.leftAlone = notLocalReason(library);
        return video;
    }
    video.snapshot.size = local->size;
    const MediaScanner::Volume where = MediaScanner::volume(*file);
    video.volumeName = where.name;
    video.isExternalVolume = where.isExternal;

    const auto facts = Movies::read(*file);
    if (facts) {
        video.duration = facts->duration;
        video.width = facts->width;
        video.height = facts->height;
        video.frameRate = facts->frameRate;
        video.codec = facts->codec;
    }
    if (info.isFavorite) {
        video.leftAlone = std::string(favourite);
    } else if (!facts) {
        video.leftAlone = std::string(MediaScanner::notReadable);
    } else if (MediaScanner::isSmallHevc(video.codec, video.width, video.height)) {
        video.leftAlone = std::string(MediaScanner::alreadySmall);
    } else if (estimate) {
        const auto size = Movies::estimateHevcSize(*file, Movies::containerFor(*file), [&] { return cancel.isCancelled(); });
        if (!size) {
            // A scan stopped mid-estimate says nothing about the video.
            if (!cancel.isCancelled()) video.leftAlone = std::string(MediaScanner::cannotPlan);
        } else {
            video.estimatedSize = *size;
            video.leftAlone = MediaScanner::leftAloneForEstimate(video.snapshot.size, *size);
        }
    }
    return video;
}

void scanLivePhotos(const PhotoLibraryMedia& library, const CancellationFlag& cancel, MediaScan& result) {
    for (const auto& photo : library.items(cancel).photos) {
        if (cancel.isCancelled()) return;
        if (!photo.isLivePhoto) continue;
        const std::string path = LibrarySource::path(photo.id);
        const auto keep = [&](SkipReason reason, std::string_view why) {
            result.skipped.push_back({path, reason, photo.filename + std::string(why)});
        };
        if (photo.isFavorite) {
            keep(SkipReason::unsupportedFormat, favouriteLive);
            continue;
        }
        if (photo.isEdited) {
            keep(SkipReason::unsupportedFormat, editedLive);
            continue;
        }
        if (photo.hasRAWPair) {
            keep(SkipReason::unsupportedFormat, rawLive);
            continue;
        }
        const auto movieSize = library.pairedMovieSize(photo.id);
        if (!movieSize) {
            keep(SkipReason::cloudPlaceholder, ": " + library.notLocalDetail());
            continue;
        }
        LivePhotoPair pair;
        pair.root = std::string(LibrarySource::root);
        pair.still = path;
        pair.stillSnapshot = LibrarySource::snapshot(photo.id, photo.created, photo.modified, 0);
        pair.movie = path;
        pair.movieSnapshot = pair.stillSnapshot;
        pair.movieSnapshot.size = *movieSize;
        pair.libraryFilename = photo.filename;
        result.livePairs.push_back(std::move(pair));
    }
}

} // namespace

std::string notLocalReason(const PhotoLibraryReading& library) {
    std::string reason = library.notLocalDetail();
    if (!reason.empty()) reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
    return reason;
}

MediaScan scan(const PhotoLibraryMedia& library, bool estimate, const CancellationFlag& cancel,
               const MediaScanner::Progress& progress) {
    MediaScan result;
    result.roots = {std::string(LibrarySource::root)};
    const auto videos = library.videos(cancel);

    std::mutex counting;
    std::int64_t done = 0;
    const auto total = static_cast<std::int64_t>(videos.size());
    const auto examined = ExactMatcher::parallelMap(videos, &cancel, [&](const LibraryVideoInfo& info) {
        VideoItem video = examine(library, info, estimate, cancel);
        std::int64_t now = 0;
        {
            std::lock_guard lock(counting);
            now = ++done;
        }
        if (progress) progress(now, total);
        return video;
    });
    for (const auto& video : examined)
        if (video) result.videos.push_back(*video);
    std::stable_sort(result.videos.begin(), result.videos.end(), [](const VideoItem& a, const VideoItem& b) {
        if (a.estimatedSavings() != b.estimatedSavings()) return a.estimatedSavings() > b.estimatedSavings();
        return a.snapshot.size > b.snapshot.size;
    });

    scanLivePhotos(library, cancel, result);
    result.cancelled = cancel.isCancelled();
    return result;
}

} // namespace vp::LibraryMediaScanner
