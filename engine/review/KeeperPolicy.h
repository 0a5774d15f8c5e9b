// Which copy of a group to keep, and the one-line reason the person reads. A fixed list of rules
// that protect what must never go comes first; the person's own ordered priorities follow.
#pragma once

#include "engine/common/Json.h"
#include "engine/scan/ScanResult.h"
#include "engine/similarity/FaceReading.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vp::KeeperPolicy {

/// The person's vocabulary for ordering copies, stored by raw value in the settings.
enum class Priority {
    mostPixels,
    largestFile,
    filedNotInbox,
    oldest,
    newest,
    shallowest,
    sharpest,
    bestQuality,
    eyesOpen,
    mostSmiles,
};

} // namespace vp::KeeperPolicy

template <>
struct vp::EnumStrings<vp::KeeperPolicy::Priority> {
    using P = vp::KeeperPolicy::Priority;
    static constexpr std::array cases{
        std::pair{P::mostPixels, std::string_view("mostPixels")},
        std::pair{P::largestFile, std::string_view("largestFile")},
        std::pair{P::filedNotInbox, std::string_view("filedNotInbox")},
        std::pair{P::oldest, std::string_view("oldest")},
        std::pair{P::newest, std::string_view("newest")},
        std::pair{P::shallowest, std::string_view("shallowest")},
        std::pair{P::sharpest, std::string_view("sharpest")},
        std::pair{P::bestQuality, std::string_view("bestQuality")},
        std::pair{P::eyesOpen, std::string_view("eyesOpen")},
        std::pair{P::mostSmiles, std::string_view("mostSmiles")},
    };
};

namespace vp::KeeperPolicy {

/// As shown in the settings list: "Most pixels", ...
std::string_view name(Priority priority);
/// The reason given when this priority decides: "It has the most pixels", ...
std::string_view reason(Priority priority);

/// The order used until the person chooses their own.
inline constexpr std::array standard{Priority::eyesOpen,   Priority::bestQuality,   Priority::mostSmiles,
                                     Priority::mostPixels, Priority::filedNotInbox, Priority::oldest,
                                     Priority::shallowest};

/// Revision of the priority vocabulary; a list is saved together with the revision it was made
/// under, so that priorities added later can be slotted into it.
inline constexpr std::int64_t revision = 2;

/// `list` with every priority added that `storedRevision` did not know yet, each placed right
/// after the nearest priority that comes before it in `standard` (at the front when none
/// does). Priorities already in the list are never added again.
std::vector<Priority> upgraded(std::vector<Priority> list, std::int64_t storedRevision);

/// What the rules may ask about a picture. Every function may be left empty: it then answers
/// "not locked" or "nothing measured".
struct Context {
    std::function<bool(const PhotoAsset&)> isLocked;
    std::set<std::string> protectedRoots;
    std::vector<std::string> inboxFolders;
    std::vector<Priority> priorities;
    std::function<std::optional<double>(const PhotoAsset&)> sharpness;
    std::function<std::optional<std::int64_t>(const PhotoAsset&)> quality;
    std::function<std::optional<FaceReading>(const PhotoAsset&)> faces;

    bool isInProtectedRoot(const PhotoAsset& asset) const;
    bool isInInbox(const PhotoAsset& asset) const;
};

/// True when `path` is `folder` or lies below it; "/" holds every path, even one that is not
/// a file path at all.
bool isInFolder(std::string_view path, std::string_view folder);

struct Suggestion {
    std::string keeperID; ///< the keeper's path
    std::string reason;

    VP_RECORD(keeperID, reason)
    bool operator==(const Suggestion&) const = default;
};

/// One way of telling two copies apart.
struct Rule {
    std::string_view reason;
    /// −1 when a is the better copy to keep, +1 when b is, 0 for no verdict.
    std::function<int(const PhotoAsset& a, const PhotoAsset& b)> compare;
};

/// The five fixed rules, then one rule per entry of `context.priorities` in that order
/// (repeated entries repeat their rule). The rules keep their own copy of the context.
std::vector<Rule> rules(const Context& context);

/// The group's members, the best to keep first. A member goes before another when the first
/// rule with a verdict on the two prefers it; members no rule separates keep their order.
std::vector<PhotoAsset> ranked(const DuplicateGroup& group, const Context& context);

/// The first of the ranking, with the reason of the first rule that separates it from the
/// runner-up. An empty group gives an empty keeper.
Suggestion suggestion(const DuplicateGroup& group, const Context& context);

/// Given when no rule separates the keeper from the runner-up.
inline constexpr std::string_view allEqualReason = "All copies are equal; the first by name is suggested";

} // namespace vp::KeeperPolicy
