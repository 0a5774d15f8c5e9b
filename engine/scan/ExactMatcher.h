// The scan driver for folders and the finder of byte-identical copies. Stages run in order of
// cost: walk, inspection, size, SHA-256 of the first 64 KiB, SHA-256 of the whole content, and a
// byte-by-byte confirmation, so most files are never read and no file is trusted on a digest alone.
#pragma once

#include "CancellationFlag.h"
#include "ContentReader.h"
#include "FolderSource.h"
#include "ParallelMap.h"
#include "ScanProgress.h"
#include "ScanResult.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vp::ExactMatcher {

inline constexpr std::int64_t prefixBytes = 65536;

/// Facts about the volume a picture lives on.
struct VolumeInfo {
    std::optional<std::string> name;
    bool isReadOnly = false;
    bool isExternal = false;

    static VolumeInfo of(const std::string& path);
    bool operator==(const VolumeInfo&) const = default;
};

/// True for folders that a cloud client keeps in sync (their files may vanish or be replaced
/// by the client at any moment).
bool isCloudSynced(const std::string& path);

/// How candidates are checked for decodability. The folder source's own checks by default;
/// the benchmark replaces them to time content matching alone on files of random bytes.
struct PictureChecks {
    std::function<FolderSource::Inspection(const std::string&, PhotoFormat)> inspect = FolderSource::inspect;
    std::function<bool(const std::string&)> decodesFully = FolderSource::decodesFully;
};

/// Points between stages where tests change files on disk to prove each change is caught.
struct ScanHooks {
    std::function<void()> afterInspection;
    std::function<void()> afterPrefixDigests;
    std::function<void()> afterFullDigests;
    ContentReader::ReadHook afterRead;
};

/// Scans the chosen roots. Never throws: every unusable root, folder or file is reported in the
/// result. `progress` is called on this thread only. A cancelled scan returns what it gathered,
/// with `cancelled` set and no groups from unfinished stages.
ScanResult scan(const std::vector<std::string>& roots, bool keepPictures,
                const std::optional<FolderSource::NameSet>& only, const std::vector<std::string>& listed,
                const CancellationFlag& cancel, const ScanProgressCallback& progress,
                const PictureChecks& checks = {}, const ScanHooks& hooks = {});

} // namespace vp::ExactMatcher
