// A folder reached one component at a time from "/", never through a symbolic link, and held
// open: whatever is renamed or swapped in the tree afterwards, operations relative to the handle
// act in the folder that was checked, not in whatever now stands at its path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>

#include "UniqueFd.h"

namespace vp {

class FolderHandle {
public:
    /// Opens the absolute, standardized folder `path` (O_PATH|O_DIRECTORY|O_NOFOLLOW for each
    /// component). The error number when a component is missing (ENOENT), is a link (ELOOP)
    /// or is not a folder (ENOTDIR).
    struct Opened;
    static Opened open(const std::string& path);
    /// A plain open of a folder the system itself keeps (the Trash): links above it are
    /// allowed, the folder itself must not be one.
    static Opened openFollowingParents(const std::string& path);

    int fd() const { return m_fd.get(); }
    /// Status of an entry of this folder, never following a link.
    std::optional<struct stat> entryStatus(const std::string& name) const;
    /// Forces the folder's entries to disk; the error number or 0.
    int sync() const;

private:
    explicit FolderHandle(int fd) : m_fd(fd) {}
    UniqueFd m_fd;
};

struct FolderHandle::Opened {
    std::optional<FolderHandle> handle;
    int error = 0;
};

/// Renames `fromName` in `from` to `toName` in `to` only when nothing exists there
/// (renameat2 RENAME_NOREPLACE, or a hard link and unlink where the flag is refused). 0 or the
/// error number; on failure the file is where it was.
int renameWithoutReplacing(const FolderHandle& from, const std::string& fromName, const FolderHandle& to,
                           const std::string& toName);

} // namespace vp
