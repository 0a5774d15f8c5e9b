// A file descriptor with one owner, closed when the owner goes.
#pragma once

#include <unistd.h>
#include <utility>

namespace vp {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    void reset() {
        if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
    }

private:
    int m_fd = -1;
};

} // namespace vp
