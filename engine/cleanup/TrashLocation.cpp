#include "TrashLocation.h"

#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "platform/Home.h"
#include "platform/Volumes.h"

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vp::TrashLocation {

namespace {

/// The path itself or the nearest folder above it that exists, with its status.
std::optional<std::pair<std::string, struct stat>> nearestExisting(std::string path) {
    while (true) {
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0) return std::pair{path, status};
        if (path == "/" || path.empty()) return std::nullopt;
        path = deletingLastPathComponent(path);
    }
}

std::optional<std::uint64_t> deviceOf(const std::string& path) {
    const auto found = nearestExisting(PathRules::standardized(path));
    if (!found) return std::nullopt;
    return static_cast<std::uint64_t>(found->second.st_dev);
}

std::string folderOf(const std::string& path) { return deletingLastPathComponent(PathRules::standardized(path)); }

} // namespace

const std::string& home() { return realHomeFolder(); }

std::string homeTrash() { return PathRules::standardized(homeTrashFolder()); }

std::string topDirectory(const std::string& path) {
    const auto found = nearestExisting(PathRules::standardized(path));
    if (!found) return "/";
    const std::string real = PathRules::real(found->first).value_or(found->first);

    std::ifstream file("/proc/self/mountinfo");
    std::stringstream text;
    text << file.rdbuf();
    if (const auto mount = mountContaining(parseMountInfo(text.str()), real)) return mount->mountPoint;

    // Without the mount table, climb while the device stays the same.
    std::string top = real;
    while (top != "/") {
        const std::string parent = deletingLastPathComponent(top);
        struct stat status {};
        if (::stat(parent.c_str(), &status) != 0 || status.st_dev != found->second.st_dev) break;
        top = parent;
    }
    return top;
}

std::optional<std::string> sharedVolumeTrash(const std::string& topDirectory) {
    const std::string shared = (topDirectory == "/" ? "" : topDirectory) + "/.Trash";
    struct stat status {};
    if (::lstat(shared.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || (status.st_mode & S_ISVTX) == 0)
        return std::nullopt;
    return shared + "/" + std::to_string(::getuid());
}

std::string ownVolumeTrash(const std::string& topDirectory) {
    return (topDirectory == "/" ? "" : topDirectory) + "/.Trash-" + std::to_string(::getuid());
}

std::vector<std::string> candidates(const std::string& path) {
    const std::string trash = homeTrash();
    std::vector<std::string> folders{trash + "/files"};
    const auto fileDevice = deviceOf(folderOf(path));
    const auto trashDevice = deviceOf(trash);
    if (fileDevice && trashDevice && *fileDevice != *trashDevice) {
        const std::string top = topDirectory(folderOf(path));
        if (const auto shared = sharedVolumeTrash(top)) folders.push_back(*shared + "/files");
        folders.push_back(ownVolumeTrash(top) + "/files");
    }
    return folders;
}

std::optional<std::string> find(const FileIdentity& identity, const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        DIR* directory = ::opendir(folder.c_str());
        if (directory == nullptr) continue;
        std::optional<std::string> found;
        while (const dirent* entry = ::readdir(directory)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            struct stat status {};
            if (::fstatat(::dirfd(directory), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (static_cast<std::uint64_t>(status.st_dev) == identity.device &&
                static_cast<std::uint64_t>(status.st_ino) == identity.inode) {
                found = folder + "/" + name;
                break;
            }
        }
        ::closedir(directory);
        if (found) return found;
    }
    return std::nullopt;
}

} // namespace vp::TrashLocation
