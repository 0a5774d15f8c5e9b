#include "engine/cleanup/CleanupPlanner.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

class Planning : public ::testing::Test {
protected:
    PhotoAsset picture(std::string_view relative, std::string root = {}) const {
        PhotoAsset asset;
        asset.path = dir.write(relative, "same bytes");
        asset.root = root.empty() ? dir.path() : root;
        asset.snapshot = *FileSnapshot::read(asset.path);
        return asset;
    }
    static DuplicateGroup group(std::string id, std::vector<PhotoAsset> members, MatchKind kind = MatchKind::identical) {
        DuplicateGroup result;
        result.id = std::move(id);
        result.members = std::move(members);
        result.kind = kind;
        return result;
    }
    ReviewSession session(std::vector<DuplicateGroup> groups, std::set<std::string> protectedRoots = {}) const {
        return ReviewSession(std::move(groups), store, std::move(protectedRoots), {});
    }
    testing::TempDir dir;
    std::shared_ptr<LockStore> store = std::make_shared<LockStore>();
    Timestamp now = std::chrono::sys_days{std::chrono::year{2024} / 5 / 1};
};

TEST_F(Planning, OneMarkedCopyOfThreeCarriesBothOthersAsEvidence) {
    const auto a = picture("A/a.jpg"), b = picture("B/b.jpg"), c = picture("C/c.jpg");
    auto other = picture("Z/z.jpg", dir / "Z"), otherCopy = picture("Z/y.jpg", dir / "Z");
    auto review = session({group("0123456789abcdef", {a, b, c}, MatchKind::similar), group("g2", {other, otherCopy})});
    ASSERT_FALSE(review.mark(b.path));

    const auto plan = CleanupPlanner::plan(review, now);
    ASSERT_TRUE(plan) << plan.error().description();
    EXPECT_EQ(plan->created, now);
    EXPECT_EQ(plan->roots, (std::vector<std::string>{dir.path(), dir / "Z"})) << "unmarked groups still give roots";
    ASSERT_EQ(plan->removals.size(), 1u);
    const auto& removal = plan->removals[0];
    EXPECT_EQ(removal.path, b.path);
    EXPECT_EQ(removal.sha256, "0123456789abcdef");
    EXPECT_EQ(removal.kind(), MatchKind::similar);
    EXPECT_EQ(removal.keepers, (std::vector<KeeperEvidence>{{a.path, a.snapshot}, {c.path, c.snapshot}}));
    EXPECT_EQ(plan->approve(now).planID, plan->id);
    EXPECT_NE(CleanupPlanner::plan(review, now)->id, plan->id) << "every plan gets a fresh id";
}

struct RefusalCase {
    const char* name;
    bool locked;
    const char* protectedFolder; // relative to the test folder; "/" as it stands
    const char* markedPath;      // relative; the picture marked, which is then checked
    bool everyCopyMarked;
    const char* sentence; // with {dir} for the test folder
};

void PrintTo(const RefusalCase& given, std::ostream* out) { *out << given.name; }

class PlanRefusal : public Planning, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(PlanRefusal, EndsPlanningWithTheFirstProblem) {
    const auto& given = GetParam();
    // A first group that plans fine: a later problem still refuses the whole plan.
    const auto fine = picture("Fine/x.jpg"), fineCopy = picture("Fine/y.jpg");
    const auto target = picture(given.markedPath), keeper = picture("Keep/k.jpg"), spare = picture("Keep/s.jpg");
    auto review = session({group("aaaaaaaaaaaaaaaaaaaa", {fine, fineCopy}),
                           group("bbbbbbbbbbbbbbbbbbbb", {target, keeper, spare})});
    // Marking refuses what planning refuses, so the session changes after the marks are made,
    // as it does when a lock or a protected folder is added in another window.
    ASSERT_FALSE(review.mark(fine.path));
    ASSERT_FALSE(review.mark(target.path));
    if (given.everyCopyMarked) {
        ASSERT_FALSE(review.mark(keeper.path));
    }
    review.groups[1].members.pop_back();
    if (given.protectedFolder)
        review.protectedRoots.insert(std::string(given.protectedFolder) == "/" ? "/" : dir / given.protectedFolder);
    if (given.locked) store->add(target);

    const auto plan = CleanupPlanner::plan(review, now);
    if (!given.sentence) {
        ASSERT_TRUE(plan) << plan.error().description();
        EXPECT_EQ(plan->removals.size(), 2u);
        return;
    }
    ASSERT_FALSE(plan);
    EXPECT_EQ(plan.error().description(), given.sentence);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlanRefusal,
    ::testing::Values(
        RefusalCase{"EveryCopyMarked", false, nullptr, "Photos/a.jpg", true, "Group bbbbbbbbbbbb would keep no copy."},
        RefusalCase{"LockedBeforeProtected", true, "Photos", "Photos/a.jpg", false, "a.jpg cannot be moved: it is locked"},
        RefusalCase{"InAProtectedFolder", false, "Photos", "Photos/a.jpg", false,
                    "a.jpg cannot be moved: it is in a protected folder"},
        RefusalCase{"TheProtectedFolderItself", false, "Photos", "Photos", false,
                    "Photos cannot be moved: it is in a protected folder"},
        RefusalCase{"SiblingWithTheSameLetters", false, "Photos", "Photos2/a.jpg", false, nullptr},
        RefusalCase{"EverythingUnderSlash", false, "/", "Photos2/a.jpg", false,
                    "x.jpg cannot be moved: it is in a protected folder"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Planning, NothingMarkedEvenWithoutGroups) {
    EXPECT_EQ(CleanupPlanner::plan(session({}), now).error(), PlanError::nothingMarked());
    EXPECT_EQ(PlanError::nothingMarked().description(), "Nothing is marked.");
}

TEST_F(Planning, AFixedKeepReasonIsQuotedAsItStands) {
    auto target = picture("a.jpg");
    const auto keeper = picture("b.jpg");
    auto review = session({group("g", {target, keeper})});
    ASSERT_FALSE(review.mark(target.path));
    review.groups[0].members[0].relationships = {Relationship::sidecar};
    EXPECT_EQ(CleanupPlanner::plan(review, now).error().description(),
              "a.jpg cannot be moved: Has a sidecar file (.xmp or .aae) beside it, so it is kept with it");
}

TEST_F(Planning, APlanReadsBackAndOlderRemovalsMeanIdenticalCopies) {
    const auto a = picture("a.jpg"), b = picture("b.jpg");
    auto review = session({group("g", {a, b}, MatchKind::series)});
    ASSERT_FALSE(review.mark(a.path));
    const auto plan = *CleanupPlanner::plan(review, now);
    Json json = encodeJson(plan);
    EXPECT_EQ(decodeJson<CleanupPlan>(json).value(), plan);

    json["removals"][0].erase("matchKind");
    const auto older = decodeJson<CleanupPlan>(json).value();
    EXPECT_EQ(older.removals[0].kind(), MatchKind::identical);
    EXPECT_FALSE(encodeJson(older)["removals"][0].contains("matchKind")) << "absent fields stay absent";
    json.erase("roots");
    EXPECT_FALSE(decodeJson<CleanupPlan>(json));
}

} // namespace
} // namespace vp
