#include "ThumbnailLoader.h"

#include "platform/image/Images.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cmath>

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

void ThumbnailLoader::startWorkers() {
    while (m_pool.activeThreadCount() < m_pool.maxThreadCount()) {
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty()) return;
        }
        m_pool.start([this] {
            while (true) {
                QByteArray next;
                {
                    std::lock_guard lock(m_mutex);
                    if (m_stopping || m_queue.empty()) return;
                    next = std::move(m_queue.back());
                    m_queue.pop_back();
                }
                const int deviceSide = static_cast<int>(std::lround(m_side * m_pixelRatio));
                const auto bitmap = m_shared.get(next.toStdString(), deviceSide);
                QImage image;
                if (bitmap) {
                    image = imageOf(bitmap.value());
                    if (image.width() > deviceSide || image.height() > deviceSide)
                        image = image.scaled(deviceSide, deviceSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
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
