// What the system knows of the volume a path lives on: name, whether it is local, read-only,
// removable or external. Read from /proc/self/mountinfo, statvfs and /sys/block.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp {

/// One line of /proc/self/mountinfo.
struct MountEntry {
    int mountId = 0;
    int parentId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;
    std::string mountPoint;
    std::string options;
    std::string fileSystemType;
    std::string source;
    std::string superOptions;

    bool operator==(const MountEntry&) const = default;
};

/// Lines that do not parse are passed over. Octal escapes ("\040") are decoded.
std::vector<MountEntry> parseMountInfo(std::string_view text);

/// The mount whose mount point holds `realPath` most closely (the last one mounted there wins).
std::optional<MountEntry> mountContaining(const std::vector<MountEntry>& mounts, std::string_view realPath);

/// nfs, cifs, sshfs and the other network file systems.
bool isNetworkFileSystem(std::string_view type);

struct VolumeFacts {
    std::optional<std::string> name;
    bool isLocal = true;
    std::optional<bool> isReadOnly;
    std::optional<bool> isInternal;
    std::optional<bool> isRemovable;
    std::optional<bool> isEjectable;

    bool operator==(const VolumeFacts&) const = default;
};

/// The decision on already-gathered values, kept apart so it can be checked on recorded input.
/// `label` is the file-system label; `removableDisk` what /sys says of the disk behind the mount.
VolumeFacts decideVolume(const MountEntry& mount, std::optional<std::string> label,
                         std::optional<bool> removableDisk, std::optional<bool> readOnly);

/// The facts for an existing path (resolved first); the defaults when nothing can be learned.
VolumeFacts volumeFacts(const std::string& path);

} // namespace vp
