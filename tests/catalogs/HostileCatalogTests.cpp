// Catalogs where a careless or hostile person might put them: names with bytes that are not
// UTF-8 and characters that mean something in a URI, and things that are not files at all.
#include "CatalogFixtures.h"
#include "engine/catalogs/CaptureOneCatalog.h"
#include "engine/catalogs/LightroomRejecter.h"
#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vp {
namespace {

namespace fs = std::filesystem;

TEST(HostileCatalogs, NamesThatAreNotUtf8OrLookLikeAUriQueryGoThroughMarkingAndUndo) {
    testing::TempDir dir;
    const std::string folder = dir.folder("Caf\xe9 ?mode=rw#x%41&immutable=0"); // Latin-1, not UTF-8
    testing::writePicture(folder + "/p\xfe.jpg");
    fs::copy_file(folder + "/p\xfe.jpg", folder + "/p copy.jpg");
    testing::LightroomCatalogFile file(folder + "/Main ?#%.lrcat");
    const auto root = file.addRoot(folder);
    const auto rootFolder = file.addFolder(root, "");
    const auto odd = file.addPhoto(rootFolder, "p\xfe.jpg");
    file.addPhoto(rootFolder, "p copy.jpg", 0, 4);

    const auto catalog = LightroomCatalog::read(file.path());
    ASSERT_EQ(catalog.photos.size(), 2u);
    const std::string oddPath = *CatalogFiles::realPath(folder + "/p\xfe.jpg");
    EXPECT_EQ(catalog.photos.front().path, oddPath);
    EXPECT_TRUE(catalog.photos.front().exists);

    CleanupPlan plan;
    plan.id = Uuid::random();
    PlannedRemoval removal;
    removal.path = oddPath;
    removal.snapshot = *FileSnapshot::read(oddPath);
    removal.keepers = {{folder + "/p copy.jpg", *FileSnapshot::read(folder + "/p copy.jpg")}};
    removal.lightroomImageID = odd;
    plan.removals = {removal};
    testing::TempDir data;
    LightroomRejecter rejecter(data / "Lightroom", [](const std::string&) { return false; });
    const auto now = std::chrono::system_clock::now();
    const auto report = rejecter.mark(plan, plan.approve(now), file.path(), now);
    ASSERT_TRUE(report) << report.error().description();
    EXPECT_EQ(report->marked, (std::vector<std::string>{oddPath}));
    EXPECT_EQ(file.pick(odd), -1);
    EXPECT_EQ(report->record->backupPath.rfind(folder + "/Velmo Pristel Backups/Main ?#% ", 0), 0u);

    const auto history = rejecter.history();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history.front().marked.front().path, oddPath) << "the bytes come back from the record";
    EXPECT_EQ(history.front().catalogPath, file.path());
    ASSERT_TRUE(rejecter.restore(history.front()));
    EXPECT_EQ(file.pick(odd), 0);
}

TEST(HostileCatalogs, APipeOrAFolderNamedLikeACatalogIsRefusedAtOnce) {
    testing::TempDir dir;
    // A pipe would block SQLite's open or first read forever.
    ASSERT_EQ(::mkfifo((dir / "Pipe.lrcat").c_str(), 0644), 0);
    dir.folder("Folder.lrcat");
    for (const auto& name : {"Pipe.lrcat", "Folder.lrcat"}) {
        try {
            LightroomCatalog::read(dir / name);
            ADD_FAILURE() << name << " was read";
        } catch (const CatalogReadError& error) {
            EXPECT_EQ(error.description(), "The catalog could not be read: it is not a file") << name;
        }
    }
    LightroomMarkRecord record;
    record.catalogPath = dir / "Pipe.lrcat";
    LightroomRejecter rejecter(dir / "Records", [](const std::string&) { return false; });
    EXPECT_EQ(rejecter.restore(record).error().description(), "The catalog was not changed: it is not a file");

    dir.folder("Pipe.cocatalog");
    ASSERT_EQ(::mkfifo((dir / "Pipe.cocatalog/Main.cocatalogdb").c_str(), 0644), 0);
    try {
        CaptureOneCatalog::read(dir / "Pipe.cocatalog");
        ADD_FAILURE() << "the pipe was read";
    } catch (const CatalogReadError& error) {
        EXPECT_EQ(error.description(), "The catalog could not be read: it is not a file");
    }
}

} // namespace
} // namespace vp
