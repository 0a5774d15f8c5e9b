// The exact list of pictures a cleanup may remove, each with the snapshot taken at scan time
// and the copies its group keeps, and the person's approval of that very list.
#pragma once

#include "engine/common/Json.h"
#include "engine/common/Uuid.h"
#include "engine/scan/FileSnapshot.h"
#include "engine/scan/ScanResult.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vp {

/// One copy the group keeps, as it was at scan time.
struct KeeperEvidence {
    std::string path;
    FileSnapshot snapshot;

    VP_RECORD(path, snapshot)
    bool operator==(const KeeperEvidence&) const = default;
};

/// One picture that may leave.
struct PlannedRemoval {
    std::string path; ///< as scanned; "photos-library:…" for a library picture
    std::string root; ///< the chosen folder it was found under
    FileSnapshot snapshot;
    std::string sha256; ///< the id of the group it came from
    std::vector<KeeperEvidence> keepers;
    bool isCloudSynced = false;
    std::optional<std::string> volumeName;
    bool isExternalVolume = false;
    std::optional<MatchKind> matchKind;
    std::optional<std::string> libraryFilename;
    std::optional<std::int64_t> lightroomImageID;
    std::optional<std::int64_t> captureOneImageID;

    /// The library file name when there is one, else the last component of the path.
    std::string name() const;
    /// The group's kind; a plan written without it meant identical copies.
    MatchKind kind() const { return matchKind.value_or(MatchKind::identical); }

    VP_RECORD(path, root, snapshot, sha256, keepers, isCloudSynced, volumeName, isExternalVolume, matchKind,
              libraryFilename, lightroomImageID, captureOneImageID)
    bool operator==(const PlannedRemoval&) const = default;
};

/// Binds an approval to one plan, so it can never be replayed on another.
struct CleanupApproval {
    Uuid planID;
    Timestamp approvedAt;

    VP_RECORD(planID, approvedAt)
    bool operator==(const CleanupApproval&) const = default;
};

/// How many removals lie on one volume.
struct VolumeCount {
    std::string name;
    std::int64_t count = 0;

    bool operator==(const VolumeCount&) const = default;
};

struct CleanupPlan {
    Uuid id;
    Timestamp created;
    /// The distinct roots of every picture of every group reviewed, sorted.
    std::vector<std::string> roots;
    std::vector<PlannedRemoval> removals;

    /// The only way an approval is made.
    CleanupApproval approve(Timestamp at) const { return {id, at}; }

    /// Bytes of every removal, as scanned.
    std::int64_t totalBytes() const;
    std::int64_t cloudSyncedCount() const;
    std::int64_t externalCount() const;
    /// One entry per volume name, sorted by name; removals without a name count under
    /// `unknownVolume`.
    std::vector<VolumeCount> volumes() const;

    static constexpr std::string_view unknownVolume = "Unknown volume";

    VP_RECORD(id, created, roots, removals)
    bool operator==(const CleanupPlan&) const = default;
};

} // namespace vp
