// Binds the model's main queue to Qt's event loop: work posted from a background thread wakes
// the loop, which drains the queue on the GUI thread.
#pragma once

#include "model/MainQueue.h"

#include <QObject>

namespace vp::gui {

class EventLoopQueue : public QObject {
    Q_OBJECT
public:
    explicit EventLoopQueue(MainQueue& queue, QObject* parent = nullptr);
    ~EventLoopQueue() override;

private:
    MainQueue& m_queue;
};

} // namespace vp::gui
