// The model's media flows: scanning the chosen folders for big videos and Live Photos, the
// ticked ones as plans awaiting approval, compressing in the background with progress and a
// prompt stop, keeping only the stills of Live Photos, and putting originals back.
#include "PhotoCleanupModel.h"

#include "engine/media/LivePhotoPlanner.h"
#include "engine/media/MediaScanner.h"

#include <chrono>
#include <utility>

namespace vp {

VideoCompressor PhotoCleanupModel::videoCompressor() const { return VideoCompressor(m_folders.data, m_trasher); }

void PhotoCleanupModel::recoverInterruptedCompressions() {
    const VideoCompressor compressor = videoCompressor();
    m_media.recovered = compressor.recoverInterrupted();
    m_media.history = compressor.history();
}

bool PhotoCleanupModel::canScanMedia() const {
    if (m_media.scanning || m_media.compressing) return false;
    if (m_scope == Scope::photosLibrary) return canScanLibrary();
    return m_scope == Scope::folders && !m_sources.empty();
}

void PhotoCleanupModel::scanMedia() {
    // A running scan may have listed a folder before a put-back changed it: the new one replaces
    // it, and whatever the old one still sends is dropped (its flag is no longer the current one).
    const bool wasScanning = std::exchange(m_media.scanning, false);
    if (!canScanMedia()) {
        m_media.scanning = wasScanning;
        return;
    }
    if (m_media.scanCancel) m_media.scanCancel->cancel();
    const auto flag = std::make_shared<CancellationFlag>();
    m_media.scanCancel = flag;
    m_media.scanning = true;
    m_media.progress = {0, 0};
    std::vector<std::string> roots;
    for (const auto& source : m_sources) roots.push_back(source.path);
    auto scanner = m_scope == Scope::photosLibrary
                       ? libraryMediaScan()
                       : [roots](const CancellationFlag& cancel, const MediaScanner::Progress& progress) {
                             return MediaScanner::scan(roots, true, cancel, progress);
                         };
    std::weak_ptr<int> alive = m_alive;
    runInBackground([this, alive, flag, scanner] {
        MediaScan scan = scanner(*flag, [&](std::int64_t done, std::int64_t total) {
            m_mainQueue.post([this, alive, done, total] {
                if (alive.expired()) return;
                m_media.progress = {std::max(m_media.progress.first, done), total};
                changed();
            });
        });
        m_mainQueue.post([this, alive, flag, scan = std::move(scan)]() mutable {
            if (alive.expired() || flag != m_media.scanCancel) return; // a newer scan replaced this one
            m_media.scanning = false;
            if (scan.cancelled) {
                changed();
                return;
            }
            // Everything starts ticked: the plan shown before anything happens is the real choice.
            m_media.selectedVideos.clear();
            m_media.selectedLive.clear();
            for (const auto& video : scan.candidates()) m_media.selectedVideos.insert(video.path);
            for (const auto& pair : scan.livePairs) m_media.selectedLive.insert(pair.movie);
            m_media.scan = std::move(scan);
            changed();
        });
    });
    changed();
}

void PhotoCleanupModel::cancelMediaScan() {
    if (m_media.scanCancel) m_media.scanCancel->cancel();
}

void PhotoCleanupModel::setVideoSelected(const std::string& path, bool selected) {
    if (selected) m_media.selectedVideos.insert(path);
    else m_media.selectedVideos.erase(path);
    changed();
}

void PhotoCleanupModel::setLiveSelected(const std::string& movie, bool selected) {
    if (selected) m_media.selectedLive.insert(movie);
    else m_media.selectedLive.erase(movie);
    changed();
}

void PhotoCleanupModel::reviewCompression() {
    std::vector<VideoItem> ticked;
    if (m_media.scan)
        for (const auto& video : m_media.scan->candidates())
            if (m_media.selectedVideos.contains(video.path)) ticked.push_back(video);
    if (ticked.empty()) {
        m_media.pendingCompression.reset();
        setNotice("Tick the videos to compress first.");
    } else {
        m_media.pendingCompression = CompressionPlan(ticked, m_media.scan->roots, std::chrono::system_clock::now());
        setNotice(std::nullopt);
    }
    changed();
}

void PhotoCleanupModel::confirmCompression(const CompressionPlan& approved) {
    if (m_media.compressing) return;
    const CompressionPlan plan = approved; // the view may pass the pending plan itself, reset here
    m_media.pendingCompression.reset();
    if (!plan.videos.empty() && plan.videos.front().isInLibrary()) {
        compressInLibrary(plan);
        return;
    }
    const auto flag = std::make_shared<CancellationFlag>();
    m_media.compressCancel = flag;
    m_media.compressing = CompressionProgress{0, static_cast<std::int64_t>(plan.videos.size()), 0, 0, plan.totalBytes()};
    std::weak_ptr<int> alive = m_alive;
    const VideoCompressor compressor = videoCompressor();
    runInBackground([this, alive, flag, compressor, plan] {
        auto outcome = compressor.compress(plan, {plan.id}, *flag, [&](const CompressionProgress& progress) {
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
            m_media.history = videoCompressor().history();
            changed();
            scanMedia();
        });
    });
    changed();
}

void PhotoCleanupModel::stopCompression() {
    if (m_media.compressCancel) m_media.compressCancel->cancel();
}

void PhotoCleanupModel::reviewLiveStills() {
    std::vector<LivePhotoPair> ticked, tickedInLibrary;
    if (m_media.scan)
        for (const auto& pair : m_media.scan->livePairs)
            if (m_media.selectedLive.contains(pair.movie)) (pair.isInLibrary() ? tickedInLibrary : ticked).push_back(pair);
    m_media.pendingLive.reset();
    m_libraryMedia.pendingLive.reset();
    if (ticked.empty() && tickedInLibrary.empty()) {
        setNotice("Tick the Live Photos first.");
        changed();
        return;
    }
    // Folder pairs lose their movie to the Trash; library pairs are replaced by the library.
    if (!ticked.empty())
        m_media.pendingLive = LivePhotoPlanner::plan(ticked, m_media.scan->roots, std::chrono::system_clock::now());
    if (!tickedInLibrary.empty()) m_libraryMedia.pendingLive = LibraryLivePlan{Uuid::random(), std::move(tickedInLibrary)};
    setNotice(std::nullopt);
    changed();
}

void PhotoCleanupModel::confirmLiveStills(const CleanupPlan& approved) {
    if (m_media.compressing) return;
    const CleanupPlan plan = approved; // the view may pass the pending plan itself, reset here
    m_media.pendingLive.reset();
    const auto flag = std::make_shared<CancellationFlag>();
    m_media.compressCancel = flag;
    const CleanupApproval approval = plan.approve(std::chrono::system_clock::now());
    const CleanupExecutor executor(m_folders.cleanups(), m_trasher);
    std::weak_ptr<int> alive = m_alive;
    runInBackground([this, alive, flag, executor, plan, approval] {
        auto outcome = executor.execute(plan, approval, *flag);
        m_mainQueue.post([this, alive, outcome = std::move(outcome)]() mutable {
            if (alive.expired()) return;
            if (outcome) m_media.liveReport = std::move(*outcome);
            else setNotice(outcome.error().description());
            reloadHistory();
            scanMedia();
        });
    });
    changed();
}

std::optional<std::string> PhotoCleanupModel::useOriginal(const std::string& path, const CompressionItem& item,
                                                          const CompressionReport& report) {
    (void)path; // the item names its own path; kept for the views that call with the row's path
    auto sentence = videoCompressor().restoreOriginal(item, report);
    if (sentence) setNotice(*sentence);
    m_media.history = videoCompressor().history();
    changed();
    // Both lists may name the file that came back: a photo's HEIC copy, or a video.
    scanMedia();
    if (item.replacedBy && (m_images.scan || m_images.scanning)) scanImages();
    return sentence;
}

} // namespace vp
