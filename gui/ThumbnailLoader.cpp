#include "ThumbnailLoader.h"

#include "platform/image/Images.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cmath>
#include <sys/resource.h>
#include <unistd.h>

namespace vp::gui {

namespace {

// Past this many waiting requests the oldest are dropped: they scrolled out of view long ago,
// and painting asks again for whatever comes back into view.
constexpr std::size_t longestQueue = 256;

} // namespace

QImage imageOf(const Bitmap& pixels) {
    const auto format = pixels.channels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    QImage image(pixels.width, pixels.height, format);
    const std::size_t rowBytes = static_cast<std::size_t>(pixels.width) * static_cast<std::size_t>(pixels.channels);
    for (int y = 0; y < pixels.height; ++y)
        std::copy_n(pixels.pixels.data() + static_cast<std::size_t>(y) * rowBytes, rowBytes, image.scanLine(y));
    return image;
}

QImage decodeThumbnail(const std::string& path, int longestSide) {
    const auto bitmap = Images::thumbnail(path, longestSide);
    return bitmap ? imageOf(bitmap.value()) : QImage();
}

ThumbnailLoader::ThumbnailLoader(int side, double pixelRatio, std::int64_t budgetBytes, QObject* parent)
    : QObject(parent), m_side(side), m_pixelRatio(pixelRatio), m_cache(static_cast<qsizetype>(budgetBytes / 1024)) {
    m_pool.setMaxThreadCount(2);
}

ThumbnailLoader::~ThumbnailLoader() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_pool.waitForDone();
}

ThumbnailLoader::State ThumbnailLoader::thumbnail(const std::string& path, QImage& image) {
    const QByteArray key = QByteArray::fromStdString(path);
    if (const QImage* cached = m_cache.object(key)) {
        image = *cached;
        return State::ready;
    }
    if (m_failed.contains(key)) return State::failed;
    if (m_requested.insert(key).second) {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(key);
        while (m_queue.size() > longestQueue) {
            m_requested.erase(m_queue.front());
            m_queue.pop_front();
        }
    } else {
        // Asked again while waiting: it is on screen now, so it moves to the front.
        std::lock_guard lock(m_mutex);
        if (const auto at = std::find(m_queue.begin(), m_queue.end(), key); at != m_queue.end()) {
            m_queue.erase(at);
            m_queue.push_back(key);
        }
    }
    startWorkers();
    return State::pending;
}

void ThumbnailLoader::setPreviewSource(PreviewSource source) {
    std::lock_guard lock(m_mutex);
    m_previews = std::move(source);
}

void ThumbnailLoader::startWorkers() {
    while (m_pool.activeThreadCount() < m_pool.maxThreadCount()) {
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty()) return;
        }
        m_pool.start([this] {
            // Behind the GUI thread: on a machine with two cores a decoding worker must never
            // take a frame's time from scrolling.
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
            while (true) {
                QByteArray next;
                PreviewSource previews;
                {
                    std::lock_guard lock(m_mutex);
                    if (m_stopping || m_queue.empty()) return;
                    next = std::move(m_queue.back());
                    m_queue.pop_back();
                    previews = m_previews;
                }
                const int deviceSide = static_cast<int>(std::lround(m_side * m_pixelRatio));
                std::optional<Bitmap> preview = previews ? previews(next.toStdString(), deviceSide) : std::nullopt;
                const auto bitmap = preview ? Result<Bitmap, ImageFailure>(std::move(*preview))
                                            : m_shared.get(next.toStdString(), deviceSide);
                QImage image;
                if (bitmap) {
                    image = imageOf(bitmap.value());
                    if (image.width() > deviceSide || image.height() > deviceSide)
                        image = image.scaled(deviceSide, deviceSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
                    // The screen's own format, so painting it is a plain copy with no conversion.
                    image = image.convertToFormat(QImage::Format_RGB32);
                    image.setDevicePixelRatio(m_pixelRatio);
                }
                QMetaObject::invokeMethod(this, [this, next, image] { deliver(next, image); }, Qt::QueuedConnection);
            }
        });
    }
}

void ThumbnailLoader::deliver(const QByteArray& path, const QImage& image) {
    m_requested.erase(path);
    if (image.isNull()) {
        m_failed.insert(path);
    } else {
        m_cache.insert(path, new QImage(image), std::max<qsizetype>(1, image.sizeInBytes() / 1024));
    }
    Q_EMIT ready(path);
}

std::int64_t ThumbnailLoader::memoryInUse() const { return static_cast<std::int64_t>(m_cache.totalCost()) * 1024; }

void ThumbnailLoader::waitForIdle() {
    while (!m_requested.empty()) {
        startWorkers();
        m_pool.waitForDone();
        QCoreApplication::processEvents(); // delivers what the workers decoded
    }
}

} // namespace vp::gui
