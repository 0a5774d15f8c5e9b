#include "LightroomScene.h"
#include "engine/catalogs/LightroomCatalog.h"
#include "engine/catalogs/LightroomScanner.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

namespace vp {
namespace {

using testing::LightroomScene;

const LightroomPhoto& photo(const LightroomCatalog::Catalog& catalog, std::int64_t id) {
    const auto found = std::find_if(catalog.photos.begin(), catalog.photos.end(),
                                    [&](const auto& photo) { return photo.ref.imageID == id; });
    if (found == catalog.photos.end()) throw std::runtime_error("no photo " + std::to_string(id));
    return *found;
}

std::string readErrorText(const std::string& path) {
    try {
        LightroomCatalog::read(path);
    } catch (const CatalogReadError& error) {
        return error.description();
    }
    return "read";
}

TEST(LightroomCatalogReading, ReadsEveryMasterWithWhatWasDoneToIt) {
    LightroomScene scene;
    const auto catalog = LightroomCatalog::read(scene.catalog.path());

    EXPECT_EQ(catalog.schemaVersion, "1504001");
    EXPECT_TRUE(catalog.isTestedVersion());
    // Virtual copies are counted on their master, never listed.
    ASSERT_EQ(catalog.photos.size(), 6u);
    EXPECT_TRUE(std::is_sorted(catalog.photos.begin(), catalog.photos.end(),
                               [](const auto& x, const auto& y) { return x.ref.imageID < y.ref.imageID; }));

    const auto& a = photo(catalog, scene.a);
    EXPECT_EQ(a.path, scene.real("Photos/2024/a.jpg")); // root with a trailing "/"
    EXPECT_TRUE(a.exists);
    EXPECT_FALSE(a.ref.workedOn());

    const auto& aCopy = photo(catalog, scene.aCopy);
    EXPECT_EQ(aCopy.path, scene.real("Archive/old/a copy.jpg")); // root without one
    EXPECT_EQ(aCopy.ref.rating, 3);
    EXPECT_EQ(aCopy.ref.colorLabel, "Red");
    EXPECT_EQ(aCopy.ref.collections, 1);
    EXPECT_EQ(aCopy.ref.keywords, 1);
    EXPECT_EQ(aCopy.ref.sidecarExtensions, (std::vector<std::string>{"xmp", "JPG"}));

    const auto& b = photo(catalog, scene.b);
    EXPECT_EQ(b.ref.virtualCopies, 1);
    EXPECT_TRUE(b.ref.isEdited) << "the develop adjustment of its virtual copy counts";
    EXPECT_EQ(photo(catalog, scene.bCopy).ref.pick, 1);
    EXPECT_EQ(photo(catalog, scene.rejected).ref.pick, -1);

    const auto& gone = photo(catalog, scene.gone);
    EXPECT_FALSE(gone.exists);
    EXPECT_EQ(gone.path, scene.dir / "Photos/2024/gone.jpg");
    ASSERT_EQ(catalog.missing().size(), 1u);

    EXPECT_EQ(catalog.rootFolders, (std::vector<std::string>{scene.real("Archive"), scene.real("Photos")}));
}

TEST(LightroomCatalogReading, NumbersAreReadWhateverTypeTheCatalogStoredThemAs) {
    LightroomScene scene;
    // Columns without a declared type keep what was written: text, reals, or damage.
    testing::execute(scene.catalog.path(),
                     "UPDATE Adobe_images SET pick = '-1.0', rating = '4' WHERE id_local = " + std::to_string(scene.a) +
                         "; UPDATE Adobe_images SET pick = 1.0, rating = 1e300 WHERE id_local = " +
                         std::to_string(scene.b) + "; UPDATE Adobe_images SET rating = 'five', colorLabels = x'00ff' "
                         "WHERE id_local = " + std::to_string(scene.bCopy));
    const auto catalog = LightroomCatalog::read(scene.catalog.path());
    EXPECT_EQ(photo(catalog, scene.a).ref.pick, -1);
    EXPECT_EQ(photo(catalog, scene.a).ref.rating, 4);
    EXPECT_EQ(photo(catalog, scene.b).ref.pick, 1);
    EXPECT_EQ(photo(catalog, scene.b).ref.rating, 0) << "a number no rating can be is no rating";
    EXPECT_EQ(photo(catalog, scene.bCopy).ref.rating, 0);
    EXPECT_EQ(photo(catalog, scene.bCopy).ref.colorLabel, "") << "a blob is no label";
}

TEST(LightroomCatalogReading, OddCatalogsReadOrAreRefusedWithTheirReason) {
    testing::TempDir dir;
    {
        testing::LightroomCatalogFile capitals(dir / "CAPITALS.LRCAT", "");
        const auto catalog = LightroomCatalog::read(capitals.path());
        EXPECT_EQ(catalog.schemaVersion, "unknown");
        EXPECT_FALSE(catalog.isTestedVersion());
    }
    struct Case {
        std::string name;
        std::string damage; ///< SQL run on a good catalog
        std::string expected;
    };
    const std::vector<Case> cases{
        {"Zipped.lrcat.zip", "", "That is not a Lightroom Classic catalog (.lrcat)."},
        {"NoSidecars.lrcat", "ALTER TABLE AgLibraryFile DROP COLUMN sidecarExtensions",
         "This catalog is laid out in a way this version does not know (AgLibraryFile.sidecarExtensions), so it was "
         "left alone."},
        {"NoKeywords.lrcat", "DROP TABLE AgLibraryKeywordImage",
         "This catalog is laid out in a way this version does not know (AgLibraryKeywordImage.image, "
         "AgLibraryKeywordImage.tag), so it was left alone."},
    };
    for (const auto& c : cases) {
        testing::LightroomCatalogFile file(dir / c.name);
        if (!c.damage.empty()) testing::execute(file.path(), c.damage);
        const auto before = testing::checksum(file.path());
        EXPECT_EQ(readErrorText(file.path()), c.expected) << c.name;
        EXPECT_EQ(testing::checksum(file.path()), before) << c.name;
    }
    // A text file named like a catalog.
    testing::writeFile(dir / "Notes.lrcat", "not a database, just notes\n");
    EXPECT_EQ(readErrorText(dir / "Notes.lrcat"), "The catalog could not be read: file is not a database");
    EXPECT_EQ(readErrorText(dir / "Absent.lrcat").rfind("The catalog could not be read: ", 0), 0u);
}

TEST(LightroomCatalogReading, ACatalogLockedByItsWriterIsBusyAfterTheTimeOut) {
    LightroomScene scene;
    // Lightroom Classic holds its catalog exclusively while it writes; the write-ahead log beside
    // the file tells the reader not to trust an immutable read.
    testing::LockingProcess lightroom(scene.catalog.path(),
                                      {"PRAGMA locking_mode=EXCLUSIVE", "PRAGMA journal_mode=WAL", "BEGIN IMMEDIATE",
                                       "UPDATE Adobe_images SET rating = 2"});
    ASSERT_TRUE(std::filesystem::exists(scene.catalog.path() + "-wal"));
    const auto before = testing::checksum(scene.catalog.path());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(readErrorText(scene.catalog.path()),
              "The catalog could not be read: Lightroom Classic is busy with it. Try again in a moment.");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2900));
    EXPECT_EQ(testing::checksum(scene.catalog.path()), before);
}

TEST(LightroomCatalogFinding, OpenByLockFileOrRunningProgramAndNewestCatalogFirst) {
    testing::TempDir dir;
    const auto older = dir.write("Lightroom/Older.lrcat", "");
    const auto newer = dir.write("Lightroom/Newer.LRCAT", "");
    dir.write("Lightroom/Main.lrcat-wal", "");
    dir.write("Lightroom/Backup.lrcat.zip", "");
    std::filesystem::last_write_time(older, std::filesystem::last_write_time(newer) - std::chrono::hours(1));
    EXPECT_EQ(LightroomCatalog::catalogsIn(dir / "Lightroom"), (std::vector<std::string>{newer, older}));
    EXPECT_TRUE(LightroomCatalog::catalogsIn(dir / "Nowhere").empty());
    EXPECT_EQ(LightroomCatalog::noCatalogNotice("/media/disk"),
              "No Lightroom Classic catalog (.lrcat) in /media/disk. Choose the folder it is in.");

    const bool runningAlready = CatalogFiles::isProgramRunning(LightroomCatalog::programNames);
    if (!runningAlready) {
        EXPECT_FALSE(LightroomCatalog::isOpen(older));
    }
    dir.write("Lightroom/Older.lrcat.lock", "");
    EXPECT_TRUE(LightroomCatalog::isOpen(older));
    {
        testing::NamedProcess lightroom("Lightroom.exe");
        EXPECT_TRUE(LightroomCatalog::isOpen(newer));
    }
    if (!runningAlready) {
        EXPECT_FALSE(LightroomCatalog::isOpen(newer));
    }
}

TEST(LightroomScanning, ComparesOnlyTheCatalogsLivePhotosAndCarriesTheirReferences) {
    LightroomScene scene;
    const auto catalog = LightroomCatalog::read(scene.catalog.path());
    CancellationFlag cancel;
    const auto result = LightroomScanner::scan(catalog, true, cancel, [](const ScanProgress&) {});

    EXPECT_EQ(result.lightroomRejected, 1);
    ASSERT_EQ(result.groups.size(), 2u);
    for (const auto& group : result.groups) {
        ASSERT_EQ(group.members.size(), 2u) << "neither the rejected nor the unlisted copy is compared";
        for (const auto& member : group.members) {
            ASSERT_TRUE(member.lightroom) << member.path;
            EXPECT_NE(member.path, scene.real("Photos/2024/unlisted.jpg"));
        }
    }
    for (const auto& picture : result.pictures) EXPECT_TRUE(picture.lightroom) << picture.path;
    const auto gone = std::find_if(result.skipped.begin(), result.skipped.end(),
                                   [](const auto& skipped) { return skipped.path.ends_with("gone.jpg"); });
    ASSERT_NE(gone, result.skipped.end());
    EXPECT_EQ(gone->reason, SkipReason::unreadable);
    EXPECT_EQ(gone->detail, "Lightroom Classic lists it, but the file is not where the catalog says.");
}

} // namespace
} // namespace vp
