// What marking copies inside a catalog shares between the two catalog kinds: the skipped pair a
// person reads, the re-checks of each photo and its keepers against the plan's snapshots, and
// reading the records of earlier markings back.
#pragma once

#include "CatalogFiles.h"
#include "engine/cleanup/CleanupPlan.h"
#include "engine/common/Json.h"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

namespace vp {

/// A planned photo that was left as it was, and why.
struct MarkSkip {
    std::string name; ///< the file name
    std::string reason;

    VP_RECORD(name, reason)
    bool operator==(const MarkSkip&) const = default;
};

namespace CatalogMarking {

inline constexpr std::string_view notAtThatPlace = "No longer in the catalog at that place.";
inline constexpr std::string_view changedSinceScan = "Changed or moved since the scan.";
inline constexpr std::string_view noKeeperUnchanged = "No copy its group keeps is still there unchanged.";
inline constexpr std::string_view approvalDoesNotMatchText =
    "This approval is for a different set of photos. Review them again.";
inline constexpr std::string_view backupFailedText = "The catalog could not be backed up, so nothing was changed: ";
inline constexpr std::string_view writeFailedText = "The catalog was not changed: ";

/// The file is still the planned one: read without following a final link, a regular file
/// that is no link, with the device, inode, size and modification time of the plan's snapshot.
bool isUnchangedOnDisk(const PlannedRemoval& removal);

/// At least one copy the group keeps is still there as its evidence recorded it (contents are
/// not compared: that was done at scan time, and reading every keeper again would be slow).
bool aKeeperIsUnchanged(const PlannedRemoval& removal);

/// The record marked as undone, saved by `save`. The catalog is restored already, so a record
/// that cannot be saved only leaves the history showing the marking as not undone.
template <class R, class Save>
R restoredRecord(const R& record, Save&& save) {
    R restored = record;
    restored.restored = true;
    try {
        save(restored);
    } catch (const std::exception&) {
    }
    return restored;
}

/// Every record in `folder` that decodes, newest first; damaged files are left out.
template <class R>
std::vector<R> readHistory(const std::string& folder) {
    std::vector<R> records;
    for (const auto& text : CatalogFiles::recordTexts(folder))
        if (auto decoded = decodeJsonText<R>(text)) records.push_back(std::move(decoded.value()));
    std::stable_sort(records.begin(), records.end(), [](const R& a, const R& b) { return a.date > b.date; });
    return records;
}

} // namespace CatalogMarking
} // namespace vp
