// The model over real catalogs: choosing one scans it, the approved copies are marked in the
// background and the catalog scanned again, a marking is taken back, and a later start finds
// the catalog and its records again.
#include "model/PhotoCleanupModel.h"

#include "tests/catalogs/CaptureOneScene.h"
#include "tests/catalogs/LightroomScene.h"
#include "tests/support/MainQueueDriver.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

class CatalogFlow : public ::testing::Test {
protected:
    testing::TempDir home;
    AppFolders folders{home / "config", home / "data", home / "Downloads"};
    MainQueue queue;

    std::unique_ptr<PhotoCleanupModel> makeModel() {
        PhotoCleanupHost host;
        host.homeFolder = home.path();
        return std::make_unique<PhotoCleanupModel>(host, folders, queue);
    }
    void waitForResults(PhotoCleanupModel& model) {
        testing::drainUntil(queue, [&] { return model.phase() == Phase::results || model.phase() == Phase::idle; });
    }
    /// Marks the suggested copies of every group and reviews them.
    CleanupPlan planOfSuggested(PhotoCleanupModel& model) {
        model.markSuggested();
        model.review();
        EXPECT_TRUE(model.pendingPlan()) << model.notice().value_or("");
        return model.pendingPlan().value_or(CleanupPlan{});
    }
};

TEST_F(CatalogFlow, LightroomCopiesAreRejectedThenTakenBackAndTheCatalogComesBackAtStart) {
    testing::LightroomScene scene;
    auto model = makeModel();
    model->setScope(Scope::lightroom);
    EXPECT_FALSE(model->canScan()); // no catalog chosen yet
    model->chooseLightroomCatalog(scene.catalog.path());
    ASSERT_TRUE(model->lightroomCatalog());
    waitForResults(*model);
    ASSERT_EQ(model->phase(), Phase::results) << model->notice().value_or("");
    ASSERT_EQ(model->result()->groups.size(), 2u);

    const CleanupPlan plan = planOfSuggested(*model);
    ASSERT_EQ(plan.removals.size(), 2u);
    model->confirmMarkRejected(plan);
    EXPECT_EQ(model->phase(), Phase::executing);
    testing::drainUntil(queue, [&] { return model->lightroomReport() && model->phase() == Phase::results; });
    const auto& record = model->lightroomReport()->record;
    ASSERT_TRUE(record);
    EXPECT_EQ(record->marked.size(), 2u);
    for (const auto& item : record->marked) EXPECT_EQ(scene.catalog.pick(item.imageID), -1);
    EXPECT_TRUE(std::filesystem::exists(record->backupPath));
    ASSERT_EQ(model->lightroomRecords().size(), 1u);
    EXPECT_TRUE(model->result()->groups.empty()); // rejected photos are no longer scanned
    const Uuid marking = record->id;

    // Another start finds the catalog, its scope and the record; the marking is taken back.
    model.reset();
    auto again = makeModel();
    EXPECT_EQ(again->scope(), Scope::lightroom);
    ASSERT_TRUE(again->lightroomCatalog());
    ASSERT_EQ(again->lightroomRecords().size(), 1u);
    EXPECT_EQ(again->lightroomRecords()[0].id, marking);
    again->undoMarking(again->lightroomRecords()[0]);
    EXPECT_EQ(again->notice(), "2 no longer Rejected in Main.lrcat");
    for (const auto& item : again->lightroomRecords()[0].marked)
        EXPECT_EQ(scene.catalog.pick(item.imageID), item.previousPick);
    EXPECT_TRUE(again->lightroomRecords()[0].restored);
    waitForResults(*again);
    EXPECT_EQ(again->result()->groups.size(), 2u);
}

TEST_F(CatalogFlow, CaptureOneCopiesAreTaggedRedThenTakenBack) {
    testing::CaptureOneScene scene;
    auto model = makeModel();
    model->chooseCaptureOneCatalog(scene.catalog.package());
    EXPECT_EQ(model->phase(), Phase::idle); // chosen, but the folders are still the scope
    model->setScope(Scope::captureOne);
    waitForResults(*model);
    ASSERT_EQ(model->phase(), Phase::results) << model->notice().value_or("");
    ASSERT_FALSE(model->result()->groups.empty());

    const CleanupPlan plan = planOfSuggested(*model);
    model->confirmTagRed(*model->pendingPlan()); // the model's own plan, which approving clears
    testing::drainUntil(queue, [&] { return model->captureOneReport() && model->phase() == Phase::results; });
    const auto record = model->captureOneReport()->record;
    ASSERT_TRUE(record);
    EXPECT_EQ(record->marked.size(), plan.removals.size());
    for (const auto& item : record->marked)
        for (const auto metadata : item.metadataIDs) EXPECT_EQ(scene.catalog.colorTag(metadata), 1);

    model->undoTagging(*record);
    EXPECT_EQ(model->notice(), std::to_string(plan.removals.size()) + " no longer tagged Red in Main");
    ASSERT_EQ(model->captureOneRecords().size(), 1u);
    EXPECT_TRUE(model->captureOneRecords()[0].restored);
    for (const auto& item : record->marked)
        for (const auto metadata : item.metadataIDs) EXPECT_NE(scene.catalog.colorTag(metadata), 1);
    waitForResults(*model);
}

TEST_F(CatalogFlow, ACatalogThatCannotBeReadOrIsOpenIsToldAndNothingChanges) {
    testing::LightroomScene scene;
    auto model = makeModel();
    model->setScope(Scope::lightroom);

    const std::string notACatalog = scene.dir / "Photos/2024/a.jpg";
    model->chooseLightroomCatalog(notACatalog);
    EXPECT_EQ(model->notice(), std::string(LightroomCatalog::notACatalogText));
    EXPECT_FALSE(model->canScan());

    model->chooseLightroomCatalog(scene.catalog.path());
    waitForResults(*model);
    ASSERT_EQ(model->phase(), Phase::results);
    const CleanupPlan plan = planOfSuggested(*model);

    // Lightroom Classic opens it between the review and the approval.
    testing::writeFile(scene.catalog.path() + ".lock", "");
    const std::string before = testing::checksum(scene.catalog.path());
    model->confirmMarkRejected(plan);
    testing::drainUntil(queue, [&] { return model->phase() == Phase::results; });
    EXPECT_FALSE(model->lightroomReport());
    EXPECT_NE(model->notice().value_or("").find("Lightroom"), std::string::npos);
    EXPECT_EQ(testing::checksum(scene.catalog.path()), before);
    EXPECT_TRUE(model->lightroomRecords().empty());

    // The catalog goes away after it was chosen: the scan fails with the reason and stays idle.
    std::filesystem::remove(scene.catalog.path() + ".lock");
    std::filesystem::rename(scene.catalog.path(), scene.dir / "moved.lrcat");
    model->scan();
    testing::drainUntil(queue, [&] { return model->phase() == Phase::idle; });
    EXPECT_TRUE(model->notice());
    EXPECT_FALSE(model->result());
}

} // namespace
} // namespace vp
