#include "ShotwellFixture.h"

#include "engine/library/LibraryScanner.h"
#include "engine/library/ReviewAlbum.h"
#include "engine/library/ShotwellLibrary.h"
#include "tests/catalogs/CatalogFixtures.h"
#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace vp {
namespace {

using testing::ShotwellProcess;
using testing::ShotwellRows;
namespace fs = std::filesystem;

const auto notRunning = [](const std::string&) { return false; };
const Timestamp now = std::chrono::sys_days{std::chrono::year{2024} / 6 / 1};

// Shotwell makes one database for the whole run; each test works on a copy of it.
struct MadeDatabase {
    testing::TempDir home;
    std::optional<std::string> path;
    std::string why;
};

const MadeDatabase& madeDatabase() {
    static MadeDatabase* made = [] {
        auto* database = new MadeDatabase;
        database->path = testing::makeShotwellDatabase(database->home.path(), database->why);
        return database;
    }();
    return *made;
}

void copyFile(const std::string& from, const std::string& to) {
    fs::create_directories(fs::path(to).parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

// A library of real pictures: two copies of one photo (and a third on a drive that is then
// unplugged, a fourth in Shotwell's trash, a fifth whose file is gone), two copies of a RAW + JPEG
// pair, an externally edited photo beside an unedited copy of its original, a flagged PNG, a
// video, and two tags, one of them the review album's former name.
class ShotwellScene : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ShotwellProcess::isAvailable()) GTEST_SKIP() << "Shotwell and xvfb-run are not installed (scripts/deps.sh).";
        const auto& made = madeDatabase();
        ASSERT_TRUE(made.path) << made.why;
        database = home / ".local/share/shotwell/data/photo.db";
        copyFile(*made.path, database);
        ShotwellRows rows(database);

        const auto pictures = home.folder("Pictures");
        testing::writePicture(pictures + "/a.jpg", {.width = 400, .height = 300});
        copyFile(pictures + "/a.jpg", pictures + "/copy of a.jpg");
        copyFile(pictures + "/a.jpg", pictures + "/trashed.jpg");
        copyFile(pictures + "/a.jpg", home / "drive/Photos/d.jpg");
        testing::writePicture(pictures + "/b.png", {.width = 200, .height = 100});
        testing::writeMinimalRaw(pictures + "/IMG_1.dng");
        testing::writePicture(pictures + "/IMG_1.jpg", {.width = 64, .height = 48});
        copyFile(pictures + "/IMG_1.dng", pictures + "/IMG_2.dng");
        copyFile(pictures + "/IMG_1.jpg", pictures + "/IMG_2.jpg");
        testing::writePicture(pictures + "/e.jpg", {.width = 300, .height = 200});
        copyFile(pictures + "/e.jpg", pictures + "/e2.jpg");
        testing::writePicture(pictures + "/e-edited.jpg", {.width = 300, .height = 200, .orientation = 3});

        a = rows.addPhoto(pictures + "/a.jpg", 400, 300, 0, 0, 1714521600);
        copyOfA = rows.addPhoto(pictures + "/copy of a.jpg", 400, 300, 0, 0, 1714521700);
        trashed = rows.addPhoto(pictures + "/trashed.jpg", 400, 300, 0, 0x4);
        unplugged = rows.addPhoto(home / "drive/Photos/d.jpg", 400, 300);
        // A drive's mount point stays behind, empty, while the drive is away.
        home.folder("media/usb");
        onEmptyMountPoint = rows.addPhoto(home / "media/usb/u.jpg", 400, 300);
        gone = rows.addPhoto(pictures + "/gone.jpg", 400, 300);
        b = rows.addPhoto(pictures + "/b.png", 200, 100, 2, 0x10);
        raw1 = rows.addPhoto(pictures + "/IMG_1.dng", 64, 48, 1);
        rows.addCameraJpeg(raw1, pictures + "/IMG_1.jpg", 64, 48);
        raw2 = rows.addPhoto(pictures + "/IMG_2.dng", 64, 48, 1, 0, 1714521800);
        rows.addCameraJpeg(raw2, pictures + "/IMG_2.jpg", 64, 48);
        edited = rows.addPhoto(pictures + "/e.jpg", 300, 200);
        rows.addExternalEdit(edited, pictures + "/e-edited.jpg", 300, 200);
        rows.addPhoto(pictures + "/e2.jpg", 300, 200);
        rows.addVideo(home / "Videos/clip.mp4");
        rows.addTag("Holidays", std::vector<std::int64_t>{a});
        rows.addTag("Kavrilo Review", std::vector<std::int64_t>{b});
        fs::rename(home / "drive", home / "drive (unplugged)");
    }

    ScanResult scan(const ShotwellLibrary& library) {
        CancellationFlag cancel;
        return LibraryScanner::scan(library, true, nullptr, nullptr, cancel, {});
    }

    static std::string path(std::int64_t row) { return "photos-library:" + ShotwellLibrary::photoID(row); }

    testing::TempDir home;
    std::string database;
    std::int64_t a = 0, copyOfA = 0, trashed = 0, unplugged = 0, onEmptyMountPoint = 0, gone = 0, b = 0, raw1 = 0, raw2 = 0, edited = 0;
};

TEST_F(ShotwellScene, ListsVisiblePhotosWithTheirFilesFlagsAndDates) {
    const ShotwellLibrary library(database, notRunning);
    const auto listing = library.items(CancellationFlag{});
    EXPECT_EQ(listing.videos, 1);
    ASSERT_EQ(listing.photos.size(), 10U); // the trashed photo is left out
    std::map<std::string, PhotoLibraryItem> byID;
    for (const auto& item : listing.photos) byID[item.id] = item;
    EXPECT_FALSE(byID.contains(ShotwellLibrary::photoID(trashed)));

    const auto& pair = byID.at(ShotwellLibrary::photoID(raw1));
    EXPECT_EQ(pair.filename, "IMG_1.jpg");
    EXPECT_EQ(pair.uti, "public.jpeg");
    EXPECT_TRUE(pair.hasRAWPair);
    EXPECT_FALSE(pair.isEdited);
    EXPECT_TRUE(byID.at(ShotwellLibrary::photoID(edited)).isEdited);
    EXPECT_TRUE(byID.at(ShotwellLibrary::photoID(b)).isFavorite);
    EXPECT_EQ(byID.at(ShotwellLibrary::photoID(b)).uti, "public.png");
    EXPECT_EQ(byID.at(ShotwellLibrary::photoID(a)).created, Timestamp{std::chrono::seconds(1714521600)});
    struct stat status {};
    ASSERT_EQ(::stat((home / "Pictures/a.jpg").c_str(), &status), 0);
    // Dated by the file on disk, to the nanosecond, so a file changed behind Shotwell's back counts.
    EXPECT_EQ(byID.at(ShotwellLibrary::photoID(a)).modified,
              Timestamp{std::chrono::seconds(status.st_mtim.tv_sec) + std::chrono::nanoseconds(status.st_mtim.tv_nsec)});
    EXPECT_EQ(listing.photos.front().id, ShotwellLibrary::photoID(a)); // oldest first
    EXPECT_EQ(ShotwellLibrary::rowOf(ShotwellLibrary::photoID(raw2)), raw2);
    EXPECT_FALSE(ShotwellLibrary::rowOf("video-0000000000000001"));
    EXPECT_FALSE(library.currentModified(ShotwellLibrary::photoID(trashed))); // in Shotwell's trash
    EXPECT_TRUE(library.preview(ShotwellLibrary::photoID(edited), 64));
}

TEST_F(ShotwellScene, FindsCopiesByEveryFileAndSaysWhichDriveIsMissing) {
    const ShotwellLibrary library(database, notRunning);
    const auto result = scan(library);
    ASSERT_EQ(result.groups.size(), 2U);
    EXPECT_EQ(result.groups[0].members.size(), 2U);
    EXPECT_EQ(result.groups[0].members[0].path, path(a));
    EXPECT_EQ(result.groups[0].members[1].path, path(copyOfA));
    EXPECT_EQ(result.groups[1].members[0].path, path(raw1));
    EXPECT_EQ(result.groups[1].members[1].path, path(raw2));
    EXPECT_EQ(result.groups[1].members[0].library->kindText(), "RAW + JPEG");

    std::map<std::string, SkippedFile> skipped;
    for (const auto& file : result.skipped) skipped[file.path] = file;
    ASSERT_EQ(skipped.size(), 3U);
    EXPECT_EQ(skipped.at(path(unplugged)).reason, SkipReason::cloudPlaceholder);
    EXPECT_EQ(skipped.at(path(unplugged)).detail, "d.jpg: on a drive that is not connected");
    EXPECT_EQ(skipped.at(path(onEmptyMountPoint)).detail, "u.jpg: on a drive that is not connected");
    EXPECT_EQ(skipped.at(path(gone)).reason, SkipReason::unreadable);
    EXPECT_EQ(skipped.at(path(gone)).detail, "gone.jpg: Its file is no longer at " + home / "Pictures/gone.jpg" + ".");
}

TEST_F(ShotwellScene, TagsTheApprovedCopiesAfterABackupAndOnlyWhileShotwellIsClosed) {
    ShotwellLibrary library(database, notRunning);
    const auto plan = testing::planOfSuggested(scan(library).groups, now);
    ASSERT_EQ(plan.removals.size(), 2U);

    ShotwellLibrary whileOpen(database, [](const std::string&) { return true; });
    const auto before = testing::checksum(database);
    auto refused = ReviewAlbum::add(plan, plan.approve(now), whileOpen, whileOpen);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().description(), "Photos did not add them to the album: Quit Shotwell first. Its library is "
                                             "only changed while Shotwell is closed.");
    EXPECT_EQ(testing::checksum(database), before);
    EXPECT_FALSE(fs::exists(home / ".local/share/shotwell/data/Velmo Pristel Backups"));

    const auto report = ReviewAlbum::add(plan, plan.approve(now), library, library);
    ASSERT_TRUE(report) << report.error().description();
    EXPECT_EQ(report->added.size(), 2U);
    auto tagged = library.tagged("Velmo Pristel Review");
    EXPECT_EQ(tagged.size(), 3U); // the former album's photo and the two copies
    EXPECT_EQ(tagged.front(), ShotwellLibrary::photoID(b));
    EXPECT_TRUE(library.tagged("Kavrilo Review").empty());
    EXPECT_EQ(library.tagged("Holidays"), std::vector<std::string>{ShotwellLibrary::photoID(a)});
    EXPECT_EQ(testing::namesIn(home / ".local/share/shotwell/data/Velmo Pristel Backups").size(), 1U);

    // The same plan again adds nothing twice.
    ASSERT_TRUE(ReviewAlbum::add(plan, plan.approve(now), library, library));
    EXPECT_EQ(library.tagged("Velmo Pristel Review"), tagged);
}

TEST_F(ShotwellScene, AccessFollowsWhatThisUserMayDoWithTheDatabase) {
    EXPECT_EQ(ShotwellLibrary::access(database), Access::granted);
    EXPECT_EQ(ShotwellLibrary::access(home / "nothing/photo.db"), Access::notAsked);
    for (auto folder = fs::path(database).parent_path(); folder.string().size() >= home.path().size();
         folder = folder.parent_path())
        fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    ::chmod(database.c_str(), 0644);
    EXPECT_EQ(testing::runAsUnprivilegedUser([&] { return ShotwellLibrary::access(database) == Access::restricted ? 0 : 1; }), 0);
    ::chmod(database.c_str(), 0600);
    EXPECT_EQ(testing::runAsUnprivilegedUser([&] { return ShotwellLibrary::access(database) == Access::denied ? 0 : 1; }), 0);
}

TEST_F(ShotwellScene, AReplacementTakesTheOriginalsPlaceAndTheOriginalGoesToTheTrash) {
    // The desktop's Trash of this scene's home, not the one of whoever runs the tests.
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    testing::writePicture(home / "smaller.png", {.width = 400, .height = 300});
    const LibraryReplacement replacement{ShotwellLibrary::photoID(a), "a.png",
                                         LibraryReplacement::Still{testing::readFile(home / "smaller.png"), "public.png"}};

    ShotwellLibrary whileOpen(database, [](const std::string&) { return true; });
    EXPECT_THROW(whileOpen.replace({replacement}), LibraryWriteError);
    EXPECT_FALSE(fs::exists(home / "Pictures/a.png"));

    ShotwellLibrary library(database, notRunning);
    EXPECT_EQ(library.replace({replacement, {"thumb00000000000fffff", "x.png", LibraryReplacement::Still{"x", {}}}}),
              std::vector<std::string>{ShotwellLibrary::photoID(a)});
    ::unsetenv("XDG_DATA_HOME");

    const auto row = testing::queryInteger(database, "SELECT id FROM PhotoTable WHERE filename = '" + home / "Pictures/a.png" + "'");
    EXPECT_EQ(testing::queryInteger(database, "SELECT COUNT(*) FROM PhotoTable WHERE id = " + std::to_string(a)), 0);
    EXPECT_EQ(testing::queryInteger(database, "SELECT exposure_time FROM PhotoTable WHERE id = " + std::to_string(row)),
              1714521600);
    EXPECT_EQ(testing::queryInteger(database, "SELECT file_format FROM PhotoTable WHERE id = " + std::to_string(row)), 2);
    EXPECT_EQ(library.tagged("Holidays"), std::vector<std::string>{ShotwellLibrary::photoID(row)});
    EXPECT_FALSE(fs::exists(home / "Pictures/a.jpg"));
    EXPECT_TRUE(fs::exists(home / ".local/share/Trash/files/a.jpg"));
    EXPECT_EQ(testing::readFile(home / "Pictures/a.png"), testing::readFile(home / "smaller.png"));
}

// What a damaged library or a careless hand leaves: a FIFO or a folder where a photo was, text in
// a number column, an edit that points nowhere, a tag name with quotes, a truncated database.
TEST_F(ShotwellScene, DamagedRowsAndFilesNeverStopTheScanOrBlockIt) {
    ShotwellRows rows(database);
    ASSERT_EQ(::mkfifo((home / "Pictures/fifo.jpg").c_str(), 0600), 0);
    const auto fifo = rows.addPhoto(home / "Pictures/fifo.jpg", 400, 300);
    home.folder("Pictures/folder.jpg");
    const auto folder = rows.addPhoto(home / "Pictures/folder.jpg", 400, 300);
    testing::execute(database, "UPDATE PhotoTable SET width = 'wide', editable_id = 99999 WHERE id = " + std::to_string(b));

    ShotwellLibrary library(database, notRunning);
    EXPECT_FALSE(ShotwellLibrary::problem(database));
    const auto result = scan(library);
    EXPECT_EQ(result.groups.size(), 2U);
    std::map<std::string, SkippedFile> skipped;
    for (const auto& file : result.skipped) skipped[file.path] = file;
    EXPECT_EQ(skipped.at(path(fifo)).detail, "fifo.jpg: Its file is not a plain file: " + home / "Pictures/fifo.jpg" + ".");
    EXPECT_EQ(skipped.at(path(folder)).reason, SkipReason::unreadable);
    const auto listing = library.items(CancellationFlag{});
    const auto damaged = std::find_if(listing.photos.begin(), listing.photos.end(),
                                      [&](const PhotoLibraryItem& item) { return item.id == ShotwellLibrary::photoID(b); });
    ASSERT_NE(damaged, listing.photos.end());
    EXPECT_EQ(damaged->pixelWidth, 0);
    EXPECT_FALSE(damaged->isEdited);

    EXPECT_EQ(library.addToAlbum("Rock 'n' Roll", {ShotwellLibrary::photoID(a)}),
              std::vector<std::string>{ShotwellLibrary::photoID(a)});
    EXPECT_EQ(library.tagged("Rock 'n' Roll"), std::vector<std::string>{ShotwellLibrary::photoID(a)});

    const std::string truncated = home.folder("truncated") + "/photo.db";
    const auto bytes = testing::readFile(database);
    testing::writeFile(truncated, bytes.substr(0, bytes.size() / 3));
    ASSERT_TRUE(ShotwellLibrary::problem(truncated));
    const ShotwellLibrary broken(truncated, notRunning);
    EXPECT_TRUE(broken.items(CancellationFlag{}).photos.empty());
    EXPECT_EQ(broken.hash(ShotwellLibrary::photoID(a), false, {}).kind, LibraryHash::Kind::failed);
    EXPECT_FALSE(broken.currentModified(ShotwellLibrary::photoID(a)));
}

struct Run {
    int status = -1;
    std::string output;
};

// The program as a person runs it, with the scene's home as theirs.
Run run(const testing::TempDir& home, const std::string& arguments, const std::string& input) {
    const std::string command = "cd '" + home.path() + "' && printf '" + input + "' | HOME='" + home.path() +
                                "' XDG_CONFIG_HOME='" + home / ".config" + "' XDG_DATA_HOME='" + home / ".local/share" +
                                "' '" + VP_EXECUTABLE + "' " + arguments + " 2>/dev/null";
    Run result;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) result.output.append(buffer, got);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST_F(ShotwellScene, TheTerminalTagsTheCopiesOnlyOnceThePersonSaysYes) {
    const ShotwellLibrary library(database, notRunning);
    const auto planned = run(home, "clean --library=.local/share/shotwell/data --dry-run --json", "");
    EXPECT_EQ(planned.status, 0);
    const auto document = Json::parse(planned.output);
    EXPECT_EQ(document["outcome"], "planned");
    EXPECT_EQ(document["plan"]["removals"].size(), 2U);

    const auto declined = run(home, "clean --library shotwell", "n\\n");
    EXPECT_EQ(declined.status, 1);
    EXPECT_NE(declined.output.find("Nothing was moved."), std::string::npos);
    EXPECT_EQ(library.tagged("Kavrilo Review").size(), 1U);

    const auto tagged = run(home, "clean --library shotwell", "y\\n");
    EXPECT_EQ(tagged.status, 0) << tagged.output;
    EXPECT_NE(tagged.output.find("2 added to the review album"), std::string::npos) << tagged.output;
    EXPECT_EQ(library.tagged("Velmo Pristel Review").size(), 3U);
}

// Shotwell itself opens the library again after our tagging and a replacement, shows it (the
// process stays up) and leaves the tag as we wrote it; while it runs, nothing is written.
TEST_F(ShotwellScene, ShotwellOpensTheLibraryAgainAfterTagging) {
    ShotwellLibrary library(database);
    const auto plan = testing::planOfSuggested(scan(library).groups, now);
    const auto report = ReviewAlbum::add(plan, plan.approve(now), library, library);
    ASSERT_TRUE(report) << report.error().description();
    // And a photo replaced by a smaller file, as the media work does.
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    testing::writePicture(home / "smaller.png", {.width = 200, .height = 100});
    const auto replaced = library.replace({{ShotwellLibrary::photoID(b), "b small.png",
                                            LibraryReplacement::Still{testing::readFile(home / "smaller.png"), "public.png"}}});
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(replaced.size(), 1U);
    const auto tagged = library.tagged("Velmo Pristel Review");
    const auto photos = testing::queryInteger(database, "SELECT COUNT(*) FROM PhotoTable");

    // A virtual display that could not start ends the attempt early; another display is tried.
    std::optional<ShotwellProcess> shotwell;
    bool seenRunning = false;
    for (int attempt = 0; attempt < 3 && !seenRunning; ++attempt) {
        shotwell.emplace(home.path(), attempt);
        for (int tenth = 0; tenth < 300 && !seenRunning && shotwell->isRunning(); ++tenth) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            seenRunning = ShotwellLibrary::isShotwellRunning(database);
        }
    }
    ASSERT_TRUE(seenRunning) << shotwell->log();
    copyFile(database, home / "another/photo.db"); // a second library, which that Shotwell does not use
    EXPECT_FALSE(ShotwellLibrary::isShotwellRunning(home / "another/photo.db"));
    EXPECT_THROW(library.addToAlbum("Velmo Pristel Review", {ShotwellLibrary::photoID(edited)}), LibraryWriteError);
    std::this_thread::sleep_for(std::chrono::seconds(8));
    EXPECT_TRUE(shotwell->isRunning()) << shotwell->log();
    shotwell->stop();

    EXPECT_EQ(library.tagged("Velmo Pristel Review"), tagged);
    EXPECT_EQ(testing::queryInteger(database, "SELECT COUNT(*) FROM PhotoTable"), photos);
    EXPECT_EQ(testing::queryInteger(database, "SELECT schema_version FROM VersionTable"), 20);
}

} // namespace
} // namespace vp
