#include "Volumes.h"

#include "engine/common/Text.h"
#include "engine/common/PathRules.h"

#include <array>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/statvfs.h>

namespace vp {

namespace {

std::string decodeOctalEscapes(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const auto digits = text.substr(i + 1, 3);
            if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string_view::npos) {
                result += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

// Labels under /dev/disk/by-label escape blanks and slashes as "\x20".
std::string decodeHexEscapes(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i).starts_with("\\x") && i + 3 < text.size()) {
            const std::string digits(text.substr(i + 2, 2));
            char* end = nullptr;
            const long value = std::strtol(digits.c_str(), &end, 16);
            if (end == digits.c_str() + 2) {
                result += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

std::string readSmallFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::optional<std::string> labelOf(const std::string& source) {
    if (!source.starts_with("/dev/")) return std::nullopt;
    const auto device = PathRules::real(source);
    if (!device) return std::nullopt;
    constexpr const char* folder = "/dev/disk/by-label";
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) return std::nullopt;
    std::optional<std::string> label;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (PathRules::real(std::string(folder) + "/" + name) == device) {
            label = decodeHexEscapes(name);
            break;
        }
    }
    ::closedir(dir);
    return label;
}

// The whole disk behind a block device ("sdb" for "sdb1"), found through sysfs.
std::optional<bool> diskIsRemovable(unsigned major, unsigned minor) {
    const std::string devicePath = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    auto resolved = PathRules::real(devicePath);
    if (!resolved) return std::nullopt;
    std::ifstream partition(*resolved + "/partition");
    const std::string disk = partition ? deletingLastPathComponent(*resolved) : *resolved;
    const std::string flag = trimmed(readSmallFile(disk + "/removable"));
    if (flag.empty()) return std::nullopt;
    return flag == "1";
}

} // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    for (const auto& line : split(text, '\n')) {
        std::vector<std::string> fields;
        for (auto& field : split(line, ' '))
            if (!field.empty()) fields.push_back(std::move(field));
        std::size_t separator = 6;
        while (separator < fields.size() && fields[separator] != "-") ++separator;
        if (fields.size() < 6 || separator + 2 >= fields.size()) continue;
        MountEntry entry;
        const auto device = split(fields[2], ':');
        if (device.size() != 2) continue;
        char* end = nullptr;
        entry.mountId = static_cast<int>(std::strtol(fields[0].c_str(), &end, 10));
        entry.parentId = static_cast<int>(std::strtol(fields[1].c_str(), &end, 10));
        entry.major = static_cast<unsigned>(std::strtoul(device[0].c_str(), &end, 10));
        entry.minor = static_cast<unsigned>(std::strtoul(device[1].c_str(), &end, 10));
        entry.root = decodeOctalEscapes(fields[3]);
        entry.mountPoint = decodeOctalEscapes(fields[4]);
        entry.options = fields[5];
        entry.fileSystemType = fields[separator + 1];
        entry.source = decodeOctalEscapes(fields[separator + 2]);
        if (separator + 3 < fields.size()) entry.superOptions = fields[separator + 3];
        mounts.push_back(std::move(entry));
    }
    return mounts;
}

std::optional<MountEntry> mountContaining(const std::vector<MountEntry>& mounts, std::string_view realPath) {
    const MountEntry* best = nullptr;
    for (const auto& mount : mounts) {
        if (!PathRules::isInside(realPath, mount.mountPoint)) continue;
        if (best == nullptr || mount.mountPoint.size() >= best->mountPoint.size()) best = &mount;
    }
    if (best == nullptr) return std::nullopt;
    return *best;
}

bool isNetworkFileSystem(std::string_view type) {
    static constexpr std::array<std::string_view, 14> network{
        "nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "sshfs", "9p", "afs", "ceph", "glusterfs",
        "davfs", "fuse.rclone", "fuse.glusterfs"};
    for (const auto known : network)
        if (known == type) return true;
    return false;
}

VolumeFacts decideVolume(const MountEntry& mount, std::optional<std::string> label,
                         std::optional<bool> removableDisk, std::optional<bool> readOnly) {
    VolumeFacts facts;
    facts.name = label && !label->empty() ? *label : lastPathComponent(mount.mountPoint);
    facts.isLocal = !isNetworkFileSystem(mount.fileSystemType);
    facts.isReadOnly = readOnly;
    const bool underMedia = PathRules::isInside(mount.mountPoint, "/media") ||
                            PathRules::isInside(mount.mountPoint, "/run/media");
    facts.isRemovable = removableDisk;
    facts.isEjectable = removableDisk;
    if (underMedia || removableDisk.value_or(false))
        facts.isInternal = false;
    else if (removableDisk)
        facts.isInternal = true;
    return facts;
}

VolumeFacts volumeFacts(const std::string& path) {
    const auto resolved = PathRules::real(path);
    if (!resolved) return {};
    const auto mounts = parseMountInfo(readSmallFile("/proc/self/mountinfo"));
    const auto mount = mountContaining(mounts, *resolved);
    if (!mount) return {};
    std::optional<bool> readOnly;
    struct statvfs status {};
    if (::statvfs(resolved->c_str(), &status) == 0) readOnly = (status.f_flag & ST_RDONLY) != 0;
    return decideVolume(*mount, labelOf(mount->source), diskIsRemovable(mount->major, mount->minor), readOnly);
}

} // namespace vp
