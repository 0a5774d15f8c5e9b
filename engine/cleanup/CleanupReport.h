// What happened to each planned picture of a cleanup, as the journal tells it. The report a
// person sees after a cleanup and the record that survives a crash are the same thing.
#pragma once

#include "CleanupPlan.h"

#include "engine/common/Json.h"
#include "engine/common/Uuid.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp {

/// What happened to one planned picture.
struct ItemOutcome {
    enum class Kind { movedToTrash, skipped, failed, unknown, restored };

    Kind kind = Kind::skipped;
    /// movedToTrash: where the picture now is in the Trash, when known.
    std::optional<std::string> trashPath;
    /// The reason for skipped, failed and unknown; the new path for restored.
    std::string text;

    static ItemOutcome movedToTrash(std::optional<std::string> trashPath) { return {Kind::movedToTrash, std::move(trashPath), {}}; }
    static ItemOutcome skipped(std::string reason) { return {Kind::skipped, {}, std::move(reason)}; }
    static ItemOutcome failed(std::string reason) { return {Kind::failed, {}, std::move(reason)}; }
    static ItemOutcome unknown(std::string reason) { return {Kind::unknown, {}, std::move(reason)}; }
    static ItemOutcome restored(std::string path) { return {Kind::restored, {}, std::move(path)}; }

    /// The short word of reports: "Moved to Trash", "Skipped", "Failed", "Check by hand", "Put back".
    std::string_view word() const;
    /// The line under the word; absent for movedToTrash.
    std::optional<std::string> detail() const;

    VP_RECORD(kind, trashPath, text)
    bool operator==(const ItemOutcome&) const = default;
};

template <>
struct EnumStrings<ItemOutcome::Kind> {
    static constexpr std::array cases{
        std::pair{ItemOutcome::Kind::movedToTrash, std::string_view("movedToTrash")},
        std::pair{ItemOutcome::Kind::skipped, std::string_view("skipped")},
        std::pair{ItemOutcome::Kind::failed, std::string_view("failed")},
        std::pair{ItemOutcome::Kind::unknown, std::string_view("unknown")},
        std::pair{ItemOutcome::Kind::restored, std::string_view("restored")},
    };
};

struct ItemReport {
    PlannedRemoval removal;
    ItemOutcome outcome;
    Timestamp at;
    /// Lines added after the run, such as put-back attempts, oldest first.
    std::vector<std::string> notes;

    VP_RECORD(removal, outcome, at, notes)
    bool operator==(const ItemReport&) const = default;
};

struct CleanupReport {
    Uuid planID;
    Timestamp started;
    std::optional<Timestamp> finished;
    /// In plan order.
    std::vector<ItemReport> items;
    /// True when the outcomes were worked out after the cleanup was interrupted.
    bool reconciled = false;
    std::string journalPath;

    const Uuid& id() const { return planID; }

    std::int64_t count(const std::function<bool(const ItemOutcome&)>& predicate) const;
    std::int64_t count(ItemOutcome::Kind kind) const;
    std::int64_t moved() const { return count(ItemOutcome::Kind::movedToTrash); }
    std::int64_t skipped() const { return count(ItemOutcome::Kind::skipped); }
    std::int64_t failed() const { return count(ItemOutcome::Kind::failed); }
    std::int64_t unknown() const { return count(ItemOutcome::Kind::unknown); }
    std::int64_t restored() const { return count(ItemOutcome::Kind::restored); }
    /// Scan-time bytes of the pictures now in the Trash. Overflow aborts: it would mean a
    /// damaged record, and a wrong total must never be shown.
    std::int64_t movedBytes() const;

    VP_RECORD(planID, started, finished, items, reconciled, journalPath)
    bool operator==(const CleanupReport&) const = default;
};

} // namespace vp

// An outcome is written as an object with one key, the case name, holding the case's values:
// {"movedToTrash":{"trashPath":"…"}} or {"skipped":{"_0":"…"}}.
template <>
struct nlohmann::adl_serializer<vp::ItemOutcome, void> {
    static void to_json(vp::Json& json, const vp::ItemOutcome& outcome);
    static void from_json(const vp::Json& json, vp::ItemOutcome& outcome);
};
