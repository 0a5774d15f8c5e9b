#include "KeeperPolicy.h"

#include "engine/similarity/FaceCheck.h"
#include "engine/similarity/QualityScore.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace vp::KeeperPolicy {

std::string_view name(Priority priority) {
    switch (priority) {
    case Priority::mostPixels:
        return "Most pixels";
    case Priority::largestFile:
        return "Largest file";
    case Priority::filedNotInbox:
        return "Filed, not in Downloads";
    case Priority::oldest:
        return "Oldest";
    case Priority::newest:
        return "Newest";
    case Priority::shallowest:
        return "Nearest the top of its folders";
    case Priority::sharpest:
        return "Clearly sharpest (abstains when unclear)";
    case Priority::bestQuality:
        return "Clearly highest quality score (abstains when close)";
    case Priority::eyesOpen:
        return "Fewest closed eyes (same people in each photo)";
    case Priority::mostSmiles:
        return "Most smiles (same people in each photo)";
    }
    return {};
}

std::string_view reason(Priority priority) {
    switch (priority) {
    case Priority::mostPixels:
        return "It has the most pixels";
    case Priority::largestFile:
        return "It is the largest file";
    case Priority::filedNotInbox:
        return "It is filed, not in Downloads";
    case Priority::oldest:
        return "It is the oldest copy, most likely the original";
    case Priority::newest:
        return "It is the newest copy";
    case Priority::shallowest:
        return "It is nearest the top of its folders";
    case Priority::sharpest:
        return "It is clearly the sharpest";
    case Priority::bestQuality:
        return "It has a clearly higher quality score";
    case Priority::eyesOpen:
        return "Fewer eyes look closed in it";
    case Priority::mostSmiles:
        return "More people are smiling in it";
    }
    return {};
}

namespace {

/// Priorities that came after the first revision, with the revision that brought each, in the
/// order they are slotted in.
constexpr std::array<std::pair<Priority, std::int64_t>, 2> introduced{
    std::pair{Priority::eyesOpen, std::int64_t{2}},
    std::pair{Priority::mostSmiles, std::int64_t{2}},
};

} // namespace

std::vector<Priority> upgraded(std::vector<Priority> list, std::int64_t storedRevision) {
    for (const auto& [priority, since] : introduced) {
        if (storedRevision >= since || std::ranges::find(list, priority) != list.end()) continue;
        const auto position = std::ranges::find(standard, priority);
        // Walk back through what comes before it in the standard order; the nearest one the
        // person kept is where it belongs.
        auto insertAt = list.begin();
        for (auto before = position; before != standard.begin();) {
            --before;
            if (const auto anchor = std::ranges::find(list, *before); anchor != list.end()) {
                insertAt = anchor + 1;
                break;
            }
        }
        list.insert(insertAt, priority);
    }
    return list;
}

bool isInFolder(std::string_view path, std::string_view folder) {
    if (folder == "/") return true;
    if (path == folder) return true;
    return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

bool Context::isInProtectedRoot(const PhotoAsset& asset) const {
    return std::ranges::any_of(protectedRoots,
                               [&](const std::string& root) { return isInFolder(asset.path, root); });
}

bool Context::isInInbox(const PhotoAsset& asset) const {
    return std::ranges::any_of(inboxFolders,
                               [&](const std::string& inbox) { return isInFolder(asset.path, inbox); });
}

namespace {

using Comparison = std::function<int(const PhotoAsset&, const PhotoAsset&)>;

/// Prefers the copy for which `test` holds.
template <class Test>
Comparison preferring(Test test) {
    return [test](const PhotoAsset& a, const PhotoAsset& b) {
        const bool forA = test(a), forB = test(b);
        if (forA == forB) return 0;
        return forA ? -1 : 1;
    };
}

/// Prefers the larger value of `measure`.
template <class Measure>
Comparison preferringMore(Measure measure) {
    return [measure](const PhotoAsset& a, const PhotoAsset& b) {
        const auto forA = measure(a), forB = measure(b);
        if (forA == forB) return 0;
        return forA > forB ? -1 : 1;
    };
}

/// Prefers the smaller value of `measure`.
template <class Measure>
Comparison preferringLess(Measure measure) {
    return [measure](const PhotoAsset& a, const PhotoAsset& b) {
        const auto forA = measure(a), forB = measure(b);
        if (forA == forB) return 0;
        return forA < forB ? -1 : 1;
    };
}

std::int64_t pixels(const PhotoAsset& asset) {
    return asset.pixelWidth.value_or(0) * asset.pixelHeight.value_or(0);
}

std::pair<std::int64_t, std::int64_t> modified(const PhotoAsset& asset) {
    return {asset.snapshot.modifiedSeconds, asset.snapshot.modifiedNanoseconds};
}

/// Components as the path splits into them: "/a/b.jpg" has three, the root counting as one.
std::int64_t depth(std::string_view path) {
    std::int64_t count = path.starts_with('/') ? 1 : 0;
    bool inComponent = false;
    for (const char character : path) {
        if (character == '/') {
            inComponent = false;
        } else if (!inComponent) {
            inComponent = true;
            ++count;
        }
    }
    return count;
}

template <class T>
std::optional<T> ask(const std::function<std::optional<T>(const PhotoAsset&)>& lookup,
                     const PhotoAsset& asset) {
    return lookup ? lookup(asset) : std::nullopt;
}

Comparison comparison(Priority priority, const std::shared_ptr<const Context>& context) {
    switch (priority) {
    case Priority::mostPixels:
        return preferringMore(pixels);
    case Priority::largestFile:
        return preferringMore([](const PhotoAsset& asset) { return asset.snapshot.size; });
    case Priority::filedNotInbox:
        return preferring([context](const PhotoAsset& asset) { return !context->isInInbox(asset); });
    case Priority::oldest:
        return preferringLess(modified);
    case Priority::newest:
        return preferringMore(modified);
    case Priority::shallowest:
        return preferringLess([](const PhotoAsset& asset) { return depth(asset.path); });
    case Priority::sharpest:
        // Sharpness measures differ a little between versions of one photo; only a large
        // difference says one is really blurred.
        return [context](const PhotoAsset& a, const PhotoAsset& b) {
            const auto forA = ask(context->sharpness, a), forB = ask(context->sharpness, b);
            if (!forA || !forB || *forA <= 0 || *forB <= 0) return 0;
            if (*forA >= 1.5 * *forB) return -1;
            if (*forB >= 1.5 * *forA) return 1;
            return 0;
        };
    case Priority::bestQuality:
        return [context](const PhotoAsset& a, const PhotoAsset& b) {
            const auto forA = ask(context->quality, a), forB = ask(context->quality, b);
            if (!forA || !forB) return 0;
            if (*forA >= *forB + QualityScore::margin) return -1;
            if (*forB >= *forA + QualityScore::margin) return 1;
            return 0;
        };
    case Priority::eyesOpen:
        return [context](const PhotoAsset& a, const PhotoAsset& b) {
            return FaceCheck::compareEyes(ask(context->faces, a), ask(context->faces, b));
        };
    case Priority::mostSmiles:
        return [context](const PhotoAsset& a, const PhotoAsset& b) {
            return FaceCheck::compareSmiles(ask(context->faces, a), ask(context->faces, b));
        };
    }
    return [](const PhotoAsset&, const PhotoAsset&) { return 0; };
}

struct Verdict {
    int result = 0;                         ///< as a rule's comparison
    std::optional<std::string_view> reason; ///< of the deciding rule
};

/// The first verdict of `rules` on (a, b); none when no rule decides.
Verdict verdict(const std::vector<Rule>& rules, const PhotoAsset& a, const PhotoAsset& b) {
    for (const Rule& rule : rules)
        if (const int result = rule.compare(a, b); result != 0) return {result, rule.reason};
    return {};
}

} // namespace

std::vector<Rule> rules(const Context& context) {
    const auto shared = std::make_shared<const Context>(context);
    std::vector<Rule> result{
        {"You locked this copy", preferring([shared](const PhotoAsset& asset) {
             return shared->isLocked && shared->isLocked(asset);
         })},
        {"It is in a folder you protect",
         preferring([shared](const PhotoAsset& asset) { return shared->isInProtectedRoot(asset); })},
        {"It cannot be moved on its own",
         preferring([](const PhotoAsset& asset) { return asset.fixedKeepReason().has_value(); })},
        {"You worked on this copy in Lightroom Classic",
         preferring([](const PhotoAsset& asset) { return asset.lightroom && asset.lightroom->workedOn(); })},
        {"You worked on this copy in Capture One", preferring([](const PhotoAsset& asset) {
             return asset.captureOne && asset.captureOne->workedOn();
         })},
    };
    for (const Priority priority : context.priorities)
        result.push_back({reason(priority), comparison(priority, shared)});
    return result;
}

std::vector<PhotoAsset> ranked(const DuplicateGroup& group, const Context& context) {
    const auto inForce = rules(context);
    std::vector<PhotoAsset> members = group.members;
    // An insertion sort rather than std::stable_sort: rules that abstain on close calls
    // (sharpness, quality score) do not give a strict weak ordering, which the standard
    // algorithms require. Insertion stays well defined and stable, and groups are small.
    for (std::size_t index = 1; index < members.size(); ++index) {
        std::size_t place = index;
        while (place > 0 && verdict(inForce, members[index], members[place - 1]).result < 0)
            --place;
        if (place == index) continue;
        std::rotate(members.begin() + static_cast<std::ptrdiff_t>(place),
                    members.begin() + static_cast<std::ptrdiff_t>(index),
                    members.begin() + static_cast<std::ptrdiff_t>(index) + 1);
    }
    return members;
}

Suggestion suggestion(const DuplicateGroup& group, const Context& context) {
    const auto members = ranked(group, context);
    if (members.empty()) return {{}, std::string(allEqualReason)};
    const PhotoAsset& keeper = members.front();
    const PhotoAsset& runnerUp = members.size() > 1 ? members[1] : keeper;
    return {keeper.path,
            std::string(verdict(rules(context), keeper, runnerUp).reason.value_or(allEqualReason))};
}

} // namespace vp::KeeperPolicy
