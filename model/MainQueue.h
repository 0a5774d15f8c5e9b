// The model's main thread: work posted from any thread runs only when the owner drains the
// queue. Tests drain it by hand; a desktop front end binds `setWakeUp` to its event loop and
// drains there.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace vp {

class MainQueue {
public:
    /// Thread-safe.
    void post(std::function<void()> work);
    /// Runs everything queued, including work posted while draining; the number run.
    std::size_t drain();
    /// Waits up to `timeout` for something to be queued, then drains.
    std::size_t waitAndDrain(std::chrono::milliseconds timeout);
    /// Called from the posting thread whenever work is queued, so an event loop can wake up.
    void setWakeUp(std::function<void()> wakeUp);

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_work;
    std::function<void()> m_wakeUp;
};

} // namespace vp
