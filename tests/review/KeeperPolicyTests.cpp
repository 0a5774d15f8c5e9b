#include "engine/review/KeeperPolicy.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace vp {
namespace {

using KeeperPolicy::Priority;

/// One copy as the policy sees it; measurements absent unless given.
struct Copy {
    const char* path;
    std::int64_t size = 100;
    std::int64_t nanoseconds = 0;
    std::optional<double> sharpness = std::nullopt;
    std::optional<std::int64_t> quality = std::nullopt;
    bool locked = false;
    bool livePhoto = false;
};

PhotoAsset picture(const Copy& copy) {
    PhotoAsset asset;
    asset.path = copy.path;
    asset.snapshot.size = copy.size;
    asset.snapshot.modifiedSeconds = 1000;
    asset.snapshot.modifiedNanoseconds = copy.nanoseconds;
    asset.pixelWidth = 40;
    asset.pixelHeight = 30;
    if (copy.livePhoto) asset.relationships = {Relationship::livePhoto};
    return asset;
}

DuplicateGroup groupOf(const std::vector<Copy>& copies) {
    DuplicateGroup group;
    for (const Copy& copy : copies)
        group.members.push_back(picture(copy));
    return group;
}

KeeperPolicy::Context contextFor(const std::vector<Copy>& copies, std::vector<Priority> priorities) {
    const auto find = [copies](const PhotoAsset& asset) {
        return *std::find_if(copies.begin(), copies.end(),
                             [&](const Copy& copy) { return asset.path == copy.path; });
    };
    KeeperPolicy::Context context;
    context.priorities = std::move(priorities);
    context.protectedRoots = {"/vault"};
    context.inboxFolders = {"/Users/x/Downloads"};
    context.isLocked = [find](const PhotoAsset& asset) { return find(asset).locked; };
    context.sharpness = [find](const PhotoAsset& asset) { return find(asset).sharpness; };
    context.quality = [find](const PhotoAsset& asset) { return find(asset).quality; };
    return context;
}

// Two copies a (listed first) and b: which one is kept, and which rule says so.
struct Decision {
    const char* name;
    std::vector<Priority> priorities;
    Copy a;
    Copy b;
    char keeper;
    std::string_view reason;
};

void PrintTo(const Decision& given, std::ostream* out) {
    *out << given.name;
}

class KeeperPolicyDecides : public ::testing::TestWithParam<Decision> {};

TEST_P(KeeperPolicyDecides, WithTheFirstRuleThatHasAVerdict) {
    const auto& given = GetParam();
    const auto result = KeeperPolicy::suggestion(groupOf({given.a, given.b}),
                                                 contextFor({given.a, given.b}, given.priorities));
    EXPECT_EQ(result.keeperID, given.keeper == 'a' ? given.a.path : given.b.path);
    EXPECT_EQ(result.reason, given.reason);
}

const std::vector<Priority> standard{KeeperPolicy::standard.begin(), KeeperPolicy::standard.end()};
const std::vector<Priority> sharpThenLarge{Priority::sharpest, Priority::largestFile};
const std::vector<Priority> qualityThenLarge{Priority::bestQuality, Priority::largestFile};
constexpr std::string_view larger = "It is the largest file";

INSTANTIATE_TEST_SUITE_P(
    Cases, KeeperPolicyDecides,
    ::testing::Values(
        Decision{"LockedBeatsBiggerAndSharper",
                 standard,
                 {.path = "/p/big.jpg", .size = 900, .sharpness = 50, .quality = 90},
                 {.path = "/p/small.jpg", .size = 10, .sharpness = 1, .quality = 20, .locked = true},
                 'b',
                 "You locked this copy"},
        Decision{"ProtectedBeatsLivePhoto",
                 standard,
                 {.path = "/p/a.heic", .livePhoto = true},
                 {.path = "/vault/a.heic"},
                 'b',
                 "It is in a folder you protect"},
        Decision{"LivePhotoBeatsBigger",
                 {Priority::largestFile},
                 {.path = "/p/a.heic", .size = 900},
                 {.path = "/p/b.heic", .livePhoto = true},
                 'b',
                 "It cannot be moved on its own"},
        Decision{"AllEqual",
                 standard,
                 {.path = "/p/a.jpg"},
                 {.path = "/q/a.jpg"},
                 'a',
                 "All copies are equal; the first by name is suggested"},
        // 2.9 is short of 1.5 × 2.0: sharpness abstains and the next rule decides.
        Decision{"SharpnessUnderTheRatio",
                 sharpThenLarge,
                 {.path = "/a", .size = 10, .sharpness = 2.9},
                 {.path = "/b", .size = 20, .sharpness = 2.0},
                 'b',
                 larger},
        Decision{"SharpnessAtTheRatio",
                 sharpThenLarge,
                 {.path = "/a", .size = 10, .sharpness = 3.0},
                 {.path = "/b", .size = 20, .sharpness = 2.0},
                 'a',
                 "It is clearly the sharpest"},
        Decision{"SharpnessZeroAbstains",
                 sharpThenLarge,
                 {.path = "/a", .size = 10, .sharpness = 5.0},
                 {.path = "/b", .size = 20, .sharpness = 0.0},
                 'b',
                 larger},
        Decision{"SharpnessOfOneOnlyAbstains",
                 sharpThenLarge,
                 {.path = "/a", .size = 10, .sharpness = 5.0},
                 {.path = "/b", .size = 20},
                 'b',
                 larger},
        Decision{"QualityNinePointsAbstains",
                 qualityThenLarge,
                 {.path = "/a", .size = 10, .quality = 71},
                 {.path = "/b", .size = 20, .quality = 62},
                 'b',
                 larger},
        Decision{"QualityTenPointsDecides",
                 qualityThenLarge,
                 {.path = "/a", .size = 10, .quality = 62},
                 {.path = "/b", .size = 5, .quality = 72},
                 'b',
                 "It has a clearly higher quality score"},
        Decision{"InboxCopyLoses",
                 {Priority::filedNotInbox},
                 {.path = "/Users/x/Downloads/old/a.jpg"},
                 {.path = "/Users/x/Pictures/a.jpg"},
                 'b',
                 "It is filed, not in Downloads"},
        // Downloads2 merely starts like the inbox; it is another folder.
        Decision{"InboxPrefixIsNoFolder",
                 {Priority::filedNotInbox},
                 {.path = "/Users/x/Downloads2/a.jpg"},
                 {.path = "/Users/x/Pictures/a.jpg"},
                 'a',
                 KeeperPolicy::allEqualReason},
        Decision{"OldestToTheNanosecond",
                 {Priority::oldest},
                 {.path = "/a", .nanoseconds = 2},
                 {.path = "/b", .nanoseconds = 1},
                 'b',
                 "It is the oldest copy, most likely the original"},
        Decision{"ShallowestCountsComponents",
                 {Priority::shallowest},
                 {.path = "/p/q/a.jpg"},
                 {.path = "//p//b.jpg"},
                 'b',
                 "It is nearest the top of its folders"}));

TEST(KeeperPolicy, RankingIsStableWhereNoRuleSeparates) {
    const std::vector<Copy> copies{{.path = "/1", .size = 5},
                                   {.path = "/2", .size = 9},
                                   {.path = "/3", .size = 5},
                                   {.path = "/4", .size = 9},
                                   {.path = "/5", .size = 1}};
    std::vector<std::string> order;
    for (const auto& member :
         KeeperPolicy::ranked(groupOf(copies), contextFor(copies, {Priority::largestFile})))
        order.push_back(member.path);
    EXPECT_EQ(order, (std::vector<std::string>{"/2", "/4", "/1", "/3", "/5"}));
}

struct Upgrade {
    std::vector<Priority> stored;
    std::int64_t revision;
    std::vector<Priority> expected;
};

class KeeperPolicyUpgrade : public ::testing::TestWithParam<Upgrade> {};

TEST_P(KeeperPolicyUpgrade, SlotsNewPrioritiesInOnce) {
    const auto& given = GetParam();
    const auto once = KeeperPolicy::upgraded(given.stored, given.revision);
    EXPECT_EQ(once, given.expected);
    EXPECT_EQ(KeeperPolicy::upgraded(once, given.revision), once);
}

using P = Priority;
INSTANTIATE_TEST_SUITE_P(
    Cases, KeeperPolicyUpgrade,
    ::testing::Values(
        Upgrade{{P::mostPixels, P::oldest}, 1, {P::eyesOpen, P::mostSmiles, P::mostPixels, P::oldest}},
        Upgrade{{P::mostPixels, P::oldest}, 2, {P::mostPixels, P::oldest}},
        Upgrade{{P::oldest, P::bestQuality}, 1, {P::eyesOpen, P::oldest, P::bestQuality, P::mostSmiles}},
        Upgrade{{P::largestFile, P::eyesOpen}, 1, {P::largestFile, P::eyesOpen, P::mostSmiles}},
        Upgrade{{P::mostSmiles}, 1, {P::eyesOpen, P::mostSmiles}},
        Upgrade{{}, 0, {P::eyesOpen, P::mostSmiles}}));

} // namespace
} // namespace vp
