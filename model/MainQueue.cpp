#include "MainQueue.h"

namespace vp {

void MainQueue::post(std::function<void()> work) {
    std::function<void()> wakeUp;
    {
        std::lock_guard lock(m_mutex);
        m_work.push_back(std::move(work));
        wakeUp = m_wakeUp;
    }
    m_posted.notify_all();
    if (wakeUp) wakeUp();
}

std::size_t MainQueue::drain() {
    std::size_t ran = 0;
    while (true) {
        std::function<void()> next;
        {
            std::lock_guard lock(m_mutex);
            if (m_work.empty()) return ran;
            next = std::move(m_work.front());
            m_work.pop_front();
        }
        next();
        ++ran;
    }
}

std::size_t MainQueue::waitAndDrain(std::chrono::milliseconds timeout) {
    {
        std::unique_lock lock(m_mutex);
        m_posted.wait_for(lock, timeout, [this] { return !m_work.empty(); });
    }
    return drain();
}

void MainQueue::setWakeUp(std::function<void()> wakeUp) {
    std::lock_guard lock(m_mutex);
    m_wakeUp = std::move(wakeUp);
}

} // namespace vp
