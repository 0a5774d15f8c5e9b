#include "LightroomScene.h"
#include "engine/catalogs/LightroomRejecter.h"
#include "engine/catalogs/LightroomScanner.h"
#include "engine/cleanup/CleanupPlanner.h"

#include <chrono>
#include <gtest/gtest.h>

namespace vp {
namespace {

namespace fs = std::filesystem;

bool lightroomIsClosed(const std::string&) { return false; }

const PlannedRemoval& removal(const CleanupPlan& plan, const std::string& name) {
    for (const auto& planned : plan.removals)
        if (planned.name() == name) return planned;
    throw std::runtime_error("not planned: " + name);
}

} // namespace

void PrintTo(const MarkSkip& skip, std::ostream* out) { *out << skip.name << ": " << skip.reason; }

namespace {

class LightroomMarking : public ::testing::Test {
protected:
    /// Scans the scene's catalog and plans the suggested copies: "a.jpg" (its copy was worked
    /// on) and "b copy.jpg" (the original has a virtual copy).
    CleanupPlan suggestedPlan() {
        const auto catalog = LightroomCatalog::read(scene.catalog.path());
        CancellationFlag cancel;
        auto result = LightroomScanner::scan(catalog, false, cancel, [](const ScanProgress&) {});
        return testing::planOfSuggested(result.groups, now);
    }
    std::vector<std::string> backups() const {
        return testing::namesIn(scene.dir / "Catalogs/Velmo Pristel Backups");
    }
    std::string refusal(const CleanupPlan& plan, const CleanupApproval& approval) const {
        const auto marked = rejecter.mark(plan, approval, scene.catalog.path(), now);
        return marked ? "marked" : marked.error().description();
    }

    testing::LightroomScene scene;
    testing::TempDir data;
    LightroomRejecter rejecter{data / "Lightroom", lightroomIsClosed};
    Timestamp now = std::chrono::sys_days{std::chrono::year{2024} / 5 / 1} + std::chrono::hours{10} +
                    std::chrono::minutes{20} + std::chrono::seconds{30};
};

TEST_F(LightroomMarking, MarksTheApprovedCopiesAfterABackupAndUndoesIt) {
    const auto plan = suggestedPlan();
    ASSERT_EQ(plan.removals.size(), 2u);

    const auto report = rejecter.mark(plan, plan.approve(now), scene.catalog.path(), now);
    ASSERT_TRUE(report) << report.error().description();
    auto marked = report->marked;
    std::sort(marked.begin(), marked.end());
    EXPECT_EQ(marked, (std::vector<std::string>{scene.real("Archive/old/b copy.jpg"), scene.real("Photos/2024/a.jpg")}));
    EXPECT_TRUE(report->skipped.empty());
    EXPECT_EQ(scene.catalog.pick(scene.a), -1);
    EXPECT_EQ(scene.catalog.pick(scene.bCopy), -1);
    EXPECT_EQ(scene.catalog.pick(scene.aCopy), 0);
    EXPECT_EQ(scene.catalog.pick(scene.b), 0);

    // The backup is the catalog as it was, named after the catalog and the local time.
    ASSERT_EQ(backups(), (std::vector<std::string>{"Main " + CatalogFiles::backupTimeText(now) + ".lrcat"}));
    ASSERT_TRUE(report->record);
    EXPECT_EQ(report->record->backupPath, scene.dir / "Catalogs/Velmo Pristel Backups/" + backups().front());
    EXPECT_EQ(testing::queryInteger(report->record->backupPath, "SELECT COUNT(*) FROM Adobe_images WHERE pick < 0"), 1)
        << "only the photo rejected before";
    EXPECT_EQ(report->record->name(), "Main.lrcat");
    EXPECT_EQ(report->record->planID, plan.id);
    for (const auto& item : report->record->marked)
        EXPECT_EQ(item.previousPick, item.imageID == scene.bCopy ? 1 : 0) << "b copy was flagged as a pick";

    const auto history = rejecter.history();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history.front(), *report->record);
    const auto text = testing::readFile(data / "Lightroom/" + report->record->id.text() + ".json");
    EXPECT_LT(text.find("\"backupPath\""), text.find("\"catalogPath\"")) << "keys are sorted";
    EXPECT_NE(text.find("\"date\": \"2024-05-01T10:20:30Z\""), std::string::npos);

    const auto restored = rejecter.restore(history.front());
    ASSERT_TRUE(restored) << restored.error().description();
    EXPECT_TRUE(restored->restored);
    EXPECT_EQ(scene.catalog.pick(scene.a), 0);
    EXPECT_EQ(scene.catalog.pick(scene.bCopy), 1);
    EXPECT_TRUE(rejecter.history().front().restored);
}

TEST_F(LightroomMarking, EveryRefusalLeavesTheCatalogAsItWas) {
    const auto plan = suggestedPlan();
    auto foreign = plan;
    foreign.removals.back().lightroomImageID.reset();
    auto empty = plan;
    empty.removals.clear();
    const auto before = testing::checksum(scene.catalog.path());

    EXPECT_EQ(refusal(plan, CleanupApproval{Uuid::random(), now}),
              "This approval is for a different set of photos. Review them again.");
    EXPECT_EQ(refusal(foreign, foreign.approve(now)), "Only photos from a Lightroom Classic catalog can be marked Rejected.");
    EXPECT_EQ(refusal(empty, empty.approve(now)), "Only photos from a Lightroom Classic catalog can be marked Rejected.");

    scene.dir.write("Catalogs/Main.lrcat.lock", "");
    LightroomRejecter withProbe(data / "Lightroom");
    EXPECT_EQ(withProbe.mark(plan, plan.approve(now), scene.catalog.path(), now).error().description(),
              "Quit Lightroom Classic first. Its catalog is only changed while Lightroom is closed.");
    fs::remove(scene.dir / "Catalogs/Main.lrcat.lock");

    // A folder's file where the backup folder should be: the copy cannot be made.
    scene.dir.write("Catalogs/Velmo Pristel Backups", "in the way");
    EXPECT_EQ(refusal(plan, plan.approve(now)).rfind("The catalog could not be backed up, so nothing was changed: ", 0), 0u);
    fs::remove(scene.dir / "Catalogs/Velmo Pristel Backups");

    EXPECT_EQ(testing::checksum(scene.catalog.path()), before);
    EXPECT_TRUE(backups().empty());
    EXPECT_TRUE(rejecter.history().empty());
}

TEST_F(LightroomMarking, AnUntestedOrDamagedCatalogIsRefusedBeforeAnyBackup) {
    const auto plan = suggestedPlan();
    testing::execute(scene.catalog.path(), "UPDATE Adobe_variablesTable SET value = '1300000' WHERE name = 'Adobe_DBVersion'");
    auto before = testing::checksum(scene.catalog.path());
    EXPECT_EQ(refusal(plan, plan.approve(now)),
              "This catalog is from a Lightroom Classic version this app has not been tested with (1300000), so it was "
              "not changed.");
    EXPECT_EQ(testing::checksum(scene.catalog.path()), before);

    testing::execute(scene.catalog.path(), "UPDATE Adobe_variablesTable SET value = '1504001' WHERE name = "
                                           "'Adobe_DBVersion'; ALTER TABLE Adobe_images DROP COLUMN colorLabels");
    before = testing::checksum(scene.catalog.path());
    EXPECT_EQ(refusal(plan, plan.approve(now)),
              "The catalog was not changed: This catalog is laid out in a way this version does not know "
              "(Adobe_images.colorLabels), so it was left alone.");
    EXPECT_EQ(testing::checksum(scene.catalog.path()), before);
    EXPECT_TRUE(backups().empty());
}

TEST_F(LightroomMarking, WhatChangedSinceTheScanIsSkippedAndTheRestMarked) {
    auto plan = suggestedPlan();
    // Four more removals, each defeated by one rule; the two real ones still go through.
    const auto& a = removal(plan, "a.jpg");
    const auto& bCopy = removal(plan, "b copy.jpg");
    auto moved = a, rejected = a, changed = a, keeperGone = bCopy;
    moved.lightroomImageID = scene.aCopy; // the catalog has that id at another place
    rejected.lightroomImageID = scene.rejected;
    rejected.path = scene.real("Photos/2024/a rejected.jpg");
    rejected.snapshot = *FileSnapshot::read(rejected.path);
    changed.lightroomImageID = scene.b;
    changed.path = scene.real("Photos/2024/b.jpg");
    changed.snapshot = *FileSnapshot::read(changed.path);
    changed.snapshot.size += 1;
    keeperGone.keepers.front().snapshot.modifiedSeconds -= 5;
    plan.removals = {a, moved, rejected, changed, bCopy};
    auto keeperPlan = plan;
    keeperPlan.removals = {keeperGone};

    const auto report = rejecter.mark(plan, plan.approve(now), scene.catalog.path(), now);
    ASSERT_TRUE(report) << report.error().description();
    EXPECT_EQ(report->marked.size(), 2u);
    EXPECT_EQ(report->skipped, (std::vector<MarkSkip>{{"a.jpg", "No longer in the catalog at that place."},
                                                       {"a rejected.jpg", "Already Rejected in Lightroom."},
                                                       {"b.jpg", "Changed or moved since the scan."}}));

    // Nothing left to mark: no backup and no record.
    testing::execute(scene.catalog.path(), "UPDATE Adobe_images SET pick = 0");
    fs::remove_all(scene.dir / "Catalogs/Velmo Pristel Backups");
    fs::remove_all(data / "Lightroom");
    const auto before = testing::checksum(scene.catalog.path());
    const auto none = rejecter.mark(keeperPlan, keeperPlan.approve(now), scene.catalog.path(), now);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->skipped, (std::vector<MarkSkip>{{"b copy.jpg", "No copy its group keeps is still there unchanged."}}));
    EXPECT_FALSE(none->record);
    EXPECT_EQ(testing::checksum(scene.catalog.path()), before);
    EXPECT_TRUE(backups().empty());
    EXPECT_TRUE(rejecter.history().empty());

    // A virtual copy made since the scan keeps the photo too.
    scene.catalog.addVirtualCopy(scene.a);
    auto onlyA = plan;
    onlyA.removals = {removal(plan, "a.jpg")};
    const auto kept = rejecter.mark(onlyA, onlyA.approve(now), scene.catalog.path(), now);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->skipped, (std::vector<MarkSkip>{{"a.jpg", "It has a virtual copy now, so it is kept."}}));
}

TEST_F(LightroomMarking, AWriterHoldingTheCatalogStopsTheMarkingAfterTheTimeOut) {
    const auto plan = suggestedPlan();
    const auto before = testing::checksum(scene.catalog.path());
    {
        // Another program in the middle of its own change: readers still read, writers wait.
        testing::LockingProcess other(scene.catalog.path(), {"BEGIN IMMEDIATE", "UPDATE Adobe_images SET rating = 5"});
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(refusal(plan, plan.approve(now)), "The catalog was not changed: database is locked");
        EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2900));
    }
    EXPECT_EQ(testing::checksum(scene.catalog.path()), before);
    EXPECT_TRUE(rejecter.history().empty());
}

TEST_F(LightroomMarking, SameSecondBackupsUndoRespectsNewFlagsAndDamagedRecordsAreLeftOut) {
    const auto plan = suggestedPlan();
    auto first = plan, second = plan;
    first.removals = {removal(plan, "a.jpg")};
    second.removals = {removal(plan, "b copy.jpg")};
    const auto one = rejecter.mark(first, first.approve(now), scene.catalog.path(), now);
    const auto two = rejecter.mark(second, second.approve(now), scene.catalog.path(), now + std::chrono::milliseconds(400));
    ASSERT_TRUE(one && two);
    const auto time = CatalogFiles::backupTimeText(now);
    EXPECT_EQ(backups(), (std::vector<std::string>{"Main " + time + " 2.lrcat", "Main " + time + ".lrcat"}));

    data.write("Lightroom/damaged.json", "{\"id\": ");
    data.write("Lightroom/notes.txt", "not a record");
    fs::create_directories(data / "Lightroom/folder.json");
    auto older = *one->record;
    older.id = Uuid::random();
    older.date = now - std::chrono::hours(24);
    older.marked.clear();
    rejecter.save(older);
    auto history = rejecter.history();
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history.back().id, older.id) << "newest first";
    history.pop_back();
    // Records of one second are in no particular order; take them in the order they were made.
    if (history[0].id == one->record->id) std::swap(history[0], history[1]);
    EXPECT_EQ(history[0].id, two->record->id);

    // The person picked the photo again in Lightroom Classic: undo leaves that alone.
    testing::execute(scene.catalog.path(), "UPDATE Adobe_images SET pick = 1.0 WHERE id_local = " + std::to_string(scene.a));
    ASSERT_TRUE(rejecter.restore(history[1]));
    EXPECT_EQ(scene.catalog.pick(scene.a), 1);
    ASSERT_TRUE(rejecter.restore(history[0]));
    EXPECT_EQ(scene.catalog.pick(scene.bCopy), 1);

    // Undo with Lightroom Classic open, or of a catalog that is gone, is refused.
    LightroomRejecter open(data / "Lightroom", [](const std::string&) { return true; });
    EXPECT_EQ(open.restore(history[0]).error().description(),
              "Quit Lightroom Classic first. Its catalog is only changed while Lightroom is closed.");
    auto elsewhere = history[0];
    elsewhere.catalogPath = scene.dir / "Gone/Main.lrcat";
    EXPECT_EQ(rejecter.restore(elsewhere).error().description(), "The catalog was not changed: unable to open database file");
}

} // namespace
} // namespace vp
