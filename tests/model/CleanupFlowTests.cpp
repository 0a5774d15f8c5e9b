#include "engine/cleanup/CleanupExecutor.h"
#include "engine/cleanup/CleanupPlanner.h"
#include "engine/cleanup/TrashLocation.h"
#include "engine/common/PathRules.h"
#include "model/PhotoCleanupModel.h"

#include "tests/support/Pictures.h"
#include "tests/support/MainQueueDriver.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vp {
namespace {

// A real Trash inside a temporary home: the model's cleanups go where a file manager looks.
class CleanupFlow : public ::testing::Test {
protected:
    testing::TempDir home;
    std::string base = *PathRules::real(home.path());
    AppFolders folders{base + "/config", base + "/data", base + "/Downloads"};
    MainQueue queue;
    std::string pictures = base + "/Pictures";
    std::string copy = base + "/Pictures/Backup/photo.jpg";

    void SetUp() override {
        ::setenv("XDG_DATA_HOME", (base + "/share").c_str(), 1);
        home.folder("Pictures/Backup");
        testing::writePicture(pictures + "/photo.jpg", {.width = 200, .height = 150});
        testing::writeFile(copy, testing::readFile(pictures + "/photo.jpg"));
        testing::writePicture(pictures + "/other.png", {.width = 90, .height = 300});
    }
    void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

    std::unique_ptr<PhotoCleanupModel> makeModel() {
        PhotoCleanupHost host;
        host.homeFolder = base;
        host.cleanupFinished = [this] { ++finishedCalls; };
        return std::make_unique<PhotoCleanupModel>(host, folders, queue);
    }
    void drainUntil(const std::function<bool()>& done) { testing::drainUntil(queue, done); }
    /// Scans the pictures, marks the copy and reviews: the plan that moves it, if one was made.
    std::optional<CleanupPlan> planMovingTheCopy(PhotoCleanupModel& model) {
        model.add({pictures});
        drainUntil([&] { return model.phase() == Phase::results; });
        model.toggleMark(copy);
        model.review();
        return model.pendingPlan();
    }
    int finishedCalls = 0;
};

TEST_F(CleanupFlow, AReviewedPlanMovesTheMarkedCopyToTheTrashAndBack) {
    auto model = makeModel();
    const auto planned = planMovingTheCopy(*model);
    ASSERT_TRUE(planned);
    const CleanupPlan plan = *planned;
    ASSERT_EQ(plan.removals.size(), 1u);
    EXPECT_EQ(model->notIdentical(plan), 0);

    model->confirmAndExecute(plan);
    EXPECT_EQ(model->phase(), Phase::executing);
    EXPECT_FALSE(model->pendingPlan());
    drainUntil([&] { return model->phase() == Phase::results && model->report(); });
    EXPECT_EQ(model->report()->moved(), 1);
    EXPECT_EQ(finishedCalls, 1);
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_TRUE(std::filesystem::exists(pictures + "/photo.jpg"));
    const auto inTrash = model->showInTrash(model->report()->items[0]);
    ASSERT_TRUE(inTrash);
    EXPECT_TRUE(inTrash->starts_with(base + "/share/Trash/files/"));
    EXPECT_TRUE(model->result()->groups.empty()); // the rescan sees no copy left
    ASSERT_EQ(model->history().size(), 1u);

    const auto back = model->putBack(model->history()[0], model->history()[0].items[0]);
    EXPECT_EQ(back.kind, RestoreOutcome::Kind::restored);
    EXPECT_EQ(testing::readFile(copy), testing::readFile(pictures + "/photo.jpg"));
    EXPECT_EQ(model->history()[0].restored(), 1);
}

TEST_F(CleanupFlow, ARefusedPlanMovesNothing) {
    auto model = makeModel();
    model->add({pictures});
    drainUntil([&] { return model->phase() == Phase::results; });
    model->review(); // nothing marked
    EXPECT_FALSE(model->pendingPlan());
    EXPECT_TRUE(model->notice().has_value());
    EXPECT_TRUE(std::filesystem::exists(copy));
}

TEST_F(CleanupFlow, AnInterruptedCleanupIsReconciledAtStartUp) {
    {
        auto model = makeModel();
        const auto planned = planMovingTheCopy(*model);
        ASSERT_TRUE(planned);
        const CleanupPlan plan = *planned;
        // The process dies right after the picture reached the Trash, before the outcome was written.
        const pid_t child = ::fork();
        if (child == 0) {
            struct DyingTrasher : Trasher {
                std::optional<std::string> trash(const std::string& path) override {
                    FileManagerTrasher().trash(path);
                    ::_exit(0);
                }
            };
            CancellationFlag cancel;
            (void)CleanupExecutor(folders.cleanups(), std::make_shared<DyingTrasher>())
                .execute(plan, plan.approve(std::chrono::system_clock::now()), cancel);
            ::_exit(1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto restarted = makeModel();
    ASSERT_EQ(restarted->recovered().size(), 1u);
    EXPECT_EQ(restarted->recovered()[0].moved(), 1);
    EXPECT_TRUE(restarted->recovered()[0].reconciled);
    ASSERT_EQ(restarted->history().size(), 1u);
    EXPECT_TRUE(restarted->history()[0].finished.has_value());
    // Reconciled once: the next start finds nothing more to reconcile.
    EXPECT_TRUE(makeModel()->recovered().empty());
}

} // namespace
} // namespace vp
