// The model's media flows inside the photo library: its videos and Live Photos are scanned
// through the library, and compressed or reduced to their stills through one library change
// each run, never by touching the library's files from here.
#include "PhotoCleanupModel.h"

#include "engine/media/LibraryMediaScanner.h"

#include <chrono>
#include <filesystem>

namespace vp {

std::string PhotoCleanupModel::libraryVideoFolder() {
    std::error_code error;
    const auto temporary = std::filesystem::temp_directory_path(error);
    return (error ? std::string("/tmp") : temporary.string()) + "/PristelPhoto-videos";
}

std::function<MediaScan(const CancellationFlag&, const MediaScanner::Progress&)> PhotoCleanupModel::libraryMediaScan() const {
    // The library is kept by the task, so choosing another one meanwhile cannot pull it away.
    const std::shared_ptr<PhotoLibraryMedia> library = m_library.reader;
    return [library](const CancellationFlag& cancel, const MediaScanner::Progress& progress) {
        return LibraryMediaScanner::scan(*library, true, cancel, progress);
    };
}

void PhotoCleanupModel::compressInLibrary(const CompressionPlan& plan) {
    const std::shared_ptr<PhotoLibraryMedia> reader = m_library.reader;
    const auto replacer = std::dynamic_pointer_cast<PhotoLibraryReplacing>(reader);
    if (!reader || !replacer) {
        setNotice("This photo library cannot take replacements.");
        changed();
        return;
    }
    const auto flag = std::make_shared<CancellationFlag>();
    m_media.compressCancel = flag;
    m_media.compressing = CompressionProgress{0, static_cast<std::int64_t>(plan.videos.size()), 0, 0, plan.totalBytes()};
    std::weak_ptr<int> alive = m_alive;
    const LibraryMediaExecutor executor(libraryVideoFolder());
    runInBackground([this, alive, flag, executor, plan, reader, replacer] {
        auto outcome = executor.compress(plan, {plan.id}, *reader, *replacer, *flag, [&](const CompressionProgress& progress) {
            m_mainQueue.post([this, alive, progress] {
                if (alive.expired() || !m_media.compressing) return;
                m_media.compressing = progress;
                changed();
            });
        });
        m_mainQueue.post([this, alive, outcome = std::move(outcome)]() mutable {
            if (alive.expired()) return;
            m_media.compressing.reset();
            if (outcome) m_media.compressionReport = std::move(*outcome);
            else setNotice(outcome.error().description());
            changed();
            scanMedia();
        });
    });
    changed();
}

void PhotoCleanupModel::confirmLibraryStills(const LibraryLivePlan& approved) {
    if (m_media.compressing) return;
    const LibraryLivePlan plan = approved; // the view may pass the pending plan itself, reset here
    m_libraryMedia.pendingLive.reset();
    const std::shared_ptr<PhotoLibraryMedia> reader = m_library.reader;
    const auto replacer = std::dynamic_pointer_cast<PhotoLibraryReplacing>(reader);
    if (!reader || !replacer) {
        setNotice("This photo library cannot take replacements.");
        changed();
        return;
    }
    // Stills are read and handed over at once; only the library change takes time.
    m_media.compressing = CompressionProgress{0, static_cast<std::int64_t>(plan.pairs.size()), 0, 0, plan.movieBytes()};
    std::weak_ptr<int> alive = m_alive;
    const LibraryMediaExecutor executor(libraryVideoFolder());
    runInBackground([this, alive, executor, plan, reader, replacer] {
        auto outcome = executor.keepStills(plan.pairs, plan.id, {plan.id}, *reader, *replacer);
        m_mainQueue.post([this, alive, outcome = std::move(outcome)]() mutable {
            if (alive.expired()) return;
            m_media.compressing.reset();
            if (outcome) m_libraryMedia.liveReport = std::move(*outcome);
            else setNotice(outcome.error().description());
            changed();
            scanMedia();
        });
    });
    changed();
}

} // namespace vp
