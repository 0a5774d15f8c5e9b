#include "Trasher.h"

#include "TrashLocation.h"

#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "platform/FolderHandle.h"
#include "platform/SystemError.h"
#include "platform/WriteAll.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vp {

namespace {

[[noreturn]] void fail(int code, const std::string& what) { throw std::system_error(code, std::generic_category(), what); }

/// Creates a private folder, or accepts an existing real folder; the error number or 0.
int ensureFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return errno;
    // A link or a file where the folder should be could send the picture anywhere.
    if (!S_ISDIR(status.st_mode)) return ENOTDIR;
    return 0;
}

int ensureTrash(const std::string& trash) {
    if (const int code = ensureFolder(trash)) return code;
    if (const int code = ensureFolder(trash + "/files")) return code;
    return ensureFolder(trash + "/info");
}

struct Destination {
    std::string trash;
    /// For a volume's Trash, the paths in `.trashinfo` are relative to its top folder, so they
    /// stay right wherever the drive is mounted next time.
    std::optional<std::string> topDirectory;
};

[[noreturn]] void unavailable(const std::string& trash, int code) {
    // A read-only drive is a fact about the drive, told as such.
    if (code == EROFS) fail(code, trash);
    throw TrashRefusal(TrashRefusal::Kind::trashUnavailable, trash, systemErrorText(code));
}

/// A Trash on a shared drive is only safe when this user owns it: another user's folder could
/// be read, or emptied, by them.
bool ownedByUser(const std::string& folder) {
    struct stat status {};
    return ::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid();
}

Destination trashFor(const std::string& path, const struct stat& file) {
    const std::string home = TrashLocation::homeTrash();
    // The device of the home Trash is the device of the nearest folder of it that exists.
    std::string probe = home;
    struct stat homeStatus {};
    while (::stat(probe.c_str(), &homeStatus) != 0 && probe != "/") probe = deletingLastPathComponent(probe);

    if (homeStatus.st_dev == file.st_dev) {
        if (ensureTrash(home) != 0) {
            // The data folder itself may not exist yet in a fresh home.
            std::error_code error;
            std::filesystem::create_directories(deletingLastPathComponent(home), error);
            if (const int code = ensureTrash(home)) unavailable(home, code);
        }
        return {home, std::nullopt};
    }

    const std::string top = TrashLocation::topDirectory(deletingLastPathComponent(path));
    if (const auto shared = TrashLocation::sharedVolumeTrash(top); shared && ensureTrash(*shared) == 0 && ownedByUser(*shared))
        return {*shared, top};
    const std::string own = TrashLocation::ownVolumeTrash(top);
    if (const int code = ensureTrash(own)) unavailable(own, code);
    if (!ownedByUser(own)) unavailable(own, EACCES);
    return {own, top};
}

std::string percentEncoded(std::string_view path) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string result;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                           byte == '-' || byte == '_' || byte == '.' || byte == '~' || byte == '/';
        if (plain) {
            result += c;
        } else {
            result += '%';
            result += digits[byte >> 4];
            result += digits[byte & 0x0f];
        }
    }
    return result;
}

std::string localDeletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    return text;
}

/// "photo.jpg", then "photo.2.jpg", "photo.3.jpg", …; a name too long for the Trash's records
/// keeps its extension and loses the end of its stem.
std::string trashName(const std::string& name, int attempt) {
    std::string extension = pathExtension(name);
    std::string stem = deletingPathExtension(name);
    if (stem.empty() || extension.size() > 32) {
        stem = name;
        extension.clear();
    }
    const std::string counter = attempt == 1 ? "" : "." + std::to_string(attempt);
    const std::string tail = counter + (extension.empty() ? "" : "." + extension);
    if (stem.size() + tail.size() > longestTrashName) {
        std::size_t keep = longestTrashName - tail.size();
        // Cut between characters, not inside one (continuation bytes are 10xxxxxx).
        while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80) --keep;
        stem.resize(keep);
    }
    return stem + tail;
}

} // namespace

TrashRefusal::TrashRefusal(Kind kind, std::string where, std::string reason)
    : std::runtime_error(reason.empty() ? where : reason + " (" + where + ")"), m_kind(kind), m_where(std::move(where)),
      m_reason(std::move(reason)) {}

std::optional<std::string> FileManagerTrasher::trash(const std::string& path) { return move(path, std::nullopt); }

std::optional<std::string> FileManagerTrasher::trashChecked(const std::string& path, const FileIdentity& expected) {
    return move(path, expected);
}

std::optional<std::string> FileManagerTrasher::move(const std::string& given, const std::optional<FileIdentity>& expected) {
    using Kind = TrashRefusal::Kind;
    const std::string path = PathRules::standardized(given);
    const std::string parentPath = deletingLastPathComponent(path);
    const std::string name = lastPathComponent(path);

    // The folder is reached without following a link and held: a folder swapped for a link
    // after this point changes nothing about where the rename happens.
    auto parent = FolderHandle::open(parentPath.empty() ? "/" : parentPath);
    if (!parent.handle) {
        if (parent.error == ELOOP || parent.error == ENOTDIR) throw TrashRefusal(Kind::folderReplaced, parentPath, "");
        fail(parent.error, path);
    }
    const auto before = parent.handle->entryStatus(name);
    if (!before) fail(errno, path);
    const auto identityOf = [](const struct stat& status) {
        return FileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    };
    if (expected && (identityOf(*before) != *expected || S_ISLNK(before->st_mode)))
        throw TrashRefusal(Kind::changed, path, "");

    const Destination destination = trashFor(path, *before);
    auto files = FolderHandle::openFollowingParents(destination.trash + "/files");
    auto infos = FolderHandle::openFollowingParents(destination.trash + "/info");
    if (!files.handle) throw TrashRefusal(Kind::trashUnavailable, destination.trash, systemErrorText(files.error));
    if (!infos.handle) throw TrashRefusal(Kind::trashUnavailable, destination.trash, systemErrorText(infos.error));

    std::string recorded = path;
    if (destination.topDirectory && *destination.topDirectory != "/" &&
        startsWith(path, *destination.topDirectory + "/"))
        recorded = path.substr(destination.topDirectory->size() + 1);
    const std::string info = "[Trash Info]\nPath=" + percentEncoded(recorded) +
                             "\nDeletionDate=" + localDeletionDate() + "\n";

    for (int attempt = 1; attempt < 10000; ++attempt) {
        const std::string candidate = trashName(name, attempt);
        const std::string infoName = candidate + ".trashinfo";

        // The exclusive create reserves the name against every other program using this Trash.
        const int fd = ::openat(infos.handle->fd(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            throw TrashRefusal(Kind::trashUnavailable, destination.trash, systemErrorText(errno));
        }
        const bool written = writeAll(fd, info) && ::fsync(fd) == 0;
        const int writeError = errno;
        ::close(fd);
        if (!written) {
            ::unlinkat(infos.handle->fd(), infoName.c_str(), 0);
            throw TrashRefusal(Kind::trashUnavailable, destination.trash, systemErrorText(writeError));
        }

        beforeRename(path);
        const int code = renameWithoutReplacing(*parent.handle, name, *files.handle, candidate);
        if (code != 0) {
            // The picture did not move: take its record back out of the Trash.
            ::unlinkat(infos.handle->fd(), infoName.c_str(), 0);
            // A file left in files/ without its record holds this name; try the next one.
            if (code == EEXIST) continue;
            fail(code, path);
        }
        const std::string target = destination.trash + "/files/" + candidate;

        // What arrived must be the file that was checked; a file saved in its place meanwhile
        // goes straight back.
        const auto moved = files.handle->entryStatus(candidate);
        if (expected && (!moved || identityOf(*moved) != *expected || S_ISLNK(moved->st_mode))) {
            if (renameWithoutReplacing(*files.handle, candidate, *parent.handle, name) != 0) {
                files.handle->sync();
                throw TrashRefusal(Kind::stranded, target, "");
            }
            ::unlinkat(infos.handle->fd(), infoName.c_str(), 0);
            parent.handle->sync();
            throw TrashRefusal(Kind::changed, path, "");
        }
        // The move and its record survive a crash from here on.
        files.handle->sync();
        infos.handle->sync();
        parent.handle->sync();
        return target;
    }
    fail(EEXIST, path);
}

} // namespace vp
