// The scan driver for folders and the finder of byte-identical copies. Stages run in order of
// cost: walk, inspection, size, SHA-256 of the first 64 KiB, SHA-256 of the whole content, and a
// byte-by-byte confirmation, so most files are never read and no file is trusted on a digest alone.
#pragma once

#include "CancellationFlag.h"
#include "ContentReader.h"
#include "FolderSource.h"
#include "ParallelMap.h"
#include "ScanCache.h"
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
    /// Whether a scan cache may keep these checks' answers. The folder source's own checks are
    /// always kept; other checks only when this is set (tests of the cache).
    bool cacheAnswers = false;
};

/// Points between stages where tests change files on disk to prove each change is caught.
struct ScanHooks {
    std::function<void()> afterInspection;
    std::function<void()> afterPrefixDigests;
    std::function<void()> afterFullDigests;
    ContentReader::ReadHook afterRead;
};

/// Time one stage of a scan took, in seconds: on the clock, and of the whole process's CPU.
struct StageTime {
    double wall = 0;
    double cpu = 0;
};

/// The time of each stage of one scan.
struct StageTimes {
    StageTime walk;         ///< preparing the roots and walking them
    StageTime inspect;      ///< reading every candidate's header
    StageTime size;         ///< grouping by size
    StageTime prefixDigest; ///< SHA-256 of the first 64 KiB
    StageTime fullDigest;   ///< SHA-256 of the whole content
    StageTime confirm;      ///< byte-by-byte comparison
    StageTime decode;       ///< full decode of each group's first member
    StageTime finish;       ///< building the pictures, sorting, writing the cache
};

/// What a scan may use besides the files: a cache of what earlier scans read (inspections,
/// digests, confirmations and decode verdicts of unchanged files, see ScanCache), and a place
/// to put the time each stage took. The cache's inspections and verdicts are used only with
/// the folder source's own checks (or with `cacheAnswers`); other checks still use its
/// digests and confirmations.
/// The cache is saved at the end of the scan.
struct ScanAids {
    ScanCache* cache = nullptr;
    StageTimes* times = nullptr;
};

/// Scans the chosen roots. Never throws: every unusable root, folder or file is reported in the
/// result. `progress` is called on this thread only. A cancelled scan returns what it gathered,
/// with `cancelled` set and no groups from unfinished stages.
ScanResult scan(const std::vector<std::string>& roots, bool keepPictures,
                const std::optional<FolderSource::NameSet>& only, const std::vector<std::string>& listed,
                const CancellationFlag& cancel, const ScanProgressCallback& progress,
                const PictureChecks& checks = {}, const ScanHooks& hooks = {}, const ScanAids& aids = {});

} // namespace vp::ExactMatcher
