#include "CaptureOneScene.h"
#include "engine/catalogs/CaptureOneCatalog.h"
#include "engine/catalogs/CaptureOneMarker.h"
#include "engine/catalogs/CaptureOneScanner.h"
#include "engine/cleanup/CleanupPlanner.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

namespace vp {

void PrintTo(const MarkSkip& skip, std::ostream* out);

namespace {

namespace fs = std::filesystem;
using testing::CaptureOneScene;

const CaptureOnePhoto& photo(const CaptureOneCatalog::Catalog& catalog, std::int64_t id) {
    const auto found = std::find_if(catalog.photos.begin(), catalog.photos.end(),
                                    [&](const auto& photo) { return photo.ref.imageID == id; });
    if (found == catalog.photos.end()) throw std::runtime_error("no image " + std::to_string(id));
    return *found;
}

std::string readErrorText(const std::string& package) {
    try {
        CaptureOneCatalog::read(package);
    } catch (const CatalogReadError& error) {
        return error.description();
    }
    return "read";
}

TEST(CaptureOneCatalogReading, ReadsEveryImageWithItsVariantsTagsAndAlbums) {
    CaptureOneScene scene;
    const auto catalog = CaptureOneCatalog::read(scene.catalog.package());
    EXPECT_EQ(catalog.schemaVersion, "160800") << "the newest version row";
    EXPECT_TRUE(catalog.isTestedVersion());
    EXPECT_EQ(catalog.databaseURL, scene.catalog.database());
    ASSERT_EQ(catalog.photos.size(), 7u);

    const auto& x = photo(catalog, scene.x);
    EXPECT_EQ(x.path, scene.real("Catalogs/Main.cocatalog/Originals/2024/x.jpg")) << "relative to the package";
    EXPECT_EQ(x.ref.variantID, scene.xVariant.id);
    EXPECT_EQ(x.ref.colorTags, (std::vector<int>{0}));
    EXPECT_FALSE(x.ref.workedOn());

    const auto& y = photo(catalog, scene.y);
    EXPECT_EQ(y.ref.variants, 2);
    EXPECT_TRUE(y.ref.isEdited);
    EXPECT_EQ(y.ref.workSummary(), "edited, has a second variant");

    const auto& w = photo(catalog, scene.w);
    EXPECT_EQ(w.ref.rating, 2);
    EXPECT_EQ(w.ref.albums, 1) << "the album inside a smart group is not counted";
    EXPECT_EQ(w.ref.keywords, 1);

    EXPECT_EQ(photo(catalog, scene.z).path, scene.real("Referenced/z.jpg")) << "an empty volume root is \"/\"";
    EXPECT_TRUE(photo(catalog, scene.red).ref.isRed());
    EXPECT_TRUE(photo(catalog, scene.trashed).isTrashed);
    ASSERT_EQ(catalog.missing().size(), 1u) << "the trashed image is not missing";
    EXPECT_EQ(catalog.missing().front().path, scene.dir / "Photos/2024/gone.jpg");

    EXPECT_EQ(catalog.originalsFolder(), scene.real("Catalogs/Main.cocatalog") + "/Originals");
    EXPECT_EQ(catalog.rootFolders, (std::vector<std::string>{scene.real("Catalogs/Main.cocatalog/Originals/2024"),
                                                             scene.real("Photos/2024"), scene.real("Referenced")}));
}

TEST(CaptureOneCatalogReading, PackagesAndLayoutsItDoesNotKnowAreRefused) {
    testing::TempDir dir;
    const std::string notACatalog = "That is not a Capture One catalog (.cocatalog).";
    EXPECT_EQ(readErrorText(dir.folder("Empty.cocatalog")), notACatalog);
    {
        testing::CaptureOneCatalogFile two(dir / "Two.cocatalog");
        fs::copy_file(two.database(), dir / "Two.cocatalog/Copy.COCATALOGDB");
        EXPECT_EQ(readErrorText(two.package()), notACatalog);
        EXPECT_FALSE(CaptureOneCatalog::database(two.package()));
    }
    testing::CaptureOneCatalogFile wrongName(dir / "Main.cocatalog.zip");
    EXPECT_EQ(readErrorText(wrongName.package()), notACatalog);

    const std::string unknown = "This catalog is laid out in a way this version does not know (";
    testing::CaptureOneCatalogFile noTrash(dir / "NoTrash.cocatalog");
    testing::execute(noTrash.database(), "ALTER TABLE ZIMAGE DROP COLUMN ZISTRASHED");
    const auto before = testing::checksum(noTrash.database());
    EXPECT_EQ(readErrorText(noTrash.package()), unknown + "no ZIMAGE.ZISTRASHED), so it was left alone.");
    EXPECT_EQ(testing::checksum(noTrash.database()), before);
    testing::CaptureOneCatalogFile noCollections(dir / "NoCollections.COCATALOG", "");
    testing::execute(noCollections.database(), "DROP TABLE ZCOLLECTION");
    EXPECT_EQ(readErrorText(noCollections.package()), unknown + "no ZCOLLECTION), so it was left alone.");

    testing::CaptureOneCatalogFile unversioned(dir / "Unversioned.COCATALOG", "");
    EXPECT_EQ(CaptureOneCatalog::read(unversioned.package()).schemaVersion, "unknown");
}

TEST(CaptureOneCatalogReading, InUseByCaptureOneTheDatabaseIsReadWithLocksAndCanBeBusy) {
    CaptureOneScene scene;
    const bool runningAlready = CatalogFiles::isProgramRunning(CaptureOneCatalog::programNames);
    if (!runningAlready) {
        EXPECT_FALSE(CaptureOneCatalog::isOpen(scene.catalog.package()));
    }
    {
        testing::NamedProcess captureOne("CaptureOne.exe");
        EXPECT_TRUE(CaptureOneCatalog::isOpen(scene.catalog.package()));
    }
    // Without its write lock file the catalog is read immutable, past any lock; with it the
    // reader waits for Capture One and then gives up with the busy sentence.
    testing::LockingProcess captureOne(scene.catalog.database(), {"BEGIN EXCLUSIVE", "UPDATE ZIMAGE SET Z_OPT = 2"});
    EXPECT_EQ(CaptureOneCatalog::read(scene.catalog.package()).photos.size(), 7u);
    scene.dir.write("Catalogs/Main.cocatalog/writelock", "");
    EXPECT_TRUE(CaptureOneCatalog::isOpen(scene.catalog.package()));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(readErrorText(scene.catalog.package()),
              "The catalog could not be read: Capture One is busy with it. Try again in a moment.");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2900));
}

TEST(CaptureOneScanning, ComparesTheLiveImagesInsideAndOutsideThePackage) {
    CaptureOneScene scene;
    const auto catalog = CaptureOneCatalog::read(scene.catalog.package());
    CancellationFlag cancel;
    const auto result = CaptureOneScanner::scan(catalog, true, cancel, [](const ScanProgress&) {});

    EXPECT_EQ(result.captureOneRed, 1);
    ASSERT_EQ(result.groups.size(), 2u);
    for (const auto& group : result.groups) {
        ASSERT_EQ(group.members.size(), 2u) << "the Red copy is not compared";
        for (const auto& member : group.members) EXPECT_TRUE(member.captureOne) << member.path;
    }
    const auto inPackage = std::find_if(result.pictures.begin(), result.pictures.end(),
                                        [&](const auto& p) { return p.captureOne && p.captureOne->imageID == scene.x; });
    EXPECT_NE(inPackage, result.pictures.end()) << "the package's own original is compared";
    ASSERT_EQ(result.skipped.size(), 1u);
    EXPECT_EQ(result.skipped.front().path, scene.dir / "Photos/2024/gone.jpg");
    EXPECT_EQ(result.skipped.front().detail, "Capture One lists it, but the file is not where the catalog says.");
    for (const auto& item : result.excluded) EXPECT_NE(item.kind, ExcludedItem::Kind::overlappingRoot) << item.path;
    EXPECT_EQ(result.roots, catalog.rootFolders);
}

bool captureOneIsClosed(const std::string&) { return false; }

const PlannedRemoval& removal(const CleanupPlan& plan, const std::string& name) {
    for (const auto& planned : plan.removals)
        if (planned.name() == name) return planned;
    throw std::runtime_error("not planned: " + name);
}

class CaptureOneTagging : public ::testing::Test {
protected:
    /// The suggested plan: "x.jpg" (its copy has two variants) and "z.jpg" (its copy was rated).
    CleanupPlan suggestedPlan() {
        const auto catalog = CaptureOneCatalog::read(scene.catalog.package());
        CancellationFlag cancel;
        const auto result = CaptureOneScanner::scan(catalog, false, cancel, [](const ScanProgress&) {});
        return testing::planOfSuggested(result.groups, now);
    }
    std::vector<std::string> backups() const {
        return testing::namesIn(scene.dir / "Catalogs/Velmo Pristel Backups");
    }
    std::string outcome(const CleanupPlan& plan, const CleanupApproval& approval) const {
        const auto tagged = marker.mark(plan, approval, scene.catalog.package(), now);
        return tagged ? "tagged" : tagged.error().description();
    }
    double modified(std::int64_t variant) const {
        return static_cast<double>(testing::queryInteger(
            scene.catalog.database(), "SELECT ZLASTMETADATAMODIFICATIONDATE * 10 FROM ZVARIANT WHERE Z_PK = " +
                                          std::to_string(variant))) / 10;
    }

    CaptureOneScene scene;
    testing::TempDir data;
    CaptureOneMarker marker{data / "Capture One", captureOneIsClosed};
    Timestamp now = std::chrono::sys_days{std::chrono::year{2024} / 5 / 1} + std::chrono::hours{10};
};

TEST_F(CaptureOneTagging, TagsBothMetadataRowsRedAfterABackupAndUndoesIt) {
    const auto plan = suggestedPlan();
    ASSERT_EQ(plan.removals.size(), 2u);
    const auto report = marker.mark(plan, plan.approve(now), scene.catalog.package(), now);
    ASSERT_TRUE(report) << report.error().description();
    EXPECT_EQ(report->marked.size(), 2u);
    EXPECT_TRUE(report->skipped.empty());
    for (const auto& variant : {scene.xVariant, scene.zVariant}) {
        EXPECT_EQ(scene.catalog.colorTag(variant.adjustmentMetadata), 1);
        EXPECT_EQ(scene.catalog.colorTag(variant.combinedMetadata), 1);
        // 2024-05-01 10:00:00 UTC is 736250400 seconds after 2001-01-01.
        EXPECT_EQ(modified(variant.id), 736250400.0);
    }

    // Only the database is copied into the backup package.
    const auto backupName = "Main " + CatalogFiles::backupTimeText(now) + ".cocatalog";
    ASSERT_EQ(backups(), (std::vector<std::string>{backupName}));
    const auto backup = scene.dir / "Catalogs/Velmo Pristel Backups/" + backupName;
    EXPECT_EQ(report->record->backupPath, backup);
    std::vector<std::string> inBackup;
    for (const auto& entry : fs::directory_iterator(backup)) inBackup.push_back(entry.path().filename().string());
    EXPECT_EQ(inBackup, (std::vector<std::string>{"Main.cocatalogdb"}));
    EXPECT_EQ(testing::queryInteger(backup + "/Main.cocatalogdb", "SELECT COUNT(*) FROM ZVARIANTMETADATA WHERE ZCOLOR_TAG_INDEX = 1"), 2)
        << "only the Red image's two rows, as before the tagging";

    const auto history = marker.history();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history.front(), *report->record);
    EXPECT_EQ(history.front().name(), "Main");
    const auto text = testing::readFile(data / "Capture One/" + report->record->id.text() + ".json");
    EXPECT_NE(text.find("null"), std::string::npos) << "x's tags were NULL before";

    const auto restored = marker.restore(history.front());
    ASSERT_TRUE(restored) << restored.error().description();
    EXPECT_EQ(scene.catalog.colorTag(scene.xVariant.adjustmentMetadata), -1);
    EXPECT_EQ(scene.catalog.colorTag(scene.xVariant.combinedMetadata), -1);
    EXPECT_EQ(scene.catalog.colorTag(scene.zVariant.combinedMetadata), 0);
    EXPECT_EQ(modified(scene.zVariant.id), 700000000.5);
    EXPECT_TRUE(marker.history().front().restored);
}

TEST_F(CaptureOneTagging, EveryRefusalLeavesTheCatalogAsItWas) {
    const auto plan = suggestedPlan();
    auto foreign = plan;
    foreign.removals.front().captureOneImageID.reset();
    const auto before = testing::checksum(scene.catalog.database());

    EXPECT_EQ(outcome(plan, CleanupApproval{Uuid::random(), now}),
              "This approval is for a different set of photos. Review them again.");
    EXPECT_EQ(outcome(foreign, foreign.approve(now)), "Only photos from a Capture One catalog can be tagged there.");
    scene.dir.write("Catalogs/Main.cocatalog/writelock", "");
    CaptureOneMarker withProbe(data / "Capture One");
    EXPECT_EQ(withProbe.mark(plan, plan.approve(now), scene.catalog.package(), now).error().description(),
              "Quit Capture One first. Its catalog is only changed while Capture One is closed.");
    fs::remove(scene.dir / "Catalogs/Main.cocatalog/writelock");
    EXPECT_EQ(testing::checksum(scene.catalog.database()), before);

    testing::execute(scene.catalog.database(), "UPDATE ZVERSIONINFO SET ZVERSION = 170000 WHERE Z_PK = 2");
    const auto untested = testing::checksum(scene.catalog.database());
    EXPECT_EQ(outcome(plan, plan.approve(now)),
              "This catalog is from a Capture One version this app has not been tested with (170000), so it was not "
              "changed.");
    EXPECT_EQ(testing::checksum(scene.catalog.database()), untested);
    testing::execute(scene.catalog.database(), "UPDATE ZVERSIONINFO SET ZVERSION = 160800 WHERE Z_PK = 2");
    const auto tested = testing::checksum(scene.catalog.database());

    scene.dir.write("Catalogs/Velmo Pristel Backups", "in the way");
    EXPECT_EQ(outcome(plan, plan.approve(now)).rfind("The catalog could not be backed up, so nothing was changed: ", 0), 0u);
    fs::remove(scene.dir / "Catalogs/Velmo Pristel Backups");

    {
        testing::LockingProcess other(scene.catalog.database(), {"BEGIN IMMEDIATE", "UPDATE ZIMAGE SET Z_OPT = 3"});
        EXPECT_EQ(outcome(plan, plan.approve(now)), "The catalog was not changed: database is locked");
        EXPECT_EQ(testing::checksum(scene.catalog.database()), tested);
    }
    EXPECT_EQ(testing::checksum(scene.catalog.database()), tested);
    EXPECT_TRUE(marker.history().empty());
}

TEST_F(CaptureOneTagging, WhatChangedInCaptureOneSinceTheScanIsKept) {
    const auto plan = suggestedPlan();
    const auto& x = removal(plan, "x.jpg");
    const auto& z = removal(plan, "z.jpg");
    auto trashedSince = z, redSince = z, greenSince = z, secondVariantSince = z, oneLayer = z;
    // Each copy of z's removal points at an image changed in one way since the scan.
    const auto make = [&](PlannedRemoval& removal, const std::string& name, auto&& change) {
        const auto path = scene.dir / "Referenced/" + name;
        fs::copy_file(scene.dir / "Photos/2024/w.jpg", path);
        const auto location = scene.catalog.addLocation(scene.dir.path(), "Referenced");
        const auto image = scene.catalog.addImage(location, name);
        change(image);
        removal.captureOneImageID = image;
        removal.path = *CatalogFiles::realPath(path);
        removal.snapshot = *FileSnapshot::read(path);
    };
    make(trashedSince, "trashed since.jpg", [&](std::int64_t image) {
        scene.catalog.addVariant(image);
        testing::execute(scene.catalog.database(), "UPDATE ZIMAGE SET ZISTRASHED = 1 WHERE Z_PK = " + std::to_string(image));
    });
    make(redSince, "red since.jpg", [&](std::int64_t image) { scene.catalog.addVariant(image, false, 0, 1); });
    make(greenSince, "green since.jpg", [&](std::int64_t image) { scene.catalog.addVariant(image, false, 0, 4); });
    make(secondVariantSince, "two since.jpg", [&](std::int64_t image) {
        scene.catalog.addVariant(image);
        scene.catalog.addVariant(image);
    });
    make(oneLayer, "one layer.jpg", [&](std::int64_t image) { scene.catalog.addVariant(image, false, 0, 0, "", false); });
    auto changedFile = x;
    changedFile.snapshot.modifiedNanoseconds += 1;

    auto checked = plan;
    checked.removals = {trashedSince, redSince, greenSince, secondVariantSince, changedFile, oneLayer, z};
    const auto report = marker.mark(checked, checked.approve(now), scene.catalog.package(), now);
    ASSERT_TRUE(report) << report.error().description();
    EXPECT_EQ(report->marked, (std::vector<std::string>{z.path}));
    EXPECT_EQ(report->skipped,
              (std::vector<MarkSkip>{{"trashed since.jpg", "Already in Capture One's Trash."},
                                     {"red since.jpg", "Already tagged Red in Capture One."},
                                     {"green since.jpg", "It has a colour tag now, so it is kept."},
                                     {"two since.jpg", "It has a second variant now, so it is kept."},
                                     {"x.jpg", "Changed or moved since the scan."},
                                     {"one layer.jpg", "Capture One's catalog did not have it where the scan saw it."}}));
    ASSERT_TRUE(report->record);
    EXPECT_EQ(report->record->marked.size(), 1u);

    // Nothing left to tag: no backup, no record.
    fs::remove_all(scene.dir / "Catalogs/Velmo Pristel Backups");
    fs::remove_all(data / "Capture One");
    auto keeperGone = x;
    keeperGone.keepers.front().snapshot.size += 1;
    checked.removals = {keeperGone};
    const auto before = testing::checksum(scene.catalog.database());
    const auto none = marker.mark(checked, checked.approve(now), scene.catalog.package(), now);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->skipped, (std::vector<MarkSkip>{{"x.jpg", "No copy its group keeps is still there unchanged."}}));
    EXPECT_FALSE(none->record);
    EXPECT_EQ(testing::checksum(scene.catalog.database()), before);
    EXPECT_TRUE(backups().empty());
    EXPECT_TRUE(marker.history().empty());
}

TEST_F(CaptureOneTagging, SameSecondBackupsUndoKeepsNewTagsAndDamagedRecordsAreLeftOut) {
    const auto plan = suggestedPlan();
    auto first = plan, second = plan;
    first.removals = {removal(plan, "x.jpg")};
    second.removals = {removal(plan, "z.jpg")};
    ASSERT_TRUE(marker.mark(first, first.approve(now), scene.catalog.package(), now));
    ASSERT_TRUE(marker.mark(second, second.approve(now), scene.catalog.package(), now + std::chrono::milliseconds(300)));
    const auto time = CatalogFiles::backupTimeText(now);
    EXPECT_EQ(backups(), (std::vector<std::string>{"Main " + time + " 2.cocatalog", "Main " + time + ".cocatalog"}));

    data.write("Capture One/damaged.json", "[1, 2");
    auto history = marker.history();
    ASSERT_EQ(history.size(), 2u);

    // The person tagged x Green in Capture One since: undo leaves it Green; z loses its Red.
    testing::execute(scene.catalog.database(), "UPDATE ZVARIANTMETADATA SET ZCOLOR_TAG_INDEX = 4 WHERE Z_PK = " +
                                                   std::to_string(scene.xVariant.combinedMetadata));
    for (const auto& record : history) ASSERT_TRUE(marker.restore(record));
    EXPECT_EQ(scene.catalog.colorTag(scene.xVariant.combinedMetadata), 4);
    EXPECT_EQ(scene.catalog.colorTag(scene.xVariant.adjustmentMetadata), 1);
    EXPECT_EQ(scene.catalog.colorTag(scene.zVariant.combinedMetadata), 0);

    auto moved = history.front();
    moved.catalogPath = scene.dir / "Elsewhere.cocatalog";
    moved.restored = false;
    EXPECT_EQ(marker.restore(moved).error().description(), "The catalog was not changed: the catalog is no longer there");
}

} // namespace
} // namespace vp
