// A real Shotwell library's videos shrunk through the library: a real clip is compressed, its
// row replaced by one that keeps the original's date, event, tags, rating and flags, and the
// original file moved to the Trash; the terminal does the same after asking, refuses while
// Shotwell runs, and Shotwell opens the library afterwards.
#include "ShotwellFixture.h"

#include "engine/library/ShotwellLibrary.h"
#include "engine/media/LibraryMediaExecutor.h"
#include "engine/media/LibraryMediaScanner.h"
#include "platform/media/Movies.h"
#include "tests/catalogs/CatalogFixtures.h"
#include "tests/support/Clips.h"
#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace vp {
namespace {

using testing::ShotwellProcess;
namespace fs = std::filesystem;

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

std::string videoID(std::int64_t row) { return "video-" + ShotwellLibrary::photoID(row).substr(5); }

// A library with two videos of one event: a big clip tagged "Trip" and rated, and a flagged
// (favourite) one; and a video on a drive that is not connected.
class ShotwellVideos : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ShotwellProcess::isAvailable()) GTEST_SKIP() << "Shotwell and xvfb-run are not installed (scripts/deps.sh).";
        const auto& made = madeDatabase();
        ASSERT_TRUE(made.path) << made.why;
        database = home / ".local/share/shotwell/data/photo.db";
        fs::create_directories(fs::path(database).parent_path());
        fs::copy_file(*made.path, database);
        home.folder("Videos");
        testing::makeClip(home / "Videos/trip.mp4",
                          {.width = 640, .height = 360, .seconds = 2.0, .frameRate = 15, .quality = 4});
        testing::makeClip(home / "Videos/loved.mp4", {.width = 640, .height = 360, .seconds = 2.0, .frameRate = 15, .quality = 4});
        testing::execute(database, "INSERT INTO EventTable (name, time_created) VALUES ('Summer', 1714600000)");
        event = testing::queryInteger(database, "SELECT MAX(id) FROM EventTable");
        trip = addVideo(home / "Videos/trip.mp4", event, 0);
        loved = addVideo(home / "Videos/loved.mp4", event, 0x4);
        unplugged = addVideo(home / "drive/clip.mp4", event, 0);
        testing::execute(database, "INSERT INTO TagTable (name, photo_id_list, time_created) VALUES ('Trip', '" +
                                       videoID(trip) + ",', 1714600000)");
        testing::execute(database, "UPDATE EventTable SET primary_source_id = '" + videoID(trip) + "' WHERE id = " +
                                       std::to_string(event));
        tripSize = static_cast<std::int64_t>(fs::file_size(home / "Videos/trip.mp4"));
    }

    std::int64_t addVideo(const std::string& path, std::int64_t event, std::int64_t flags) {
        testing::execute(database, "INSERT INTO VideoTable (filename, width, height, clip_duration, is_interpretable, "
                                   "filesize, timestamp, exposure_time, import_id, event_id, md5, time_created, rating, "
                                   "title, flags, comment) VALUES ('" + path + "', 640, 360, 2.0, 1, 1000, 1714521600, "
                                   "1714521600, 1714600000, " + std::to_string(event) + ", NULL, 1714600000, 4, "
                                   "'At the lake', " + std::to_string(flags) + ", 'Windy')");
        return testing::queryInteger(database, "SELECT MAX(id) FROM VideoTable");
    }

    std::int64_t column(const std::string& name, std::int64_t row) {
        return testing::queryInteger(database, "SELECT " + name + " FROM VideoTable WHERE id = " + std::to_string(row));
    }

    testing::TempDir home;
    std::string database;
    std::int64_t event = 0, trip = 0, loved = 0, unplugged = 0, tripSize = 0;
};

TEST_F(ShotwellVideos, AVideoIsReplacedByItsSmallerCopyKeepingItsPlaceInTheLibrary) {
    ShotwellLibrary library(database, [](const std::string&) { return false; });
    CancellationFlag cancel;
    const MediaScan found = LibraryMediaScanner::scan(library, true, cancel);
    ASSERT_EQ(found.videos.size(), 3u);
    std::map<std::string, std::string> leftAlone;
    for (const auto& video : found.videos) leftAlone[video.path] = video.leftAlone.value_or("");
    EXPECT_EQ(leftAlone["photos-library:" + videoID(loved)], "A favourite, so it is kept as it is");
    EXPECT_EQ(leftAlone["photos-library:" + videoID(unplugged)], "On a drive that is not connected");
    ASSERT_EQ(found.candidates().size(), 1u) << leftAlone["photos-library:" + videoID(trip)];
    EXPECT_EQ(found.candidates().front().name(), "trip.mp4");

    const CompressionPlan plan(found.videos, found.roots, std::chrono::system_clock::now());
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1); // this home's Trash
    const auto report = LibraryMediaExecutor(home / "working").compress(plan, {plan.id}, library, library, cancel);
    ::unsetenv("XDG_DATA_HOME");
    ASSERT_TRUE(report);
    ASSERT_EQ(report->items.front().outcome.kind, CompressionOutcome::Kind::compressed) << report->items.front().outcome.reason;

    const auto row = testing::queryInteger(database, "SELECT MAX(id) FROM VideoTable");
    EXPECT_EQ(testing::queryInteger(database, "SELECT COUNT(*) FROM VideoTable WHERE id = " + std::to_string(trip)), 0);
    const std::map<std::string, std::int64_t> kept{
        {"exposure_time", 1714521600}, {"event_id", event}, {"rating", 4}, {"flags", 0}, {"import_id", 1714600000}};
    for (const auto& [name, value] : kept) EXPECT_EQ(column(name, row), value) << name;
    EXPECT_EQ(testing::queryInteger(database, "SELECT COUNT(*) FROM VideoTable WHERE title = 'At the lake' AND comment = "
                                              "'Windy' AND id = " + std::to_string(row)), 1);
    EXPECT_EQ(library.tagged("Trip"), std::vector<std::string>{videoID(row)});
    EXPECT_EQ(testing::queryInteger(database, "SELECT COUNT(*) FROM EventTable WHERE primary_source_id = '" + videoID(row) + "'"), 1);

    // The new file plays to its end, as long and smaller, and the row says so; the original is in the Trash.
    const auto copy = library.localVideoURL(videoID(row));
    ASSERT_TRUE(copy);
    EXPECT_EQ(*copy, home / "Videos/trip.mp4"); // with its original gone, the copy takes its name
    const Movies::Playback playback = Movies::decodeFully(*copy);
    EXPECT_TRUE(playback.decoded);
    EXPECT_NEAR(playback.duration, 2.0, 0.1);
    EXPECT_EQ(playback.audioTracks, 1);
    EXPECT_EQ(column("filesize", row), static_cast<std::int64_t>(fs::file_size(*copy)));
    EXPECT_EQ(fs::last_write_time(*copy), fs::last_write_time(home / ".local/share/Trash/files/trip.mp4"));
    EXPECT_LT(column("filesize", row), tripSize);
    EXPECT_EQ(Movies::read(*copy)->codec, "hvc1");
    EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(home / ".local/share/Trash/files/trip.mp4")), tripSize);
    EXPECT_TRUE(testing::namesIn(home / "working").empty());
}

// A phone's Live Photo imported into Shotwell is a still and a short movie beside it; one without
// the pairing identifier is two items as Shotwell shows them.
TEST_F(ShotwellVideos, ALivePhotoKeepsItsStillAloneAndItsMovieGoesToTheTrash) {
    testing::ShotwellRows rows(database);
    testing::writePicture(home / "Videos/IMG_7.jpg", {.width = 400, .height = 300});
    testing::makeClip(home / "Videos/IMG_7.MOV", {.width = 320, .height = 240, .seconds = 2.0, .contentIdentifier = "ID-7"});
    testing::writePicture(home / "Videos/IMG_8.jpg", {.width = 400, .height = 300});
    testing::makeClip(home / "Videos/IMG_8.MOV", {.width = 320, .height = 240, .seconds = 2.0});
    const auto still = rows.addPhoto(home / "Videos/IMG_7.jpg", 400, 300);
    const auto movie = addVideo(home / "Videos/IMG_7.MOV", event, 0);
    rows.addPhoto(home / "Videos/IMG_8.jpg", 400, 300);
    const auto plainMovie = addVideo(home / "Videos/IMG_8.MOV", event, 0);
    rows.addTag("Phone", std::vector<std::int64_t>{still});
    // A FIFO in a movie's place beside a still is neither a Live Photo's movie nor read at all.
    testing::writePicture(home / "Videos/IMG_9.jpg", {.width = 400, .height = 300});
    ASSERT_EQ(::mkfifo((home / "Videos/IMG_9.MOV").c_str(), 0600), 0);
    rows.addPhoto(home / "Videos/IMG_9.jpg", 400, 300);
    const auto fifo = addVideo(home / "Videos/IMG_9.MOV", event, 0);
    const std::string stillBytes = testing::readFile(home / "Videos/IMG_7.jpg");
    const auto movieSize = static_cast<std::int64_t>(fs::file_size(home / "Videos/IMG_7.MOV"));

    ShotwellLibrary library(database, [](const std::string&) { return false; });
    CancellationFlag cancel;
    const auto listing = library.items(cancel);
    EXPECT_EQ(listing.videos, 5); // the Live Photo's movie is part of its photo
    const MediaScan found = LibraryMediaScanner::scan(library, false, cancel);
    for (const auto& video : found.videos) EXPECT_NE(video.path, "photos-library:" + videoID(movie));
    EXPECT_TRUE(std::any_of(found.videos.begin(), found.videos.end(),
                            [&](const VideoItem& v) { return v.path == "photos-library:" + videoID(plainMovie); }));
    const auto fifoVideo = std::find_if(found.videos.begin(), found.videos.end(),
                                        [&](const VideoItem& v) { return v.path == "photos-library:" + videoID(fifo); });
    ASSERT_NE(fifoVideo, found.videos.end());
    EXPECT_EQ(fifoVideo->leftAlone, "On a drive that is not connected");
    ASSERT_EQ(found.livePairs.size(), 1u);
    EXPECT_EQ(found.livePairs[0].still, "photos-library:" + ShotwellLibrary::photoID(still));
    EXPECT_EQ(found.livePairs[0].movieSize(), movieSize);
    // The movie counts in the item's hash, so a Live Photo is never a copy of its bare still.
    EXPECT_NE(library.hash(ShotwellLibrary::photoID(still), false, {}).bytes, static_cast<std::int64_t>(stillBytes.size()));

    const LibraryLivePlan plan{Uuid::random(), found.livePairs};
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    const auto report = LibraryMediaExecutor(home / "working").keepStills(plan.pairs, plan.id, {plan.id}, library, library);
    ::unsetenv("XDG_DATA_HOME");
    ASSERT_TRUE(report);
    ASSERT_EQ(report->items[0].outcome.kind, CompressionOutcome::Kind::compressed) << report->items[0].outcome.reason;
    EXPECT_EQ(report->items[0].saved(), movieSize);

    const auto row = testing::queryInteger(database, "SELECT MAX(id) FROM PhotoTable");
    EXPECT_EQ(library.tagged("Phone"), std::vector<std::string>{ShotwellLibrary::photoID(row)});
    EXPECT_EQ(testing::queryInteger(database, "SELECT COUNT(*) FROM VideoTable WHERE id = " + std::to_string(movie)), 0);
    EXPECT_EQ(testing::readFile(home / "Videos/IMG_7.jpg"), stillBytes); // the same still, under its own name
    EXPECT_FALSE(fs::exists(home / "Videos/IMG_7.MOV"));
    EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(home / ".local/share/Trash/files/IMG_7.MOV")), movieSize);
    EXPECT_FALSE(library.items(cancel).photos.back().isLivePhoto);
}

struct Run {
    int status = -1;
    std::string output;
};

// The program as a person runs it, with the scene's home as theirs; standard error is read too
// unless `errors` is false (a sanitizer build reports there as the process ends).
Run run(const testing::TempDir& home, const std::string& arguments, const std::string& input, bool errors = true) {
    const std::string command = "cd '" + home.path() + "' && printf '" + input + "' | HOME='" + home.path() +
                                "' XDG_CONFIG_HOME='" + home / ".config" + "' XDG_DATA_HOME='" + home / ".local/share" +
                                "' '" + VP_EXECUTABLE + "' " + arguments + (errors ? " 2>&1" : " 2>/dev/null");
    Run result;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) result.output.append(buffer, got);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST_F(ShotwellVideos, TheTerminalAsksCompressesAndRefusesWhileShotwellRuns) {
    const auto planned = run(home, "compress --library=.local/share/shotwell/data --videos --dry-run --json", "", false);
    ASSERT_EQ(planned.status, 0) << planned.output;
    const auto document = Json::parse(planned.output);
    EXPECT_EQ(document["plan"]["videos"].size(), 1U);
    EXPECT_EQ(document["library"], database);

    const auto declined = run(home, "compress --library shotwell", "n\\n");
    EXPECT_EQ(declined.status, 1);
    EXPECT_NE(declined.output.find("Compress 1 video? Shotwell then lists the smaller ones in their place"), std::string::npos)
        << declined.output;
    EXPECT_NE(declined.output.find("Nothing was changed."), std::string::npos);
    EXPECT_TRUE(fs::exists(home / "Videos/trip.mp4"));

    const auto compressed = run(home, "compress --library shotwell", "y\\n");
    EXPECT_EQ(compressed.status, 0) << compressed.output;
    EXPECT_NE(compressed.output.find("Compressed: trip.mp4 (photos-library:" + videoID(trip) + ")"), std::string::npos)
        << compressed.output;
    EXPECT_NE(compressed.output.find("Shotwell no longer lists them"), std::string::npos);
    EXPECT_TRUE(fs::exists(home / ".local/share/Trash/files/trip.mp4"));

    // Shotwell opens the library with the new row; while it runs, compress changes nothing.
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
    const auto refused = run(home, "compress --library shotwell --yes", "");
    EXPECT_EQ(refused.status, 3);
    EXPECT_EQ(refused.output, "Quit Shotwell first. Its library is only changed while Shotwell is closed.\n");
    std::this_thread::sleep_for(std::chrono::seconds(5));
    EXPECT_TRUE(shotwell->isRunning()) << shotwell->log();
    shotwell->stop();
    EXPECT_EQ(testing::queryInteger(database, "SELECT COUNT(*) FROM VideoTable"), 3);
}

} // namespace
} // namespace vp
