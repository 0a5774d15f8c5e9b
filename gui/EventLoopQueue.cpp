#include "EventLoopQueue.h"

#include <QMetaObject>

namespace vp::gui {

EventLoopQueue::EventLoopQueue(MainQueue& queue, QObject* parent) : QObject(parent), m_queue(queue) {
    m_queue.setWakeUp([this] { QMetaObject::invokeMethod(this, [this] { m_queue.drain(); }, Qt::QueuedConnection); });
    m_queue.drain(); // whatever was posted before the loop existed
}

EventLoopQueue::~EventLoopQueue() { m_queue.setWakeUp(nullptr); }

} // namespace vp::gui
