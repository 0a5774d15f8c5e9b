#include "Trasher.h"

#include "TrashLocation.h"

#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "platform/Rename.h"

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
            if (const int code = ensureTrash(home)) fail(code, home);
        }
        return {home, std::nullopt};
    }

    const std::string top = TrashLocation::topDirectory(deletingLastPathComponent(path));
    if (const auto shared = TrashLocation::sharedVolumeTrash(top); shared && ensureTrash(*shared) == 0)
        return {*shared, top};
    const std::string own = TrashLocation::ownVolumeTrash(top);
    if (const int code = ensureTrash(own)) fail(code, own);
    struct stat status {};
    if (::lstat(own.c_str(), &status) != 0) fail(errno, own);
    if (status.st_uid != ::getuid()) fail(EACCES, own);
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

/// "photo.jpg", then "photo.2.jpg", "photo.3.jpg", …
std::string trashName(const std::string& name, int attempt) {
    if (attempt == 1) return name;
    const std::string extension = pathExtension(name);
    const std::string stem = deletingPathExtension(name);
    if (stem.empty() || extension.empty()) return name + "." + std::to_string(attempt);
    return stem + "." + std::to_string(attempt) + "." + extension;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace

std::optional<std::string> FileManagerTrasher::trash(const std::string& given) {
    const std::string path = PathRules::standardized(given);
    struct stat file {};
    if (::lstat(path.c_str(), &file) != 0) fail(errno, path);
    const Destination destination = trashFor(path, file);

    std::string recorded = path;
    if (destination.topDirectory && *destination.topDirectory != "/" &&
        startsWith(path, *destination.topDirectory + "/"))
        recorded = path.substr(destination.topDirectory->size() + 1);
    const std::string info = "[Trash Info]\nPath=" + percentEncoded(recorded) +
                             "\nDeletionDate=" + localDeletionDate() + "\n";

    const std::string name = lastPathComponent(path);
    for (int attempt = 1; attempt < 10000; ++attempt) {
        const std::string candidate = trashName(name, attempt);
        const std::string infoPath = destination.trash + "/info/" + candidate + ".trashinfo";
        const std::string target = destination.trash + "/files/" + candidate;

        // The exclusive create reserves the name against every other program using this Trash.
        const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            fail(errno, infoPath);
        }
        const bool written = writeAll(fd, info) && ::fsync(fd) == 0;
        const int writeError = errno;
        ::close(fd);
        if (!written) {
            ::unlink(infoPath.c_str());
            fail(writeError, infoPath);
        }

        const int code = renameWithoutReplacing(path, target);
        if (code == 0) return target;
        // The picture did not move: take its record back out of the Trash.
        ::unlink(infoPath.c_str());
        // A file left in files/ without its record holds this name; try the next one.
        if (code == EEXIST) continue;
        fail(code, path);
    }
    fail(EEXIST, path);
}

} // namespace vp
