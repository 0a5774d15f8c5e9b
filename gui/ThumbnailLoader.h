// Thumbnails for the results, taken from the desktop's shared thumbnail cache or decoded (and
// added to it) on worker threads, so that painting never waits for a picture. The newest requests go first (what is on screen now), requests that scrolled far out
// of view are dropped, and decoded thumbnails are kept in a memory-bounded cache.
#pragma once

#include "platform/image/SharedThumbnails.h"

#include <QCache>
#include <QImage>
#include <QObject>
#include <QThreadPool>

#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>

namespace vp::gui {

class ThumbnailLoader : public QObject {
    Q_OBJECT
public:
    /// Thumbnails fit in a square of `side` logical pixels on a screen of `pixelRatio` device
    /// pixels each; they are scaled to that on the worker, so painting one is a plain copy.
    /// `budgetBytes` bounds the memory cache.
    ThumbnailLoader(int side, double pixelRatio, std::int64_t budgetBytes = 128ll << 20, QObject* parent = nullptr);
    ~ThumbnailLoader() override;

    enum class State { ready, pending, failed };
    /// The thumbnail when it is ready; otherwise starts decoding it (once) and `ready` follows.
    State thumbnail(const std::string& path, QImage& image);
    /// Bytes of pixels held in the cache now.
    std::int64_t memoryInUse() const;
    /// Waits until every queued thumbnail is decoded and delivered (tests and benchmarks).
    void waitForIdle();
    /// Where pictures that are no files come from (a photo library's previews); it answers
    /// none for the paths it does not know, which are then read as files.
    using PreviewSource = std::function<std::optional<Bitmap>(const std::string& path, int longestSide)>;
    void setPreviewSource(PreviewSource source);

Q_SIGNALS:
    void ready(const QByteArray& path);

private:
    void startWorkers();
    void deliver(const QByteArray& path, const QImage& image);

    const int m_side;
    const double m_pixelRatio;
    const SharedThumbnails m_shared;
    QCache<QByteArray, QImage> m_cache;
    std::set<QByteArray> m_failed;
    std::set<QByteArray> m_requested; // queued or decoding
    std::mutex m_mutex;               // guards m_queue and m_stopping
    std::deque<QByteArray> m_queue;   // newest at the back
    bool m_stopping = false;
    PreviewSource m_previews;         // guarded by m_mutex
    QThreadPool m_pool;
};

/// A picture decoded at most `longestSide` pixels long; a null image when it could not be.
QImage decodeThumbnail(const std::string& path, int longestSide);
/// 8-bit pixels as an image of their own.
QImage imageOf(const Bitmap& pixels);

} // namespace vp::gui
