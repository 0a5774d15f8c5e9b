#include "CleanupPlanner.h"

#include "engine/common/PathRules.h"
#include "engine/common/Text.h"

#include <set>

namespace vp {

std::string PlanError::description() const {
    switch (kind) {
    case Kind::groupWithoutKeeper: return "Group " + groupID.substr(0, 12) + " would keep no copy.";
    case Kind::markedButNotAllowed: return lastPathComponent(path) + " cannot be moved: " + reason;
    case Kind::nothingMarked: return "Nothing is marked.";
    }
    return {};
}

namespace CleanupPlanner {

namespace {

std::optional<std::string> whyItMustStay(const ReviewSession& session, const PhotoAsset& member) {
    if (session.locks && session.locks->isLocked(member)) return "it is locked";
    if (auto reason = member.fixedKeepReason()) return reason;
    for (const std::string& folder : session.protectedRoots)
        if (PathRules::isInside(member.path, folder)) return "it is in a protected folder";
    return std::nullopt;
}

PlannedRemoval removal(const PhotoAsset& member, const DuplicateGroup& group, const std::vector<KeeperEvidence>& keepers) {
    PlannedRemoval result;
    result.path = member.path;
    result.root = member.root;
    result.snapshot = member.snapshot;
    result.sha256 = group.id;
    result.keepers = keepers;
    result.isCloudSynced = member.isCloudSynced;
    result.volumeName = member.volumeName;
    result.isExternalVolume = member.isExternalVolume;
    result.matchKind = group.kind;
    if (member.library) result.libraryFilename = member.library->filename;
    if (member.lightroom) result.lightroomImageID = member.lightroom->imageID;
    if (member.captureOne) result.captureOneImageID = member.captureOne->imageID;
    return result;
}

} // namespace

Result<CleanupPlan, PlanError> plan(const ReviewSession& session, Timestamp now) {
    const auto& marks = session.marks();
    if (marks.empty()) return Unexpected{PlanError::nothingMarked()};

    std::set<std::string> roots;
    for (const auto& group : session.groups)
        for (const auto& member : group.members) roots.insert(member.root);

    std::vector<PlannedRemoval> removals;
    std::set<std::string> planned;
    for (const auto& group : session.groups) {
        std::vector<const PhotoAsset*> marked;
        std::vector<KeeperEvidence> keepers;
        for (const auto& member : group.members) {
            if (marks.contains(member.path))
                marked.push_back(&member);
            else
                keepers.push_back({member.path, member.snapshot});
        }
        if (marked.empty()) continue;
        if (keepers.empty()) return Unexpected{PlanError::groupWithoutKeeper(group.id)};
        for (const PhotoAsset* member : marked) {
            if (auto reason = whyItMustStay(session, *member))
                return Unexpected{PlanError::markedButNotAllowed(member->path, std::move(*reason))};
            // The journal knows a picture by its path, so a picture in two groups is planned
            // once, with the keepers of the first group that has it.
            if (!planned.insert(member->path).second) continue;
            removals.push_back(removal(*member, group, keepers));
        }
    }
    return CleanupPlan{Uuid::random(), now, {roots.begin(), roots.end()}, std::move(removals)};
}

} // namespace CleanupPlanner

} // namespace vp
