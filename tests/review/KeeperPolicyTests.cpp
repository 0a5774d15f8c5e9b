#include "engine/review/KeeperPolicy.h"

#include <gtest/gtest.h>
#include <map>

namespace vp {
namespace {

using KeeperPolicy::Priority;

PhotoAsset picture(std::string path, std::int64_t size = 100, std::int64_t modified = 1000) {
    PhotoAsset asset;
    asset.path = std::move(path);
    asset.snapshot.size = size;
    asset.snapshot.modifiedSeconds = modified;
    asset.snapshot.isRegularFile = true;
    asset.pixelWidth = 40;
    asset.pixelHeight = 30;
    return asset;
}

DuplicateGroup groupOf(std::vector<PhotoAsset> members) {
    DuplicateGroup group;
    group.id = "group";
    group.members = std::move(members);
    return group;
}

/// Measurements looked up by path, as the review's index would give them.
struct Measured {
    std::map<std::string, double> sharpness;
    std::map<std::string, std::int64_t> quality;

    KeeperPolicy::Context context(std::vector<Priority> priorities) const {
        KeeperPolicy::Context context;
        context.priorities = std::move(priorities);
        context.inboxFolders = {"/Users/x/Downloads"};
        context.sharpness = [copy = sharpness](const PhotoAsset& asset) -> std::optional<double> {
            if (auto found = copy.find(asset.path); found != copy.end()) return found->second;
            return std::nullopt;
        };
        context.quality = [copy = quality](const PhotoAsset& asset) -> std::optional<std::int64_t> {
            if (auto found = copy.find(asset.path); found != copy.end()) return found->second;
            return std::nullopt;
        };
        return context;
    }
};

TEST(KeeperPolicy, LockedCopyWinsOverALargerSharperOne) {
    const auto locked = picture("/p/small.jpg", 10);
    auto big = picture("/p/big.jpg", 900);
    big.pixelWidth = 4000;
    const Measured measured{{{big.path, 50.0}, {locked.path, 1.0}}, {{big.path, 90}, {locked.path, 20}}};
    auto context = measured.context({KeeperPolicy::standard.begin(), KeeperPolicy::standard.end()});
    context.isLocked = [&](const PhotoAsset& asset) { return asset.path == locked.path; };
    EXPECT_EQ(KeeperPolicy::suggestion(groupOf({big, locked}), context),
              (KeeperPolicy::Suggestion{locked.path, "You locked this copy"}));
}

TEST(KeeperPolicy, FixedRulesComeBeforeEveryPriorityAndInTheirOrder) {
    auto livePhoto = picture("/p/live.heic", 10);
    livePhoto.relationships = {Relationship::livePhoto};
    auto protectedCopy = picture("/vault/copy.heic", 5);
    const auto biggest = picture("/p/biggest.heic", 900);
    auto context = Measured{}.context({Priority::largestFile});
    context.protectedRoots = {"/vault"};

    EXPECT_EQ(KeeperPolicy::suggestion(groupOf({biggest, livePhoto}), context).reason,
              "It cannot be moved on its own");
    EXPECT_EQ(KeeperPolicy::suggestion(groupOf({biggest, livePhoto, protectedCopy}), context),
              (KeeperPolicy::Suggestion{protectedCopy.path, "It is in a folder you protect"}));
}

TEST(KeeperPolicy, AllEqualCopiesSuggestTheFirst) {
    const auto group = groupOf({picture("/p/a.jpg"), picture("/q/a.jpg")});
    const auto context = Measured{}.context({KeeperPolicy::standard.begin(), KeeperPolicy::standard.end()});
    EXPECT_EQ(KeeperPolicy::suggestion(group, context),
              (KeeperPolicy::Suggestion{"/p/a.jpg", "All copies are equal; the first by name is suggested"}));
    EXPECT_EQ(KeeperPolicy::suggestion(groupOf({picture("/p/alone.jpg")}), context).reason,
              KeeperPolicy::allEqualReason);
}

// Two copies a (listed first) and b; which one is kept, and which rule says so.
struct Decision {
    const char* name;
    std::vector<Priority> priorities;
    PhotoAsset a;
    PhotoAsset b;
    Measured measured;
    bool keepsB;
    const char* reason;
};

void PrintTo(const Decision& given, std::ostream* out) {
    *out << given.name;
}

class KeeperPolicyDecides : public ::testing::TestWithParam<Decision> {};

TEST_P(KeeperPolicyDecides, WithTheFirstRuleThatHasAVerdict) {
    const auto& given = GetParam();
    const auto context = given.measured.context(given.priorities);
    const auto result = KeeperPolicy::suggestion(groupOf({given.a, given.b}), context);
    EXPECT_EQ(result.keeperID, given.keepsB ? given.b.path : given.a.path);
    EXPECT_EQ(result.reason, given.reason);
}

PhotoAsset withoutWidth(PhotoAsset asset) {
    asset.pixelWidth.reset();
    return asset;
}

PhotoAsset withNanoseconds(PhotoAsset asset, std::int64_t nanoseconds) {
    asset.snapshot.modifiedNanoseconds = nanoseconds;
    return asset;
}

const std::string sharp = "It is clearly the sharpest";
const std::string larger = "It is the largest file";
const std::string better = "It has a clearly higher quality score";
const std::string filed = "It is filed, not in Downloads";

INSTANTIATE_TEST_SUITE_P(Cases, KeeperPolicyDecides,
                         ::testing::Values(
                             // 2.9 is short of 1.5 × 2.0, so sharpness abstains and size decides.
                             Decision{"SharpnessJustUnderTheRatio",
                                      {Priority::sharpest, Priority::largestFile},
                                      picture("/p/a.jpg", 10),
                                      picture("/p/b.jpg", 20),
                                      {{{"/p/a.jpg", 2.9}, {"/p/b.jpg", 2.0}}, {}},
                                      true,
                                      larger.c_str()},
                             Decision{"SharpnessAtTheRatio",
                                      {Priority::sharpest, Priority::largestFile},
                                      picture("/p/a.jpg", 10),
                                      picture("/p/b.jpg", 20),
                                      {{{"/p/a.jpg", 3.0}, {"/p/b.jpg", 2.0}}, {}},
                                      false,
                                      sharp.c_str()},
                             Decision{"SharpnessOfZeroAbstains",
                                      {Priority::sharpest, Priority::largestFile},
                                      picture("/p/a.jpg", 10),
                                      picture("/p/b.jpg", 20),
                                      {{{"/p/a.jpg", 5.0}, {"/p/b.jpg", 0.0}}, {}},
                                      true,
                                      larger.c_str()},
                             Decision{"SharpnessOfOneOnlyAbstains",
                                      {Priority::sharpest, Priority::largestFile},
                                      picture("/p/a.jpg", 10),
                                      picture("/p/b.jpg", 20),
                                      {{{"/p/a.jpg", 5.0}}, {}},
                                      true,
                                      larger.c_str()},
                             Decision{"QualityNinePointsAbstains",
                                      {Priority::bestQuality, Priority::largestFile},
                                      picture("/p/a.jpg", 10),
                                      picture("/p/b.jpg", 20),
                                      {{}, {{"/p/a.jpg", 71}, {"/p/b.jpg", 62}}},
                                      true,
                                      larger.c_str()},
                             Decision{"QualityTenPointsDecides",
                                      {Priority::bestQuality, Priority::largestFile},
                                      picture("/p/a.jpg", 10),
                                      picture("/p/b.jpg", 20),
                                      {{}, {{"/p/a.jpg", 72}, {"/p/b.jpg", 62}}},
                                      false,
                                      better.c_str()},
                             Decision{"QualityForTheSecondCopy",
                                      {Priority::bestQuality},
                                      picture("/p/a.jpg"),
                                      picture("/p/b.jpg"),
                                      {{}, {{"/p/a.jpg", 50}, {"/p/b.jpg", 60}}},
                                      true,
                                      better.c_str()},
                             Decision{"InboxCopyLoses",
                                      {Priority::filedNotInbox},
                                      picture("/Users/x/Downloads/a.jpg"),
                                      picture("/Users/x/Pictures/a.jpg"),
                                      {},
                                      true,
                                      filed.c_str()},
                             Decision{"DeepInsideTheInboxLoses",
                                      {Priority::filedNotInbox},
                                      picture("/Users/x/Downloads/old/a.jpg"),
                                      picture("/Users/x/a.jpg"),
                                      {},
                                      true,
                                      filed.c_str()},
                             // Same prefix, different folder: not inside the inbox, so nothing to choose.
                             Decision{"PrefixIsNoFolder",
                                      {Priority::filedNotInbox},
                                      picture("/Users/x/Downloads2/a.jpg"),
                                      picture("/Users/x/Pictures/a.jpg"),
                                      {},
                                      false,
                                      KeeperPolicy::allEqualReason.data()},
                             Decision{"MissingDimensionCountsAsNoPixels",
                                      {Priority::mostPixels},
                                      withoutWidth(picture("/p/a.jpg")),
                                      picture("/p/b.jpg"),
                                      {},
                                      true,
                                      "It has the most pixels"},
                             Decision{"OldestByNanoseconds",
                                      {Priority::oldest},
                                      withNanoseconds(picture("/p/a.jpg"), 2),
                                      withNanoseconds(picture("/p/b.jpg"), 1),
                                      {},
                                      true,
                                      "It is the oldest copy, most likely the original"},
                             Decision{"NewestByNanoseconds",
                                      {Priority::newest},
                                      withNanoseconds(picture("/p/a.jpg"), 2),
                                      withNanoseconds(picture("/p/b.jpg"), 1),
                                      {},
                                      false,
                                      "It is the newest copy"},
                             Decision{"ShallowestCountsComponents",
                                      {Priority::shallowest},
                                      picture("/p/q/a.jpg"),
                                      picture("//p//b.jpg"),
                                      {},
                                      true,
                                      "It is nearest the top of its folders"}));

TEST(KeeperPolicy, RankingIsStableWhereNoRuleSeparates) {
    const auto group = groupOf({picture("/p/1.jpg", 5), picture("/p/2.jpg", 9), picture("/p/3.jpg", 5),
                                picture("/p/4.jpg", 9), picture("/p/5.jpg", 1)});
    std::vector<std::string> order;
    for (const auto& member : KeeperPolicy::ranked(group, Measured{}.context({Priority::largestFile})))
        order.push_back(member.path);
    EXPECT_EQ(order, (std::vector<std::string>{"/p/2.jpg", "/p/4.jpg", "/p/1.jpg", "/p/3.jpg", "/p/5.jpg"}));
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
