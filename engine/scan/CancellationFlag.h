// A cancel token shared between the thread that asks for work to stop and the threads doing it.
#pragma once

#include <memory>
#include <mutex>

namespace vp {

/// Thread-safe: any thread may cancel or ask. Shared by reference (std::shared_ptr) between
/// the owner of a piece of work and the work itself; a new piece of work gets a new flag.
class CancellationFlag {
public:
    void cancel() {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
    }
    bool isCancelled() const {
        std::lock_guard lock(m_mutex);
        return m_cancelled;
    }

private:
    mutable std::mutex m_mutex;
    bool m_cancelled = false;
};

using SharedCancellationFlag = std::shared_ptr<CancellationFlag>;

} // namespace vp
