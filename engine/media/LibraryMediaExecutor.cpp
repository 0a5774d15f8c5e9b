#include "LibraryMediaExecutor.h"

#include "engine/common/Text.h"
#include "engine/library/LibrarySource.h"
#include "engine/library/ReviewAlbum.h"
#include "platform/media/Movies.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace vp {

namespace {

Timestamp now() { return std::chrono::system_clock::now(); }

/// What waits for the one library change: the item's place in the report and its replacement.
struct Pending {
    std::size_t index = 0;
    LibraryReplacement replacement;
    std::int64_t newSize = 0;
    std::string copy; ///< the exported movie, for a video
};

/// "Now on a drive that is not connected."
std::string nowNotLocal(const PhotoLibraryReading& library) { return "Now " + library.notLocalDetail() + "."; }

bool unchanged(const std::string& path, const FileSnapshot& snapshot, const PhotoLibraryReading& library) {
    const auto id = LibrarySource::id(path);
    return id && ReviewAlbum::unchanged(*id, snapshot, library);
}

/// An exported copy the library did not take is ours alone, never the person's: it goes.
void removeCopy(const std::string& copy) {
    if (!copy.empty()) ::unlink(copy.c_str());
}

/// Hands every pending replacement to the library in one change and settles their outcomes.
void change(PhotoLibraryReplacing& replacer, const std::vector<Pending>& pending, std::vector<CompressionItem>& items) {
    if (pending.empty()) return;
    std::vector<LibraryReplacement> replacements;
    for (const auto& item : pending) replacements.push_back(item.replacement);
    std::vector<std::string> replaced;
    try {
        replaced = replacer.replace(replacements);
    } catch (const LibraryWriteError& error) {
        const std::string reason = error.wasDeclined() ? std::string(LibraryMediaExecutor::declined)
                                                       : std::string(LibraryMediaExecutor::changePrefix) + error.description();
        for (const auto& item : pending) {
            items[item.index].outcome = CompressionOutcome::failed(reason);
            removeCopy(item.copy);
        }
        return;
    }
    for (const auto& item : pending) {
        const std::string& id = item.replacement.originalID;
        if (std::find(replaced.begin(), replaced.end(), id) != replaced.end()) {
            // The original is in the library's own keeping now, not at a place of ours.
            items[item.index].outcome = CompressionOutcome::compressed(item.newSize, {});
        } else {
            items[item.index].outcome = CompressionOutcome::failed(std::string(LibraryMediaExecutor::notReplaced));
            removeCopy(item.copy);
        }
    }
}

/// Every item starts as not reached, so one that ends without an outcome says so.
CompressionOutcome unreached() { return CompressionOutcome::skipped(std::string(LibraryMediaExecutor::notReached)); }

} // namespace

std::int64_t LibraryLivePlan::movieBytes() const {
    std::int64_t bytes = 0;
    for (const auto& pair : pairs) bytes += pair.movieSize();
    return bytes;
}

Result<CompressionReport, CompressionRefusal> LibraryMediaExecutor::compress(const CompressionPlan& plan,
                                                                             const CompressionApproval& approval,
                                                                             const PhotoLibraryMedia& reader,
                                                                             PhotoLibraryReplacing& replacer,
                                                                             const CancellationFlag& cancel,
                                                                             const VideoCompressor::Progress& progress) const {
    if (approval.planID != plan.id) return Unexpected{CompressionRefusal{CompressionRefusal::Kind::approvalDoesNotMatch, {}}};
    const Timestamp started = now();
    std::error_code ignored;
    std::filesystem::create_directories(temporary, ignored); // a failure shows as each export's own

    std::vector<CompressionItem> items;
    for (const auto& video : plan.videos) items.push_back({video.path, video.snapshot.size, unreached(), {}});
    std::vector<Pending> pending;
    CompressionProgress where{0, static_cast<std::int64_t>(plan.videos.size()), 0, 0, plan.totalBytes()};
    const auto report = [&] {
        if (progress) progress(where);
    };

    for (std::size_t i = 0; i < plan.videos.size(); ++i) {
        const VideoItem& video = plan.videos[i];
        const auto settle = [&](CompressionOutcome outcome) { items[i].outcome = std::move(outcome); };
        const auto id = LibrarySource::id(video.path);
        std::optional<std::string> file;
        if (cancel.isCancelled()) {
            settle(CompressionOutcome::skipped(std::string(stoppedBefore)));
        } else if (!unchanged(video.path, video.snapshot, reader)) {
            settle(CompressionOutcome::skipped(std::string(ReviewAlbum::changedText)));
        } else if (!(file = reader.localVideoURL(*id))) {
            settle(CompressionOutcome::skipped(nowNotLocal(reader)));
        } else {
            // The copy keeps the kind of container its original's name promises.
            const std::string extension = pathExtension(*file);
            const std::string copy =
                temporary + "/" + Uuid::random().text() + (extension.empty() ? ".mov" : "." + lowercased(extension));
            auto sentence = Movies::exportHevc(*file, copy, Movies::containerFor(*file), [&] { return cancel.isCancelled(); },
                                               [&](double share) {
                                                   where.current = share;
                                                   report();
                                               });
            if (cancel.isCancelled()) {
                removeCopy(copy);
                settle(CompressionOutcome::skipped(std::string(stoppedDuring)));
            } else if (sentence) {
                removeCopy(copy);
                settle(CompressionOutcome::failed(*sentence));
            } else if (auto problem = VideoCompressor::verify(copy, *file, video.snapshot.size)) {
                removeCopy(copy);
                settle(CompressionOutcome::failed(*problem));
            } else {
                const auto made = FileSnapshot::read(copy);
                pending.push_back({i, {*id, video.name(), LibraryReplacement::Video{copy}}, made ? made->size : 0, copy});
            }
        }
        ++where.done;
        where.current = 0;
        where.bytesDone += video.snapshot.size;
        report();
    }
    change(replacer, pending, items);
    return CompressionReport{plan.id, started, std::move(items), {}};
}

Result<CompressionReport, CompressionRefusal> LibraryMediaExecutor::keepStills(const std::vector<LivePhotoPair>& pairs,
                                                                               const Uuid& planID,
                                                                               const CompressionApproval& approval,
                                                                               const PhotoLibraryMedia& reader,
                                                                               PhotoLibraryReplacing& replacer) const {
    if (approval.planID != planID) return Unexpected{CompressionRefusal{CompressionRefusal::Kind::approvalDoesNotMatch, {}}};
    const Timestamp started = now();
    std::vector<CompressionItem> items;
    std::vector<Pending> pending;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const LivePhotoPair& pair = pairs[i];
        items.push_back({pair.still, pair.movieSize(), unreached(), {}});
        const auto id = LibrarySource::id(pair.still);
        if (!unchanged(pair.still, pair.stillSnapshot, reader)) {
            items[i].outcome = CompressionOutcome::skipped(std::string(ReviewAlbum::changedText));
            continue;
        }
        auto still = reader.stillData(*id);
        if (!still) {
            items[i].outcome = CompressionOutcome::skipped(nowNotLocal(reader));
            continue;
        }
        const auto stillSize = static_cast<std::int64_t>(still->data.size());
        items[i].originalSize = stillSize + pair.movieSize();
        pending.push_back({i, {*id, pair.name(), LibraryReplacement::Still{std::move(still->data), still->uti}}, stillSize, {}});
    }
    change(replacer, pending, items);
    return CompressionReport{planID, started, std::move(items), {}};
}

} // namespace vp
