#include "model/PhotoCleanupModel.h"

#include "engine/common/PathRules.h"
#include "engine/library/MemoryLibrary.h"
#include "tests/library/LibraryScene.h"
#include "tests/support/MainQueueDriver.h"
#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace vp {
namespace {

using testing::elsewhere;
using testing::photo;

constexpr std::int64_t gibibyte = 1'073'741'824;

class LibraryFlow : public ::testing::Test {
protected:
    testing::TempDir home;
    std::string base = *PathRules::real(home.path());
    AppFolders folders{base + "/config", base + "/data", base + "/Downloads"};
    MainQueue queue;
    std::shared_ptr<MemoryLibrary> library = std::make_shared<MemoryLibrary>();
    Access access = Access::granted;

    void SetUp() override { ::setenv("XDG_DATA_HOME", (base + "/share").c_str(), 1); }
    void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

    std::unique_ptr<PhotoCleanupModel> makeModel() {
        PhotoCleanupHost host;
        host.homeFolder = base;
        auto model = std::make_unique<PhotoCleanupModel>(host, folders, queue);
        model->usePhotoLibrary(library, library, [this] { return access; }, base);
        return model;
    }
    void drainUntil(const std::function<bool()>& done) { testing::drainUntil(queue, done); }
};

TEST_F(LibraryFlow, ApprovedLibraryCopiesGoToTheReviewAlbumAndTheLibraryIsScannedAgain) {
    library->add(photo("A", "pixels", 1));
    library->add(photo("B", "pixels", 2));
    library->add(elsewhere(photo("C", "pixels", 3)));
    auto model = makeModel();
    model->setScope(Scope::photosLibrary);
    drainUntil([&] { return model->phase() == Phase::results; });
    ASSERT_EQ(model->result()->groups.size(), 1U);
    EXPECT_EQ(model->iCloudNotCompared(), 1);

    model->markSuggested();
    model->review();
    ASSERT_TRUE(model->pendingPlan());
    const CleanupPlan plan = *model->pendingPlan();
    ASSERT_EQ(plan.removals.size(), 1U);
    model->confirmAndExecute(plan); // library pictures are never moved: they go to the album
    drainUntil([&] { return model->albumReport() && model->phase() == Phase::results; });
    EXPECT_EQ(model->albumReport()->added, std::vector<std::string>{"B"});
    EXPECT_TRUE(model->session()->marks().empty());
    ASSERT_EQ(library->albums().size(), 1U);
    EXPECT_EQ(library->albums()[0].title, "Velmo Pristel Review");
    EXPECT_EQ(library->items(CancellationFlag{}).photos.size(), 3U);
}

TEST_F(LibraryFlow, WithoutAccessNothingIsScannedAndThePersonIsTold) {
    access = Access::denied;
    library->add(photo("A", "pixels", 1));
    auto model = makeModel();
    model->setScope(Scope::photosLibrary);
    EXPECT_FALSE(model->canScan());
    EXPECT_EQ(model->notice(), "The photo library cannot be read. Allow this user to read it.");

    access = Access::granted;
    model->requestLibraryAccess();
    EXPECT_EQ(model->phase(), Phase::scanning);
    drainUntil([&] { return model->phase() == Phase::results; });

    model->useShotwellLibrary(base + "/no library/photo.db");
    EXPECT_EQ(model->libraryAccess(), Access::notAsked);
    EXPECT_FALSE(model->canScan());
    EXPECT_EQ(model->libraryFolder(), base + "/no library");
}

TEST_F(LibraryFlow, DownloadLimitsLeaveRoomAndOnlyOfferedOnesFetch) {
    EXPECT_EQ(PhotoCleanupModel::downloadLimitsFor(std::nullopt),
              (std::vector<std::int64_t>{gibibyte, 5 * gibibyte, 20 * gibibyte}));
    EXPECT_TRUE(PhotoCleanupModel::downloadLimitsFor(6 * gibibyte - 1).empty());
    EXPECT_EQ(PhotoCleanupModel::downloadLimitsFor(6 * gibibyte), std::vector<std::int64_t>{gibibyte});
    EXPECT_EQ(PhotoCleanupModel::downloadLimitsFor(25 * gibibyte).size(), 3U);

    library->add(photo("A", "pixels", 1));
    library->add(elsewhere(photo("B", "pixels", 2)));
    auto model = makeModel();
    model->setScope(Scope::photosLibrary);
    drainUntil([&] { return model->phase() == Phase::results; });
    EXPECT_TRUE(model->result()->groups.empty());

    model->downloadAndCompare(12345); // not a limit on offer: nothing happens
    EXPECT_EQ(model->phase(), Phase::results);
    const auto offered = model->downloadLimits();
    if (offered.empty()) GTEST_SKIP() << "Less than 6 GiB free here: no download limit is offered.";
    model->downloadAndCompare(offered.front());
    drainUntil([&] { return model->phase() == Phase::results; });
    EXPECT_EQ(model->result()->groups.size(), 1U);
    EXPECT_EQ(model->result()->downloadedBytes, 6);
    EXPECT_EQ(model->downloadLimit(), offered.front());
}

TEST_F(LibraryFlow, LookAlikesAreMeasuredFromLibraryPreviews) {
    // Two items of different bytes that look the same: only their previews can tell.
    testing::writePicture(home / "look.png", {.width = 400, .height = 300});
    auto large = photo("L", "large", 1, 400);
    large.pixelHeight = 300;
    large.picturePath = home / "look.png";
    auto small = photo("S", "small", 1, 200);
    small.pixelHeight = 150;
    small.picturePath = home / "look.png";
    library->add(large);
    library->add(small);
    auto model = makeModel();
    model->setMode(Mode::similar);
    model->setScope(Scope::photosLibrary);
    drainUntil([&] { return model->phase() == Phase::results; });
    ASSERT_TRUE(model->similarity());
    EXPECT_TRUE(model->similarity()->unmeasured.empty());
    ASSERT_EQ(model->similarity()->pairs.size(), 1U);
    ASSERT_EQ(model->currentGroups().size(), 1U);
    EXPECT_EQ(model->currentGroups()[0].members.size(), 2U);
}

} // namespace
} // namespace vp
