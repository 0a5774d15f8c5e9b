#include "RegularFile.h"

#include "SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vp {

RegularFileRead readRegularFile(const std::string& path, std::int64_t maxBytes) {
    RegularFileRead result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int code = errno;
        if (code == ENOENT || code == ENOTDIR) return result;
        // O_NOFOLLOW on a final link answers ELOOP.
        if (code == ELOOP) return {RegularFileRead::Status::notRegular, {}, code};
        return {RegularFileRead::Status::unreadable, {}, code};
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int code = errno;
        ::close(fd);
        return {RegularFileRead::Status::unreadable, {}, code};
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        return {RegularFileRead::Status::notRegular, {}, 0};
    }
    if (status.st_size > maxBytes) {
        ::close(fd);
        return {RegularFileRead::Status::tooLarge, {}, 0};
    }
    result.content.reserve(static_cast<std::size_t>(status.st_size));
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int code = errno;
            ::close(fd);
            return {RegularFileRead::Status::unreadable, {}, code};
        }
        if (got == 0) break;
        // The file may grow while it is read; the bound holds all the same.
        if (static_cast<std::int64_t>(result.content.size()) + got > maxBytes) {
            ::close(fd);
            return {RegularFileRead::Status::tooLarge, {}, 0};
        }
        result.content.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    result.status = RegularFileRead::Status::read;
    return result;
}

std::string RegularFileRead::why() const {
    switch (status) {
    case Status::notRegular: return "it is not a plain file";
    case Status::tooLarge: return "it is far too large";
    case Status::unreadable: return systemErrorText(error);
    case Status::missing:
    case Status::read: break;
    }
    return {};
}

} // namespace vp
