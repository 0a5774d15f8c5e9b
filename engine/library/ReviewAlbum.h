// Carries out an approved plan for library pictures: they are never deleted or moved, only
// added to one album, the review album, where the person looks at them and deletes them in the
// photo manager itself. Each picture, and at least one picture its group keeps, must still be
// as scanned.
#pragma once

#include "PhotoLibrary.h"
#include "engine/cleanup/CleanupPlan.h"
#include "engine/common/Result.h"
#include "engine/common/Uuid.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vp::ReviewAlbum {

inline constexpr std::string_view name = "Velmo Pristel Review";
/// Titles the review album had before; an album found under one is retitled and reused.
inline constexpr std::array<std::string_view, 1> formerNames{"Kavrilo Review"};

inline constexpr std::string_view changedText = "Changed or removed in Photos since the scan.";
inline constexpr std::string_view noKeeperText = "No photo its group keeps is still there unchanged.";

struct Skip {
    std::string name;
    std::string reason;

    VP_RECORD(name, reason)
    bool operator==(const Skip&) const = default;
};

struct Report {
    Uuid id;
    std::string album;
    std::vector<std::string> added; ///< identifiers, as the library returned them
    std::vector<Skip> skipped;
    Timestamp finished;
    /// Always 0: adding to an album frees nothing; kept so the report sits beside the others.
    std::int64_t bytesFreed = 0;

    VP_RECORD(id, album, added, skipped, finished, bytesFreed)
    bool operator==(const Report&) const = default;
};

struct Refusal {
    enum class Kind { writeFailed, approvalDoesNotMatch, notLibraryPhotos };
    Kind kind = Kind::writeFailed;
    std::string message; ///< writeFailed: the library's own words

    std::string description() const;
    bool operator==(const Refusal&) const = default;
};

/// Blocks while the library changes: never on the main thread. A refusal changed nothing.
Result<Report, Refusal> add(const CleanupPlan& plan, const CleanupApproval& approval, const PhotoLibraryReading& reader,
                            PhotoLibraryWriting& writer);

/// The item still exists with the modification time it had when scanned (to the millisecond).
bool unchanged(const std::string& id, const FileSnapshot& snapshot, const PhotoLibraryReading& reader);

} // namespace vp::ReviewAlbum
