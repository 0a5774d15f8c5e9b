// The person's marks on one scan result: which copies to remove. Marking is refused for a copy
// that must stay (locked, in a protected folder, tied to files beside it) and for the last
// unmarked copy of a group, so every group always keeps a copy.
#pragma once

#include "KeeperPolicy.h"
#include "LockStore.h"
#include "MarkRefusal.h"
#include "engine/scan/ScanResult.h"
#include "engine/similarity/SimilarityIndex.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vp {

/// A value for one scan, used on one thread; only the lock store inside it is shared.
class ReviewSession {
public:
    /// `locks` must not be null.
    ReviewSession(std::vector<DuplicateGroup> groups, std::shared_ptr<LockStore> locks,
                  std::set<std::string> protectedRoots, std::vector<std::string> inboxFolders);

    /// In display order.
    std::vector<DuplicateGroup> groups;
    std::shared_ptr<LockStore> locks;
    std::set<std::string> protectedRoots;
    std::vector<std::string> inboxFolders;
    std::vector<KeeperPolicy::Priority> priorities{KeeperPolicy::standard.begin(),
                                                   KeeperPolicy::standard.end()};
    /// The scan's measurements, when the scan made any. Shared and never changed, so copying a
    /// session stays cheap and the policy's context can hold on to it.
    std::shared_ptr<const SimilarityIndex> similarity;

    /// The paths marked for removal. Changed only through the operations below, which keep
    /// every refused copy out.
    const std::set<std::string>& marks() const { return m_marks; }

    /// For the keeper policy: locks from the store, measurements from `similarity`. The
    /// context shares the store and the index, so it stays valid after the session is gone.
    KeeperPolicy::Context context() const;

    /// The first group, in display order, with a member at `path`; null when none has.
    /// Pointers stay valid until `groups` changes.
    const DuplicateGroup* group(const std::string& path) const;
    /// That member.
    const PhotoAsset* asset(const std::string& path) const;
    bool isLocked(const std::string& path) const;
    bool isMarked(const std::string& path) const { return m_marks.contains(path); }

    /// Why the copy at `path` may not be marked now; none when it may.
    std::optional<MarkRefusal> refusal(const std::string& path) const;

    /// Marks the copy unless refused. Marking a marked copy again is no refusal.
    std::optional<MarkRefusal> mark(const std::string& path);
    void unmark(const std::string& path);
    std::optional<MarkRefusal> toggle(const std::string& path);
    /// Unmarks the copy and locks it; nothing happens for a path that is in no group.
    void lock(const std::string& path);
    void unlock(const std::string& path);

    /// Marks every copy of the group but the suggested keeper, skipping refused ones; the
    /// number newly marked (0 when no group has that id).
    std::int64_t markSuggested(const std::string& groupID);
    /// The same for every group, in display order; the total newly marked.
    std::int64_t markAllSuggested();
    /// Unmarks the members of the group with that id, or every mark when no id is given.
    void clearMarks(const std::optional<std::string>& groupID = std::nullopt);
    /// After a new scan: takes over the earlier session's marks on copies that are still the
    /// same file (same snapshot) and may still be marked here. Other earlier marks are dropped.
    void carryMarks(const ReviewSession& earlier);

    /// Told when suggested marking marked nothing.
    static constexpr std::string_view nothingMoreToMark =
        "Nothing more to mark: the rest are kept copies, locked or protected.";

    /// Every member of every group whose path is marked, in group order; a picture in two
    /// groups is listed twice.
    std::vector<PhotoAsset> markedAssets() const;
    /// The sum of their sizes.
    std::int64_t markedBytes() const;

private:
    const DuplicateGroup* groupWithID(const std::string& groupID) const;
    std::int64_t markSuggested(const DuplicateGroup& group);

    std::set<std::string> m_marks;
    /// Where each path first appears: (group, member). Built with the session and made again
    /// when `groups` was changed since; a view asks for thousands of pictures a second.
    mutable std::unordered_map<std::string, std::pair<std::size_t, std::size_t>> m_where;
    void index() const;
};

} // namespace vp
