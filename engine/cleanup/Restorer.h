// Putting a picture that a cleanup moved to the Trash back where it was, or beside it. Only the
// very file the cleanup moved is moved back (same device and inode), and nothing is ever
// replaced: an occupied destination is a refusal. Every attempt is added to the cleanup's
// journal, so reports and history show it.
#pragma once

#include "CleanupReport.h"

#include <optional>
#include <string>
#include <string_view>

namespace vp {

struct RestoreOutcome {
    enum class Kind { restored, occupied, failed, notInTrash };

    Kind kind = Kind::notInTrash;
    /// The path for restored and occupied, the reason for failed.
    std::string text;

    static RestoreOutcome restored(std::string path) { return {Kind::restored, std::move(path)}; }
    static RestoreOutcome occupied(std::string path) { return {Kind::occupied, std::move(path)}; }
    static RestoreOutcome failed(std::string reason) { return {Kind::failed, std::move(reason)}; }
    static RestoreOutcome notInTrash() { return {}; }

    bool operator==(const RestoreOutcome&) const = default;
};

namespace Restorer {

/// Moves the item's file from the Trash to `destination` (by default where it was). Never
/// throws, overwrites, copies or deletes. With `journal` (the report's journalPath) the
/// attempt is recorded: a restored outcome, or a note dated in the person's locale. Journal
/// failures do not change the answer. While another process holds the journal or the Trash
/// work, nothing is tried and the answer is `failed(busySentence)`.
RestoreOutcome restore(const ItemReport& item, const std::optional<std::string>& journal,
                       const std::optional<std::string>& destination = std::nullopt);

/// The reason given while another process holds the cleanup's journal or the Trash work.
inline constexpr std::string_view busySentence =
    "A cleanup or another put-back is running right now; try again when it has finished";

/// A free name beside `path`: "photo (restored).jpg", "photo (restored 2).jpg", … up to 999,
/// then one with a random part, unchecked.
std::string alternativePath(const std::string& path);

/// The put-back note for an outcome that is not restored, dated with `time`.
std::string noteText(const RestoreOutcome& outcome, const std::string& time);

/// "2026-12-05 14:03": the local date and time of day, in ISO 8601's order, without seconds.
std::string localDateAndTime(Timestamp time);

} // namespace Restorer

} // namespace vp
