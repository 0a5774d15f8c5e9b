// Advisory locks between processes (flock). The kernel drops a lock when its holder dies, so a
// killed cleanup never leaves a lock behind.
#pragma once

#include <cerrno>
#include <optional>
#include <string>

#include "UniqueFd.h"

namespace vp {

class FileLock {
public:
    struct Attempt;
    /// An exclusive lock on the file at `path`, created (mode 0600) when missing. Never waits:
    /// EWOULDBLOCK when another open file holds it. Only a regular file is locked: a link, FIFO
    /// or device at the path gives ELOOP or EINVAL.
    static Attempt tryExclusive(const std::string& path);
    /// An exclusive lock on an already open descriptor, which stays the caller's; false when
    /// another open file holds one.
    static bool tryExclusive(int fd);

private:
    explicit FileLock(int fd) : m_fd(fd) {}
    UniqueFd m_fd; // closing the last descriptor releases the lock
};

struct FileLock::Attempt {
    std::optional<FileLock> lock;
    int error = 0;
    bool busy() const { return !lock && error == EWOULDBLOCK; }
};

} // namespace vp
