#include "FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vp {

bool FileLock::tryExclusive(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        if (errno != EINTR) return false;
    return true;
}

FileLock::Attempt FileLock::tryExclusive(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) return {std::nullopt, errno};
    struct stat status {};
    int error = 0;
    if (::fstat(fd, &status) != 0)
        error = errno;
    else if (!S_ISREG(status.st_mode))
        error = EINVAL;
    else if (!tryExclusive(fd))
        error = errno;
    if (error != 0) {
        ::close(fd);
        return {std::nullopt, error};
    }
    return {FileLock(fd), 0};
}

} // namespace vp
