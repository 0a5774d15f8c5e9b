// The walk itself. Directories are listed whole and closed before their children are visited,
// so a deep tree never holds more than one directory open; each child folder is opened by path
// without following a final link and checked against the identity seen while listing, so a
// folder swapped for a link in between is never entered.
#include "FolderSource.h"

#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "platform/Home.h"
#include "platform/SystemError.h"
#include "platform/TypeIdentifiers.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace vp::FolderSource {

namespace {

enum class EntryType { folder, symbolicLink, file };

struct Entry {
    std::string name;
    EntryType type = EntryType::file;
    FileIdentity identity; // folders only
};

struct Listing {
    std::vector<Entry> entries;
    int error = 0;
};

struct FileIdentityHash {
    std::size_t operator()(const FileIdentity& identity) const { return hashValue(identity); }
};

Listing listFolder(const std::string& path, const std::optional<FileIdentity>& expected) {
    Listing listing;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        listing.error = errno;
        return listing;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) listing.error = errno;
    else if (expected && FileSnapshot::fromStatus(status).identity != *expected) listing.error = ENOENT;
    if (listing.error != 0) {
        ::close(fd);
        return listing;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        listing.error = errno;
        ::close(fd);
        return listing;
    }
    errno = 0;
    while (const dirent* raw = ::readdir(dir)) {
        const std::string name = raw->d_name;
        if (name == "." || name == "..") continue;
        Entry entry{name, EntryType::file, {}};
        unsigned char type = raw->d_type;
        struct stat child {};
        if (type == DT_UNKNOWN || type == DT_DIR) {
            if (::fstatat(::dirfd(dir), raw->d_name, &child, AT_SYMLINK_NOFOLLOW) == 0) {
                type = S_ISDIR(child.st_mode) ? DT_DIR : S_ISLNK(child.st_mode) ? DT_LNK : DT_REG;
                entry.identity = FileSnapshot::fromStatus(child).identity;
            } else if (type == DT_UNKNOWN) {
                type = DT_REG; // vanished: considering it reports that
            }
        }
        entry.type = type == DT_DIR ? EntryType::folder : type == DT_LNK ? EntryType::symbolicLink : EntryType::file;
        listing.entries.push_back(std::move(entry));
        errno = 0;
    }
    if (errno != 0) listing.error = errno;
    ::closedir(dir);
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return listing;
}

std::string childPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

class Walker {
public:
    Walker(const std::optional<NameSet>& only, const CancellationFlag& cancel, const WalkProgress& progress)
        : m_only(only), m_cancel(cancel), m_progress(progress) {}

    void walkRoot(const std::string& root);
    void considerListed(std::vector<std::string> listed);
    Walk finish() {
        m_walk.discovered = static_cast<std::int64_t>(m_walk.found.size());
        return std::move(m_walk);
    }

private:
    struct Frame {
        std::string path;
        std::vector<Entry> entries;
        std::size_t next = 0;
    };

    bool stopped() {
        if (!m_walk.cancelled && m_cancel.isCancelled()) m_walk.cancelled = true;
        return m_walk.cancelled;
    }
    void countEntry() {
        if (++m_entries % 1000 == 0 && m_progress) m_progress(m_entries);
    }
    void visit(const std::string& folder, const Entry& entry, const std::string& root, std::vector<Frame>& stack);
    void consider(const std::string& path, const std::string& root);

    const std::optional<NameSet>& m_only;
    const CancellationFlag& m_cancel;
    const WalkProgress& m_progress;
    Walk m_walk;
    std::unordered_set<FileIdentity, FileIdentityHash> m_seen;
    std::int64_t m_entries = 0;
    const std::string m_homeTrash = PathRules::standardized(homeTrashFolder());
    static constexpr std::string_view trashDetail = "The Trash holds what was put there to be deleted; it is never scanned.";
};

/// Whether `path` is a Trash or inside one: what is there was put there to be deleted, and a
/// copy found in it must never send the other copy to the Trash as well.
static bool inTrash(const std::string& path, const std::string& homeTrash) {
    if (PathRules::isInside(path, homeTrash)) return true;
    for (const auto& component : split(path, '/'))
        if (isVolumeTrashName(component)) return true;
    return false;
}

void Walker::walkRoot(const std::string& root) {
    if (stopped()) return;
    if (inTrash(root, m_homeTrash)) {
        m_walk.excluded.push_back({root, ExcludedItem::Kind::trash, std::string(trashDetail)});
        return;
    }
    Listing top = listFolder(root, std::nullopt);
    if (top.error != 0 && top.entries.empty()) {
        m_walk.excluded.push_back(
            {root, ExcludedItem::Kind::unreadableFolder, "The system would not open this folder."});
        return;
    }
    std::vector<Frame> stack;
    stack.push_back({root, std::move(top.entries), 0});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.entries.size()) {
            stack.pop_back();
            continue;
        }
        if (stopped()) return;
        const Entry entry = frame.entries[frame.next++];
        const std::string folder = frame.path;
        visit(folder, entry, root, stack); // may grow the stack: `frame` is not used after this
    }
}

void Walker::visit(const std::string& folder, const Entry& entry, const std::string& root,
                   std::vector<Frame>& stack) {
    const std::string path = childPath(folder, entry.name);
    if (entry.name.starts_with(".")) {
        // Hidden entries are never walked; hidden folders and would-be pictures are named, so a
        // person can tell why a picture they expected was not compared.
        const std::string extension = pathExtension(entry.name);
        const bool picture = entry.type == EntryType::file && (!m_only || m_only->contains(path)) &&
                             (formatFromExtension(extension) || TypeIdentifiers::isImageExtension(extension));
        if (entry.type == EntryType::folder || picture) m_walk.hidden.push_back(path);
        return;
    }
    switch (entry.type) {
    case EntryType::symbolicLink:
        countEntry();
        m_walk.skipped.push_back({path, SkipReason::symbolicLink, std::nullopt});
        return;
    case EntryType::folder: {
        countEntry();
        const std::string extension = lowercased(pathExtension(entry.name));
        if (managedLibraryExtensions.contains(extension) || managedFolderNames.contains(entry.name)) {
            m_walk.excluded.push_back(
                {path, ExcludedItem::Kind::managedLibrary,
                 "A photo library or catalogue. Its app manages these files, so they are never opened here."});
            return;
        }
        if (path == m_homeTrash) {
            m_walk.excluded.push_back({path, ExcludedItem::Kind::trash, std::string(trashDetail)});
            return;
        }
        if (packageExtensions.contains(extension)) {
            m_walk.excluded.push_back(
                {path, ExcludedItem::Kind::package, "A package is one thing, not a folder of photos."});
            return;
        }
        Listing listing = listFolder(path, entry.identity);
        if (listing.error != 0) {
            m_walk.excluded.push_back(
                {path, ExcludedItem::Kind::unreadableFolder, systemErrorText(listing.error)});
            if (listing.entries.empty()) return;
        }
        stack.push_back({path, std::move(listing.entries), 0});
        return;
    }
    case EntryType::file:
        m_walk.namesByFolder[folder].insert(lowercased(entry.name));
        if (m_only && !m_only->contains(path)) return;
        countEntry();
        consider(path, root);
        return;
    }
}

void Walker::considerListed(std::vector<std::string> listed) {
    std::sort(listed.begin(), listed.end());
    listed.erase(std::unique(listed.begin(), listed.end()), listed.end());
    for (const auto& path : listed) {
        if (stopped()) return;
        const std::string folder = deletingLastPathComponent(path);
        m_walk.namesByFolder[folder].insert(lowercased(lastPathComponent(path)));
        consider(path, folder);
    }
}

void Walker::consider(const std::string& path, const std::string& root) {
    const std::string extension = pathExtension(path);
    const auto format = formatFromExtension(extension);
    if (!format) {
        if (TypeIdentifiers::isImageExtension(extension))
            m_walk.skipped.push_back({path, SkipReason::unsupportedFormat, uppercased(extension)});
        else
            ++m_walk.otherFiles;
        struct stat status {};
        if (movieExtensions.contains(lowercased(extension)) && ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
            m_walk.movies.push_back({path, root, FileSnapshot::fromStatus(status), PhotoFormat::other,
                                     static_cast<std::int64_t>(status.st_ctim.tv_sec),
                                     static_cast<std::int64_t>(status.st_ctim.tv_nsec)});
        return;
    }
    struct stat status {};
    const auto snapshot =
        ::lstat(path.c_str(), &status) == 0 ? std::optional(FileSnapshot::fromStatus(status)) : std::nullopt;
    if (!snapshot || !snapshot->isRegularFile) {
        m_walk.skipped.push_back({path, SkipReason::unreadable, "It disappeared or is not a plain file."});
        return;
    }
    if (snapshot->isDataless()) {
        m_walk.skipped.push_back({path, SkipReason::cloudPlaceholder, std::nullopt});
        return;
    }
    if (snapshot->size == 0) {
        m_walk.skipped.push_back({path, SkipReason::empty, std::nullopt});
        return;
    }
    if (::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) != 0) {
        m_walk.skipped.push_back({path, SkipReason::unreadable, systemErrorText(errno)});
        return;
    }
    if (!m_seen.insert(snapshot->identity).second) {
        m_walk.otherNames[snapshot->identity].push_back(path);
        ++m_walk.hardLinksFolded;
        return;
    }
    m_walk.found.push_back({path, root, *snapshot, *format, static_cast<std::int64_t>(status.st_ctim.tv_sec),
                            static_cast<std::int64_t>(status.st_ctim.tv_nsec)});
}

} // namespace

Walk walk(const std::vector<std::string>& roots, const std::optional<NameSet>& only,
          const std::vector<std::string>& listed, const CancellationFlag& cancel, const WalkProgress& progress) {
    Walker walker(only, cancel, progress);
    for (const auto& root : roots) {
        walker.walkRoot(root);
    }
    walker.considerListed(listed);
    return walker.finish();
}

} // namespace vp::FolderSource
