// What a file was when it was seen: the proof that it is still the scanned file.
#pragma once

#include "engine/common/Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace vp {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    /// "device 2049, inode 1234".
    std::string text() const;

    VP_RECORD(device, inode)
    auto operator<=>(const FileIdentity&) const = default;
};

struct FileSnapshot {
    FileIdentity identity;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::uint32_t linkCount = 0;
    bool isRegularFile = false;
    bool isSymbolicLink = false;
    /// Linux has no BSD file flags: always 0 here, so the dataless bit never appears.
    std::uint32_t flags = 0;

    static constexpr std::uint32_t datalessFlag = 0x40000000;

    /// The status of the path itself, never following a final symbolic link; absent when it fails.
    static std::optional<FileSnapshot> read(const std::string& path);
    static FileSnapshot fromStatus(const struct stat& status);

    /// Identity, size, modification time and file type unchanged. Link count and flags are not
    /// compared: a new hard link elsewhere does not make a file "changed".
    bool isUnchanged(const FileSnapshot& other) const;
    bool isDataless() const { return (flags & datalessFlag) != 0; }
    Timestamp modified() const;

    VP_RECORD(identity, size, modifiedSeconds, modifiedNanoseconds, linkCount, isRegularFile, isSymbolicLink,
              flags)
    bool operator==(const FileSnapshot&) const = default;
};

} // namespace vp
