// The model's photo flows: listing the chosen folders' JPEG and TIFF photos, measuring what
// HEIC copies would save, the ticked ones as a plan awaiting approval, and converting them in
// the background through the compressor's journaled replacement, which puts originals back too.
#include "PhotoCleanupModel.h"

#include "engine/scan/ExactMatcher.h"
#include "engine/scan/FolderSource.h"

#include <chrono>

namespace vp {

bool PhotoCleanupModel::canScanImages() const {
    return m_scope == Scope::folders && !m_sources.empty() && !m_media.compressing;
}

void PhotoCleanupModel::scanImages() {
    if (!canScanImages()) return;
    // A running scan may have listed a folder before a put-back changed it: the new one replaces it.
    if (m_images.scanCancel) m_images.scanCancel->cancel();
    const auto flag = std::make_shared<CancellationFlag>();
    m_images.scanCancel = flag;
    m_images.scanning = true;
    m_images.progress = {};
    std::vector<std::string> chosen;
    for (const auto& source : m_sources) chosen.push_back(source.path);
    std::weak_ptr<int> alive = m_alive;
    runInBackground([this, alive, flag, chosen] {
        const auto post = [&](ImageScanProgress progress) {
            m_mainQueue.post([this, alive, flag, progress] {
                if (alive.expired() || flag != m_images.scanCancel) return;
                m_images.progress = progress;
                changed();
            });
        };
        // Prepared first, so the plan's roots are the folders the replacement checks paths against.
        const std::vector<std::string> roots = FolderSource::prepare(chosen).roots;
        const ScanResult pictures = ExactMatcher::scan(roots, true, std::nullopt, {}, *flag, [&](const ScanProgress& progress) {
            post({false, progress.discovered, 0, 0});
        });
        std::optional<ImageScan> scan;
        if (!pictures.cancelled && !flag->isCancelled()) {
            const auto found = static_cast<std::int64_t>(pictures.pictures.size());
            scan = ImageScanner::scan(pictures.pictures, roots, *flag, [&](std::int64_t done, std::int64_t total) {
                post({true, found, done, total});
            });
        }
        m_mainQueue.post([this, alive, flag, scan = std::move(scan)]() mutable {
            if (alive.expired() || flag != m_images.scanCancel) return; // a newer scan replaced this one
            m_images.scanning = false;
            if (!scan || flag->isCancelled()) { // nothing partial is shown
                changed();
                return;
            }
            // Everything worth it starts ticked: the plan shown before anything happens is the real choice.
            m_images.selected.clear();
            for (const auto& image : scan->candidates()) m_images.selected.insert(image.path);
            m_images.scan = std::move(*scan);
            changed();
        });
    });
    changed();
}

void PhotoCleanupModel::cancelImageScan() {
    if (!m_images.scanning || !m_images.scanCancel) return;
    m_images.scanCancel->cancel();
    m_images.scanCancel.reset(); // whatever the abandoned scan still posts is dropped
    m_images.scanning = false;
    m_images.progress = {};
    changed();
}

void PhotoCleanupModel::setImageSelected(const std::string& path, bool selected) {
    if (selected) m_images.selected.insert(path);
    else m_images.selected.erase(path);
    changed();
}

void PhotoCleanupModel::reviewImageCompression() {
    std::vector<ImageItem> ticked;
    if (m_images.scan)
        for (const auto& image : m_images.scan->candidates())
            if (m_images.selected.contains(image.path)) ticked.push_back(image);
    if (ticked.empty()) {
        m_images.pending.reset();
        setNotice("Tick the photos to compress first.");
    } else {
        m_images.pending = ImageCompressionPlan(ticked, m_images.scan->roots, std::chrono::system_clock::now());
        setNotice(std::nullopt);
    }
    changed();
}

void PhotoCleanupModel::confirmImageCompression(ImageCompressionPlan plan) {
    if (m_media.compressing) return;
    m_images.pending.reset();
    // The videos' flag and progress serve photos too: one compression runs at a time, and Stop stops it.
    const auto flag = std::make_shared<CancellationFlag>();
    m_media.compressCancel = flag;
    m_media.compressing = CompressionProgress{0, static_cast<std::int64_t>(plan.images.size()), 0, 0, plan.totalBytes()};
    std::weak_ptr<int> alive = m_alive;
    const VideoCompressor compressor = videoCompressor();
    runInBackground([this, alive, flag, compressor, plan = std::move(plan)] {
        auto outcome = compressor.compressImages(plan, {plan.id}, *flag, [&](const CompressionProgress& progress) {
            m_mainQueue.post([this, alive, progress] {
                if (alive.expired() || !m_media.compressing) return;
                m_media.compressing = progress;
                changed();
            });
        });
        m_mainQueue.post([this, alive, outcome = std::move(outcome)]() mutable {
            if (alive.expired()) return;
            m_media.compressing.reset();
            if (outcome) m_images.report = std::move(*outcome);
            else setNotice(outcome.error().description());
            m_media.history = videoCompressor().history();
            changed();
            scanImages();
        });
    });
    changed();
}

} // namespace vp
