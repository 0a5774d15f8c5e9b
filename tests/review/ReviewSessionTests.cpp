#include "engine/review/ReviewSession.h"
#include "tests/support/TempDir.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace vp {
namespace {

/// Pictures are real files, looked at the way a scan looks at them.
class Review : public ::testing::Test {
protected:
    PhotoAsset picture(std::string_view relative, std::string_view content = "same bytes") const {
        PhotoAsset asset;
        asset.path = dir.write(relative, content);
        asset.root = dir.path();
        asset.snapshot = *FileSnapshot::read(asset.path);
        asset.format = PhotoFormat::heic;
        return asset;
    }
    /// The same file looked at again, as a new scan would.
    static PhotoAsset rescanned(PhotoAsset asset, std::string path) {
        asset.path = std::move(path);
        asset.snapshot = *FileSnapshot::read(asset.path);
        return asset;
    }
    static DuplicateGroup group(std::string id, std::vector<PhotoAsset> members) {
        DuplicateGroup result;
        result.id = std::move(id);
        result.members = std::move(members);
        return result;
    }
    ReviewSession session(std::vector<DuplicateGroup> groups,
                          std::set<std::string> protectedRoots = {}) const {
        return ReviewSession(std::move(groups), store, std::move(protectedRoots), {});
    }

    testing::TempDir dir;
    std::string lockFile = dir / "data/keep-locks.json";
    std::shared_ptr<LockStore> store = std::make_shared<LockStore>(lockFile);
};

TEST_F(Review, TheLastUnmarkedCopyCannotBeMarked) {
    const auto a = picture("a.heic"), b = picture("b.heic");
    auto review = session({group("g", {a, b})});
    EXPECT_FALSE(review.mark(a.path));
    const auto refused = review.mark(b.path);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->message(), "Every group keeps at least one copy. Unmark another copy first.");
    EXPECT_FALSE(review.toggle(a.path));
    EXPECT_FALSE(review.toggle(b.path));
    EXPECT_EQ(review.marks(), std::set<std::string>{b.path});
    EXPECT_FALSE(review.mark(b.path)) << "marking a marked copy again is no refusal";
}

struct RefusalCase {
    const char* name;
    bool locked;
    std::set<std::string> protectedFolders; // under the test folder, except "/"
    bool livePhoto;
    const char* message;
};

void PrintTo(const RefusalCase& given, std::ostream* out) {
    *out << given.name;
}

class ReviewRefusal : public Review, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ReviewRefusal, NamesTheFirstReasonInItsOwnWords) {
    const auto& given = GetParam();
    auto target = picture("Archive/IMG_1.HEIC");
    if (given.livePhoto) {
        dir.write("Archive/IMG_1.MOV", "movie");
        target.relationships = {Relationship::livePhoto};
    }
    std::set<std::string> protectedRoots;
    for (const auto& folder : given.protectedFolders)
        protectedRoots.insert(folder == "/" ? folder : dir / folder);
    auto review = session({group("g", {target, picture("b.heic"), picture("c.heic")})}, protectedRoots);
    if (given.locked) review.lock(target.path);

    const auto refused = review.mark(target.path);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->message(), given.message);
    EXPECT_FALSE(review.isMarked(target.path));
}

const char* const lockedMessage = "You locked this one to keep it. Unlock it first.";
const char* const archiveMessage = "It is in Archive, a folder you protect.";
const char* const livePhotoMessage = "Part of a Live Photo (a .mov with the same name), so it is kept.";

INSTANTIATE_TEST_SUITE_P(
    Cases, ReviewRefusal,
    ::testing::Values(
        RefusalCase{"Locked", true, {}, false, lockedMessage},
        RefusalCase{"LockedBeforeProtected", true, {"Archive"}, true, lockedMessage},
        RefusalCase{"Protected", false, {"Archive"}, false, archiveMessage},
        RefusalCase{"ProtectedBeforeLivePhoto", false, {"Archive"}, true, archiveMessage},
        RefusalCase{"LivePhotoHalf", false, {}, true, livePhotoMessage},
        RefusalCase{"ProtectedPrefixIsNoFolder", false, {"Arch"}, true, livePhotoMessage},
        RefusalCase{"RootProtectsEverything", false, {"/"}, false, "It is in /, a folder you protect."}));

TEST_F(Review, APathInNoGroupIsNotFoundAndNeverLocked) {
    auto review = session({group("g", {picture("a.heic"), picture("b.heic")})});
    const std::string elsewhere = dir.write("elsewhere.heic", "same bytes");
    review.lock(elsewhere);
    EXPECT_FALSE(review.isLocked(elsewhere));
    EXPECT_TRUE(store->locks().empty());
    ASSERT_TRUE(review.mark(elsewhere));
    EXPECT_EQ(review.mark(elsewhere)->message(), "That picture is not in these results.");
}

TEST_F(Review, ALockUnmarksAndFollowsTheFileThroughARename) {
    const auto a = picture("Photos/a.heic"), b = picture("Photos/b.heic");
    auto first = session({group("g", {a, b})});
    ASSERT_FALSE(first.mark(b.path));
    first.lock(b.path);
    EXPECT_FALSE(first.isMarked(b.path));
    EXPECT_TRUE(first.isLocked(b.path));

    // The next run: the file was renamed, the locks are read back from disk.
    const std::string renamed = dir / "Photos/b renamed.heic";
    ASSERT_EQ(std::rename(b.path.c_str(), renamed.c_str()), 0);
    const auto copy = picture("Photos/b copy.heic");
    auto reloaded = std::make_shared<LockStore>(lockFile);
    ReviewSession next({group("g", {a, rescanned(b, renamed), copy})}, reloaded, {}, {});
    EXPECT_TRUE(next.isLocked(renamed));
    EXPECT_FALSE(next.isLocked(copy.path)) << "a copy is another file";
    EXPECT_EQ(next.mark(renamed)->message(), lockedMessage);

    next.unlock(renamed);
    EXPECT_FALSE(next.isLocked(renamed));
    EXPECT_TRUE(LockStore(lockFile).locks().empty());
}

TEST_F(Review, MarkAllSuggestedLeavesKeepersAndRefusedCopies) {
    const auto a = picture("a.heic"), b = picture("b.heic"), c = picture("c.heic");
    const auto kept = picture("Vault/d.heic"), e = picture("e.heic"), f = picture("f.heic");
    auto review = session({group("one", {a, b, c}), group("two", {e, kept, f})}, {dir / "Vault"});
    // Two locked copies: one is the keeper, the other is refused; only the third is marked.
    review.lock(b.path);
    review.lock(c.path);

    EXPECT_EQ(review.markAllSuggested(), 3);
    EXPECT_EQ(review.marks(), (std::set<std::string>{a.path, e.path, f.path}));
    EXPECT_EQ(review.markAllSuggested(), 0);
    EXPECT_EQ(review.markSuggested("missing"), 0);

    review.clearMarks("two");
    EXPECT_EQ(review.marks(), std::set<std::string>{a.path});
    review.clearMarks();
    EXPECT_TRUE(review.marks().empty());
}

TEST_F(Review, MeasurementsDecideOnlyThroughTheScansIndex) {
    const auto a = picture("a.heic"), b = picture("b.heic");
    auto review = session({group("g", {a, b})});
    review.priorities = {KeeperPolicy::Priority::sharpest};
    auto index = std::make_shared<SimilarityIndex>();
    index->pictures = {a, b};
    for (const double sharpness : {10.0, 40.0}) {
        ImageFeatures features;
        features.sharpness = sharpness;
        index->features.push_back(features);
    }

    EXPECT_EQ(KeeperPolicy::suggestion(review.groups[0], review.context()).reason,
              KeeperPolicy::allEqualReason);
    review.similarity = index;
    EXPECT_EQ(KeeperPolicy::suggestion(review.groups[0], review.context()),
              (KeeperPolicy::Suggestion{b.path, "It is clearly the sharpest"}));
    EXPECT_EQ(review.markSuggested("g"), 1);
    EXPECT_TRUE(review.isMarked(a.path));
}

TEST_F(Review, MarksCarryOverOnlyToUnchangedCopiesThatMayStillBeMarked) {
    const auto a = picture("a.heic"), b = picture("b.heic"), c = picture("c.heic"), d = picture("d.heic");
    auto earlier = session({group("g", {a, b, c, d})});
    for (const auto* asset : {&b, &c, &d})
        ASSERT_FALSE(earlier.mark(asset->path));

    dir.write("c.heic", "edited since");
    store->add(d);
    auto next = session({group("g", {a, rescanned(b, b.path), rescanned(c, c.path), d})});
    next.carryMarks(earlier);
    EXPECT_EQ(next.marks(), std::set<std::string>{b.path});
}

TEST_F(Review, MarkedAssetsCountAPictureOncePerGroup) {
    const auto a = picture("a.heic", "12345"), b = picture("b.heic", "1234567"), c = picture("c.heic", "1");
    auto review = session({group("one", {a, b}), group("two", {b, c})});
    ASSERT_FALSE(review.mark(b.path));
    EXPECT_EQ(review.markedAssets(), (std::vector<PhotoAsset>{b, b}));
    EXPECT_EQ(review.markedBytes(), 14);
    EXPECT_EQ(review.mark(a.path)->message(),
              "Every group keeps at least one copy. Unmark another copy first.");
}

} // namespace
} // namespace vp
