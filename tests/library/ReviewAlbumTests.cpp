#include "LibraryScene.h"

#include "engine/cleanup/CleanupPlanner.h"
#include "engine/library/LibraryScanner.h"
#include "engine/library/ReviewAlbum.h"
#include "engine/review/ReviewSession.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

using testing::day;
using testing::photo;

// Two groups of copies: A (kept, oldest) with B, and C (kept) with D and E.
class AlbumRun : public ::testing::Test {
protected:
    AlbumRun() : library({photo("A", "first", 1), photo("B", "first", 2), photo("C", "second", 3, 800),
                          photo("D", "second", 4, 800), photo("E", "second", 5, 800)}) {}

    CleanupPlan plan() {
        CancellationFlag cancel;
        const auto scan = LibraryScanner::scan(library, false, nullptr, nullptr, cancel, {});
        ReviewSession session(scan.groups, std::make_shared<LockStore>(), {}, {});
        session.priorities = {KeeperPolicy::Priority::oldest};
        session.markAllSuggested();
        auto planned = CleanupPlanner::plan(session, day(20));
        EXPECT_TRUE(planned);
        return planned.value();
    }

    Result<ReviewAlbum::Report, ReviewAlbum::Refusal> run(const CleanupPlan& plan) {
        return ReviewAlbum::add(plan, plan.approve(day(20)), library, library);
    }

    MemoryLibrary library;
};

TEST_F(AlbumRun, ApprovedCopiesGoIntoTheAlbumAndNothingElseChanges) {
    const auto planned = plan();
    ASSERT_EQ(planned.removals.size(), 3U);
    const auto report = run(planned);
    ASSERT_TRUE(report) << report.error().description();
    EXPECT_EQ(report->album, "Velmo Pristel Review");
    EXPECT_EQ(report->added, (std::vector<std::string>{"B", "D", "E"}));
    EXPECT_TRUE(report->skipped.empty());
    EXPECT_EQ(report->bytesFreed, 0);
    ASSERT_EQ(library.albums().size(), 1U);
    EXPECT_EQ(library.albums()[0].ids, report->added);
    EXPECT_EQ(library.items(CancellationFlag{}).photos.size(), 5U);
}

TEST_F(AlbumRun, AnEditedKeeperOrAnEditedCopyKeepsItsGroupOutOfTheAlbum) {
    const auto planned = plan();
    library.setModified("C", day(25));                                      // the keeper of D and E
    library.setModified("B", day(2, 30) + std::chrono::milliseconds(1));    // a copy itself
    const auto report = run(planned);
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->added.empty());
    EXPECT_EQ(report->skipped, (std::vector<ReviewAlbum::Skip>{{"B.jpg", "Changed or removed in Photos since the scan."},
                                                               {"D.jpg", "No photo its group keeps is still there unchanged."},
                                                               {"E.jpg", "No photo its group keeps is still there unchanged."}}));
    EXPECT_EQ(library.changes(), 0); // nothing to add: the library is not touched
}

TEST_F(AlbumRun, ARemovedCopyIsSkippedAndTheRestAdded) {
    const auto planned = plan();
    library.remove("D");
    const auto report = run(planned);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->added, (std::vector<std::string>{"B", "E"}));
    EXPECT_EQ(report->skipped.size(), 1U);
}

TEST_F(AlbumRun, RefusalsChangeNothing) {
    auto planned = plan();
    const auto other = plan();
    auto refused = ReviewAlbum::add(planned, other.approve(day(20)), library, library);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().description(), "This approval is for a different set of photos. Review them again.");

    auto mixed = planned;
    mixed.removals[1].path = "/home/someone/Pictures/D.jpg";
    refused = run(mixed);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, ReviewAlbum::Refusal::Kind::notLibraryPhotos);

    library.failNextWrite("The library is read-only.");
    refused = run(planned);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().description(), "Photos did not add them to the album: The library is read-only.");
    EXPECT_EQ(library.changes(), 0);
    EXPECT_TRUE(library.albums().empty());
}

TEST_F(AlbumRun, TheAlbumOfAnEarlierNameIsRenamedAndReused) {
    library.addAlbum("Kavrilo Review", {"A"});
    library.addAlbum("Holidays", {"C"});
    const auto report = run(plan());
    ASSERT_TRUE(report);
    const auto albums = library.albums();
    ASSERT_EQ(albums.size(), 2U);
    EXPECT_EQ(albums[0].title, "Velmo Pristel Review");
    EXPECT_EQ(albums[0].ids, (std::vector<std::string>{"A", "B", "D", "E"}));
    EXPECT_EQ(albums[1].ids, (std::vector<std::string>{"C"}));
}

} // namespace
} // namespace vp
