// Times the Lightroom Classic catalog path on a generated catalog of many photos: reading it,
// then marking a few thousand of them Rejected (backup included) and undoing that.
//   catalog-bench [PHOTOS] [MARKED]     (defaults 50000 and 2000)
#include "engine/catalogs/LightroomRejecter.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>

using namespace vp;
namespace fs = std::filesystem;

namespace {

void run(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", error);
        std::exit(1);
    }
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const long photos = argc > 1 ? std::atol(argv[1]) : 50000;
    const long marked = argc > 2 ? std::atol(argv[2]) : 2000;
    std::string pattern = (fs::temp_directory_path() / "catalog-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return 1;
    const std::string dir = pattern, catalog = dir + "/Main.lrcat";
    fs::create_directories(dir + "/Photos");

    sqlite3* db = nullptr;
    sqlite3_open(catalog.c_str(), &db);
    run(db, R"(
        CREATE TABLE Adobe_variablesTable (id_local INTEGER PRIMARY KEY, name, value);
        CREATE TABLE AgLibraryRootFolder (id_local INTEGER PRIMARY KEY, absolutePath);
        CREATE TABLE AgLibraryFolder (id_local INTEGER PRIMARY KEY, rootFolder INTEGER, pathFromRoot);
        CREATE TABLE AgLibraryFile (id_local INTEGER PRIMARY KEY, folder INTEGER, idx_filename, sidecarExtensions);
        CREATE TABLE Adobe_images (id_local INTEGER PRIMARY KEY, rootFile INTEGER, masterImage INTEGER, pick NOT NULL DEFAULT 0, rating, colorLabels NOT NULL DEFAULT '');
        CREATE INDEX index_Adobe_images_masterImage ON Adobe_images(masterImage);
        CREATE TABLE Adobe_imageDevelopSettings (id_local INTEGER PRIMARY KEY, image INTEGER, hasDevelopAdjustmentsEx);
        CREATE INDEX index_Adobe_imageDevelopSettings_image ON Adobe_imageDevelopSettings(image);
        CREATE TABLE AgLibraryCollectionImage (id_local INTEGER PRIMARY KEY, image INTEGER, collection INTEGER);
        CREATE INDEX index_AgLibraryCollectionImage_image ON AgLibraryCollectionImage(image);
        CREATE TABLE AgLibraryKeywordImage (id_local INTEGER PRIMARY KEY, image INTEGER, tag INTEGER);
        CREATE INDEX index_AgLibraryKeywordImage_image ON AgLibraryKeywordImage(image);
        INSERT INTO Adobe_variablesTable (name, value) VALUES ('Adobe_DBVersion', '1504001');
        BEGIN;
    )");
    run(db, "INSERT INTO AgLibraryRootFolder VALUES (1, '" + dir + "/');");
    run(db, "INSERT INTO AgLibraryFolder VALUES (2, 1, 'Photos/')");
    // Ids: file 10*i, master 10*i+1, its virtual copy (every tenth photo) 10*i+2.
    for (long i = 0; i < photos; ++i) {
        const auto n = std::to_string(i);
        run(db, "INSERT INTO AgLibraryFile VALUES (" + std::to_string(10 * i + 10) + ", 2, 'p" + n + ".jpg', 'xmp')");
        run(db, "INSERT INTO Adobe_images (id_local, rootFile, rating) VALUES (" + std::to_string(10 * i + 11) + ", " +
                    std::to_string(10 * i + 10) + ", " + std::to_string(i % 6) + ")");
        if (i % 10 == 9) {
            run(db, "INSERT INTO Adobe_images (id_local, rootFile, masterImage) VALUES (" + std::to_string(10 * i + 12) +
                        ", " + std::to_string(10 * i + 10) + ", " + std::to_string(10 * i + 11) + ")");
            run(db, "INSERT INTO Adobe_imageDevelopSettings (image, hasDevelopAdjustmentsEx) VALUES (" +
                        std::to_string(10 * i + 12) + ", 1)");
        }
        if (i % 7 == 0) run(db, "INSERT INTO AgLibraryCollectionImage (image, collection) VALUES (" + std::to_string(10 * i + 11) + ", 1)");
        if (i % 5 == 0) run(db, "INSERT INTO AgLibraryKeywordImage (image, tag) VALUES (" + std::to_string(10 * i + 11) + ", 1)");
        // Every other photo has its file; the rest are on a drive that is not plugged in.
        if (i % 2 == 0) std::ofstream(dir + "/Photos/p" + n + ".jpg") << "photo " << n;
    }
    run(db, "COMMIT");
    sqlite3_close(db);
    struct stat status {};
    ::stat(catalog.c_str(), &status);

    auto start = std::chrono::steady_clock::now();
    const auto read = LightroomCatalog::read(catalog);
    const double readSeconds = secondsSince(start);

    CleanupPlan plan;
    plan.id = Uuid::random();
    const std::string keeper = dir + "/Photos/keeper.jpg";
    std::ofstream(keeper) << "keeper";
    const KeeperEvidence evidence{keeper, *FileSnapshot::read(keeper)};
    for (const auto& photo : read.photos) {
        if (static_cast<long>(plan.removals.size()) == marked) break;
        if (!photo.exists || photo.ref.virtualCopies > 0) continue;
        PlannedRemoval removal;
        removal.path = photo.path;
        removal.snapshot = *FileSnapshot::read(photo.path);
        removal.keepers = {evidence};
        removal.lightroomImageID = photo.ref.imageID;
        plan.removals.push_back(std::move(removal));
    }
    LightroomRejecter rejecter(dir + "/Records", [](const std::string&) { return false; });
    start = std::chrono::steady_clock::now();
    const auto report = rejecter.mark(plan, plan.approve(std::chrono::system_clock::now()), catalog,
                                      std::chrono::system_clock::now());
    const double markSeconds = secondsSince(start);
    if (!report) {
        std::fprintf(stderr, "%s\n", report.error().description().c_str());
        return 1;
    }
    start = std::chrono::steady_clock::now();
    const auto restored = rejecter.restore(*report->record);
    const double restoreSeconds = secondsSince(start);

    std::printf("catalog: %ld photos (%ld with files), %.1f MB\n", photos, (photos + 1) / 2,
                static_cast<double>(status.st_size) / 1e6);
    std::printf("read:    %.3f s (%zu masters)\n", readSeconds, read.photos.size());
    std::printf("mark:    %.3f s for %zu photos, backup included\n", markSeconds, report->marked.size());
    std::printf("undo:    %.3f s%s\n", restoreSeconds, restored ? "" : " (refused)");
    fs::remove_all(dir);
    return 0;
}
