// Turns the person's review marks into a cleanup plan. Planning touches no file: it reads the
// review and refuses, with a sentence the person can act on, marks that would leave a group
// without a copy or remove a picture that must stay.
#pragma once

#include "CleanupPlan.h"

#include "engine/common/Result.h"
#include "engine/review/ReviewSession.h"

#include <string>

namespace vp {

/// Why no plan was made.
struct PlanError {
    enum class Kind { groupWithoutKeeper, markedButNotAllowed, nothingMarked };

    Kind kind = Kind::nothingMarked;
    std::string groupID; ///< groupWithoutKeeper
    std::string path;    ///< markedButNotAllowed
    std::string reason;  ///< markedButNotAllowed

    static PlanError groupWithoutKeeper(std::string groupID) { return {Kind::groupWithoutKeeper, std::move(groupID), {}, {}}; }
    static PlanError markedButNotAllowed(std::string path, std::string reason) {
        return {Kind::markedButNotAllowed, {}, std::move(path), std::move(reason)};
    }
    static PlanError nothingMarked() { return {}; }

    /// One sentence, shown as it stands.
    std::string description() const;

    bool operator==(const PlanError&) const = default;
};

namespace CleanupPlanner {

/// The plan for the session's marks, made at `now`, or the first problem found: groups are
/// examined in display order and, within a group, the keeper check comes first. Stateless;
/// any thread.
Result<CleanupPlan, PlanError> plan(const ReviewSession& session, Timestamp now);

} // namespace CleanupPlanner

} // namespace vp
