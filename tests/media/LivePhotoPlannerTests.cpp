// Live Photos to stills through the cleanup executor: only movies move, and never one whose
// still changed or went missing since the scan.
#include "MediaFixtures.h"

#include "engine/media/LivePhotoPlanner.h"
#include "engine/media/MediaScanner.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

TEST(LivePhotoPlanner, MoviesLeaveOnlyBesideTheirUnchangedStills) {
    testing::TempDir temp;
    const testing::TemporaryHome home(temp.folder("home"));
    const std::string root = temp.folder("phone");
    for (const char* name : {"IMG_1", "IMG_2", "IMG_3"}) {
        temp.write(std::string("phone/") + name + ".HEIC", "still");
        testing::makeClip(root + "/" + name + ".MOV", {.width = 64, .height = 48, .seconds = 1.0, .sound = false,
                                                       .contentIdentifier = std::string(name) + "-ID"});
    }
    CancellationFlag cancel;
    const MediaScan scan = MediaScanner::scan({root}, false, cancel);
    ASSERT_EQ(scan.livePairs.size(), 3u);
    const CleanupPlan plan = LivePhotoPlanner::plan(scan.livePairs, scan.roots, std::chrono::system_clock::now());
    ASSERT_EQ(plan.removals.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(plan.removals[i].keepers.size(), 1u);
        EXPECT_EQ(plan.removals[i].keepers[0].path, scan.livePairs[i].still);
        EXPECT_EQ(plan.removals[i].path, scan.livePairs[i].movie);
        EXPECT_EQ(plan.removals[i].kind(), MatchKind::liveMovie);
    }

    temp.write("phone/IMG_2.HEIC", "the still was edited"); // keeper changed
    ASSERT_EQ(::unlink((root + "/IMG_3.HEIC").c_str()), 0);  // keeper gone
    const CleanupExecutor executor(temp.folder("data") + "/Cleanups", std::make_shared<FileManagerTrasher>());
    const auto report = executor.execute(plan, plan.approve(plan.created), cancel);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->items[0].outcome.kind, ItemOutcome::Kind::movedToTrash);
    EXPECT_EQ(report->items[1].outcome.kind, ItemOutcome::Kind::skipped);
    EXPECT_EQ(report->items[2].outcome.kind, ItemOutcome::Kind::skipped);
    EXPECT_EQ(testing::namesIn(root), (std::vector<std::string>{"IMG_1.HEIC", "IMG_2.HEIC", "IMG_2.MOV", "IMG_3.MOV"}));
    EXPECT_TRUE(LivePhotoPlanner::plan({}, {root}, plan.created).removals.empty());
}

} // namespace
} // namespace vp
