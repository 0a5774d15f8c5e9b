#include "Rename.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vp {

namespace {

int renameNoReplace(const std::string& from, const std::string& to) {
    // Called through syscall() so the build does not depend on the C library's wrapper.
    return static_cast<int>(
        ::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE));
}

} // namespace

int renameWithoutReplacing(const std::string& from, const std::string& to) {
    if (renameNoReplace(from, to) == 0) return 0;
    const int error = errno;
    // Only a file system that does not know the flag gets the link fallback; every other
    // answer (EEXIST above all) is final.
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) return error;
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    if (::unlink(from.c_str()) != 0) {
        const int unlinkError = errno;
        // Take the new name away again so the file is left exactly as it was found.
        ::unlink(to.c_str());
        return unlinkError;
    }
    return 0;
}

} // namespace vp
