#include "ReviewSession.h"

#include <algorithm>

#include <cassert>
#include <utility>

namespace vp {

ReviewSession::ReviewSession(std::vector<DuplicateGroup> groups, std::shared_ptr<LockStore> locks,
                             std::set<std::string> protectedRoots, std::vector<std::string> inboxFolders)
    : groups(std::move(groups)), locks(std::move(locks)), protectedRoots(std::move(protectedRoots)),
      inboxFolders(std::move(inboxFolders)) {
    assert(this->locks != nullptr);
    index();
}

void ReviewSession::index() const {
    m_where.clear();
    for (std::size_t group = 0; group < groups.size(); ++group)
        for (std::size_t member = 0; member < groups[group].members.size(); ++member)
            m_where.try_emplace(groups[group].members[member].path, group, member); // the first stays
}

KeeperPolicy::Context ReviewSession::context() const {
    KeeperPolicy::Context context;
    context.isLocked = [store = locks](const PhotoAsset& asset) { return store->isLocked(asset); };
    context.protectedRoots = protectedRoots;
    context.inboxFolders = inboxFolders;
    context.priorities = priorities;
    // Pictures that were never measured (exact copies found without an index) give nothing,
    // so the measured priorities never decide for them.
    const auto index = similarity;
    context.sharpness = [index](const PhotoAsset& asset) -> std::optional<double> {
        if (!index) return std::nullopt;
        const auto features = index->featuresFor(asset);
        if (!features) return std::nullopt;
        return features->sharpness;
    };
    context.quality = [index](const PhotoAsset& asset) -> std::optional<std::int64_t> {
        if (!index) return std::nullopt;
        const auto features = index->featuresFor(asset);
        if (!features) return std::nullopt;
        return features->qualityScore;
    };
    context.faces = [index](const PhotoAsset& asset) -> std::optional<FaceReading> {
        if (!index) return std::nullopt;
        const auto features = index->featuresFor(asset);
        if (!features) return std::nullopt;
        return features->faces;
    };
    return context;
}

const DuplicateGroup* ReviewSession::group(const std::string& path) const {
    const PhotoAsset* member = asset(path);
    return member != nullptr ? &groups[m_where.at(path).first] : nullptr;
}

const PhotoAsset* ReviewSession::asset(const std::string& path) const {
    const auto lookUp = [&]() -> const PhotoAsset* {
        const auto found = m_where.find(path);
        if (found == m_where.end()) return nullptr;
        const auto [group, member] = found->second;
        if (group >= groups.size() || member >= groups[group].members.size()) return nullptr;
        const PhotoAsset& asset = groups[group].members[member];
        return asset.path == path ? &asset : nullptr;
    };
    if (const PhotoAsset* found = lookUp()) return found;
    // Not where the index says: either in no group, or `groups` changed since it was made.
    const bool anywhere = std::any_of(groups.begin(), groups.end(), [&](const DuplicateGroup& candidate) {
        return std::any_of(candidate.members.begin(), candidate.members.end(),
                           [&](const PhotoAsset& member) { return member.path == path; });
    });
    if (!anywhere) return nullptr;
    index();
    return lookUp();
}

bool ReviewSession::isLocked(const std::string& path) const {
    const PhotoAsset* member = asset(path);
    return member != nullptr && locks->isLocked(*member);
}

std::optional<MarkRefusal> ReviewSession::refusal(const std::string& path) const {
    const DuplicateGroup* found = group(path);
    const PhotoAsset* member = asset(path);
    if (found == nullptr || member == nullptr) return MarkRefusal::notFound();
    if (locks->isLocked(*member)) return MarkRefusal::locked();
    for (const std::string& folder : protectedRoots)
        if (KeeperPolicy::isInFolder(path, folder)) return MarkRefusal::protectedFolder(folder);
    if (auto reason = member->fixedKeepReason()) return MarkRefusal::fixed(std::move(*reason));
    bool othersAllMarked = true;
    for (const PhotoAsset& other : found->members)
        if (other.path != path && !isMarked(other.path)) othersAllMarked = false;
    if (othersAllMarked) return MarkRefusal::lastCopy();
    return std::nullopt;
}

std::optional<MarkRefusal> ReviewSession::mark(const std::string& path) {
    if (isMarked(path)) return std::nullopt;
    if (auto refused = refusal(path)) return refused;
    m_marks.insert(path);
    return std::nullopt;
}

void ReviewSession::unmark(const std::string& path) {
    m_marks.erase(path);
}

std::optional<MarkRefusal> ReviewSession::toggle(const std::string& path) {
    if (!isMarked(path)) return mark(path);
    unmark(path);
    return std::nullopt;
}

void ReviewSession::lock(const std::string& path) {
    const PhotoAsset* member = asset(path);
    if (member == nullptr) return;
    unmark(path);
    locks->add(*member);
}

void ReviewSession::unlock(const std::string& path) {
    if (const PhotoAsset* member = asset(path)) locks->remove(*member);
}

const DuplicateGroup* ReviewSession::groupWithID(const std::string& groupID) const {
    for (const DuplicateGroup& candidate : groups)
        if (candidate.id == groupID) return &candidate;
    return nullptr;
}

std::int64_t ReviewSession::markSuggested(const std::string& groupID) {
    const DuplicateGroup* found = groupWithID(groupID);
    return found != nullptr ? markSuggested(*found) : 0;
}

std::int64_t ReviewSession::markAllSuggested() {
    std::int64_t marked = 0;
    // Group by group rather than by id: should two groups ever share an id, each is still marked.
    for (const DuplicateGroup& each : groups)
        marked += markSuggested(each);
    return marked;
}

std::int64_t ReviewSession::markSuggested(const DuplicateGroup& group) {
    const auto policyContext = context();
    const std::string keeper = KeeperPolicy::suggestion(group, policyContext).keeperID;
    std::int64_t marked = 0;
    // The keeper is never marked, so the group keeps at least that copy whatever else happens.
    for (const PhotoAsset& member : KeeperPolicy::ranked(group, policyContext)) {
        if (member.path == keeper || isMarked(member.path) || refusal(member.path)) continue;
        m_marks.insert(member.path);
        ++marked;
    }
    return marked;
}

void ReviewSession::clearMarks(const std::optional<std::string>& groupID) {
    if (!groupID) {
        m_marks.clear();
        return;
    }
    if (const DuplicateGroup* found = groupWithID(*groupID))
        for (const PhotoAsset& member : found->members)
            unmark(member.path);
}

void ReviewSession::carryMarks(const ReviewSession& earlier) {
    for (const std::string& path : earlier.marks()) {
        const PhotoAsset* before = earlier.asset(path);
        const PhotoAsset* now = asset(path);
        if (before == nullptr || now == nullptr || !before->snapshot.isUnchanged(now->snapshot)) continue;
        if (!refusal(path)) m_marks.insert(path);
    }
}

std::vector<PhotoAsset> ReviewSession::markedAssets() const {
    std::vector<PhotoAsset> result;
    for (const DuplicateGroup& candidate : groups)
        for (const PhotoAsset& member : candidate.members)
            if (isMarked(member.path)) result.push_back(member);
    return result;
}

std::int64_t ReviewSession::markedBytes() const {
    std::int64_t total = 0;
    for (const PhotoAsset& member : markedAssets())
        total += member.snapshot.size;
    return total;
}

} // namespace vp
