#include "FolderHandle.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vp {

namespace {

constexpr int folderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

} // namespace

FolderHandle::Opened FolderHandle::open(const std::string& path) {
    if (path.empty() || path.front() != '/') return {std::nullopt, EINVAL};
    int fd = ::open("/", folderFlags);
    if (fd < 0) return {std::nullopt, errno};
    std::size_t start = 1;
    while (start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            ::close(fd);
            return {std::nullopt, EINVAL};
        }
        const int next = ::openat(fd, name.c_str(), folderFlags);
        const int error = errno;
        ::close(fd);
        // A link where a folder should be answers ELOOP or, with O_PATH|O_NOFOLLOW, ENOTDIR.
        if (next < 0) return {std::nullopt, error};
        fd = next;
    }
    return {FolderHandle(fd), 0};
}

FolderHandle::Opened FolderHandle::openFollowingParents(const std::string& path) {
    const int fd = ::open(path.c_str(), folderFlags);
    if (fd < 0) return {std::nullopt, errno};
    return {FolderHandle(fd), 0};
}

std::optional<struct stat> FolderHandle::entryStatus(const std::string& name) const {
    struct stat status {};
    if (::fstatat(fd(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    return status;
}

int FolderHandle::sync() const {
    // fsync needs a descriptor opened for reading; an O_PATH one is refused.
    const UniqueFd readable(::openat(fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (readable.get() < 0) return errno;
    return ::fsync(readable.get()) == 0 ? 0 : errno;
}

int renameWithoutReplacing(const FolderHandle& from, const std::string& fromName, const FolderHandle& to,
                           const std::string& toName) {
    if (::syscall(SYS_renameat2, from.fd(), fromName.c_str(), to.fd(), toName.c_str(), RENAME_NOREPLACE) == 0) return 0;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) return error;
    if (::linkat(from.fd(), fromName.c_str(), to.fd(), toName.c_str(), 0) != 0) return errno;
    if (::unlinkat(from.fd(), fromName.c_str(), 0) != 0) {
        const int unlinkError = errno;
        ::unlinkat(to.fd(), toName.c_str(), 0);
        return unlinkError;
    }
    return 0;
}

} // namespace vp
