// Videos and Live Photos inside a library held in memory, over real clips: what the scan offers
// and keeps, and how one library change replaces them, or changes nothing when it is refused.
#include "engine/library/LibrarySource.h"
#include "engine/library/MemoryLibrary.h"
#include "engine/library/ReviewAlbum.h"
#include "engine/media/LibraryMediaExecutor.h"
#include "engine/media/LibraryMediaScanner.h"
#include "platform/media/Movies.h"
#include "tests/library/LibraryScene.h"
#include "tests/media/MediaFixtures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

using testing::day;

MemoryItem video(const std::string& id, const std::string& movie, int createdDay) {
    MemoryItem item;
    item.id = id;
    item.kind = MemoryItem::Kind::video;
    item.resources = {{ResourceType::video, id + ".mp4", "movie bytes", std::nullopt, true}};
    item.created = day(createdDay);
    item.modified = day(createdDay, 30);
    item.moviePath = movie;
    return item;
}

MemoryItem livePhoto(const std::string& id, int createdDay, std::int64_t movieBytes = 3000) {
    MemoryItem item = testing::photo(id, "still of " + id, createdDay);
    item.isLivePhoto = true;
    item.resources.push_back({ResourceType::pairedVideo, id + ".mov", std::string(static_cast<std::size_t>(movieBytes), 'm'),
                              std::nullopt, true});
    return item;
}

const VideoItem* videoNamed(const MediaScan& scan, const std::string& id) {
    for (const auto& video : scan.videos)
        if (video.path == LibrarySource::path(id)) return &video;
    return nullptr;
}

class LibraryMedia : public ::testing::Test {
protected:
    testing::TempDir home;
    std::string clips = home.folder("clips");
    std::string working = home / "working";
    CancellationFlag cancel;

    std::string clip(const std::string& name) { return testing::detailedClip(clips + "/" + name, 2.0); }
    MediaScan scan(const MemoryLibrary& library) { return LibraryMediaScanner::scan(library, true, cancel); }
};

TEST_F(LibraryMedia, TheScanOffersOnlyWhatCanShrinkAndSaysWhyTheRestIsKept) {
    MemoryLibrary library;
    library.add(video("big", clip("big.mp4"), 1));
    MemoryItem favourite = video("favourite", clip("favourite.mp4"), 2);
    favourite.isFavorite = true;
    library.add(favourite);
    MemoryItem away = video("away", clip("away.mp4"), 3);
    away.resources.front().isLocal = false;
    library.add(away);
    MemoryItem hidden = video("hidden", clip("hidden.mp4"), 4);
    hidden.isHidden = true;
    library.add(hidden);
    library.add(video("small", testing::makeClip(clips + "/small.mp4", {.width = 320, .height = 240, .seconds = 2.0, .video = "hevc"}), 5));
    testing::writeFile(clips + "/text.mp4", "not a movie");
    library.add(video("text", clips + "/text.mp4", 6));

    library.add(livePhoto("live", 7));
    MemoryItem edited = livePhoto("edited", 8);
    edited.resources.push_back({ResourceType::adjustmentData, "edit.plist", "recipe", std::nullopt, true});
    library.add(edited);
    MemoryItem raw = livePhoto("raw", 9);
    raw.resources.push_back({ResourceType::alternatePhoto, "raw.dng", "raw", std::nullopt, true});
    library.add(raw);
    MemoryItem favouriteLive = livePhoto("favouriteLive", 10);
    favouriteLive.isFavorite = true;
    library.add(favouriteLive);
    MemoryItem liveAway = livePhoto("liveAway", 11);
    liveAway.resources.back().isLocal = false;
    library.add(liveAway);
    library.add(testing::photo("plain", "plain", 12));

    const MediaScan found = scan(library);
    ASSERT_EQ(found.videos.size(), 5u); // the hidden one is never listed
    EXPECT_EQ(videoNamed(found, "hidden"), nullptr);
    EXPECT_EQ(found.candidates().size(), 1u);
    const VideoItem* big = videoNamed(found, "big");
    ASSERT_NE(big, nullptr);
    EXPECT_TRUE(big->isCandidate()) << big->leftAlone.value_or("");
    EXPECT_EQ(big->root, "Photos Library");
    EXPECT_EQ(big->name(), "big.mp4");
    EXPECT_EQ(big->snapshot.size, FileSnapshot::read(clips + "/big.mp4")->size);
    EXPECT_EQ(big->codec, "avc1");
    // A favourite is examined but never offered, whatever it would save.
    EXPECT_EQ(videoNamed(found, "favourite")->leftAlone, "A favourite, so it is kept as it is");
    EXPECT_EQ(videoNamed(found, "favourite")->estimatedSize, std::nullopt);
    EXPECT_EQ(videoNamed(found, "away")->leftAlone, "In the cloud, not on this computer");
    EXPECT_EQ(videoNamed(found, "small")->leftAlone, "Already HEVC at 1080p or smaller");
    EXPECT_EQ(videoNamed(found, "text")->leftAlone, "Not a video this computer can read");

    ASSERT_EQ(found.livePairs.size(), 1u);
    const LivePhotoPair& pair = found.livePairs.front();
    EXPECT_EQ(pair.still, "photos-library:live");
    EXPECT_EQ(pair.movieSize(), 3000);
    EXPECT_EQ(pair.name(), "live.jpg");
    std::vector<std::string> kept;
    for (const auto& skipped : found.skipped) kept.push_back(*skipped.detail);
    EXPECT_EQ(kept, (std::vector<std::string>{"edited.jpg: edited in Photos, kept so the edit is not lost",
                                              "raw.jpg: RAW and JPEG, kept as it is",
                                              "favouriteLive.jpg: a favourite, kept as it is",
                                              "liveAway.jpg: in the cloud, not on this computer"}));

    // Without estimates nothing is offered: a quick listing.
    EXPECT_TRUE(LibraryMediaScanner::scan(library, false, cancel).candidates().empty());
}

class LibraryCompression : public LibraryMedia {
protected:
    void SetUp() override {
        for (const std::string id : {"one", "two", "three"}) library.add(video(id, clip(id + ".mp4"), 1));
        library.addAlbum("Holidays", {"one", "two"});
        found = scan(library);
        ASSERT_EQ(found.candidates().size(), 3u);
        plan = CompressionPlan(found.videos, found.roots, day(20));
    }

    Result<CompressionReport, CompressionRefusal> compress() {
        return LibraryMediaExecutor(working).compress(plan, {plan.id}, library, library, cancel);
    }

    MemoryLibrary library;
    MediaScan found;
    CompressionPlan plan;
};

TEST_F(LibraryCompression, AVideoRemovedSinceTheScanIsSkippedWhileTheOthersAreReplaced) {
    library.remove("two");
    library.setModified("three", day(2)); // changed in the library since the scan
    library.add(video("four", clip("four.mp4"), 1));
    const VideoItem four = *videoNamed(scan(library), "four");
    plan.videos.push_back(four);

    const auto report = compress();
    ASSERT_TRUE(report);
    ASSERT_EQ(report->items.size(), 4u);
    std::map<std::string, CompressionOutcome> outcomes;
    for (const auto& item : report->items) outcomes[item.path] = item.outcome;
    EXPECT_EQ(outcomes["photos-library:two"], CompressionOutcome::skipped("Changed or removed in Photos since the scan."));
    EXPECT_EQ(outcomes["photos-library:three"], CompressionOutcome::skipped("Changed or removed in Photos since the scan."));
    for (const std::string id : {"one", "four"}) {
        const auto& outcome = outcomes["photos-library:" + id];
        ASSERT_EQ(outcome.kind, CompressionOutcome::Kind::compressed) << id << ": " << outcome.reason;
        // The replacement plays to its end as long as its original, and is smaller.
        const auto copy = library.localVideoURL(id + "-replacement");
        ASSERT_TRUE(copy);
        const Movies::Playback playback = Movies::decodeFully(*copy);
        EXPECT_TRUE(playback.decoded);
        EXPECT_NEAR(playback.duration, 2.0, 0.1);
        EXPECT_EQ(playback.audioTracks, 1);
        EXPECT_EQ(outcome.newSize, FileSnapshot::read(*copy)->size);
        EXPECT_LT(outcome.newSize, FileSnapshot::read(clips + "/" + id + ".mp4")->size);
        EXPECT_FALSE(library.currentModified(id));
    }
    EXPECT_GT(report->saved(), 0);
    EXPECT_TRUE(library.currentModified("three")); // left as it was
    const auto album = library.albums().front().ids; // the replacement takes its original's albums
    EXPECT_NE(std::find(album.begin(), album.end(), "one-replacement"), album.end());
    EXPECT_EQ(std::find(album.begin(), album.end(), "one"), album.end());
    EXPECT_EQ(library.changes(), 1); // one change for all of them
}

TEST_F(LibraryCompression, DecliningTheChangeLeavesEveryOriginalAndNoCopyBehind) {
    library.declineNextChange();
    const auto report = compress();
    ASSERT_TRUE(report);
    for (const auto& item : report->items)
        EXPECT_EQ(item.outcome, CompressionOutcome::failed("You did not allow the deletion, so nothing changed."));
    for (const std::string id : {"one", "two", "three"}) EXPECT_TRUE(library.currentModified(id));
    EXPECT_EQ(library.changes(), 0);
    EXPECT_TRUE(testing::namesIn(working).empty());

    library.failNextWrite("The disk is full.");
    const CompressionPlan again(found.videos, found.roots, day(21));
    const auto failed = LibraryMediaExecutor(working).compress(again, {again.id}, library, library, cancel);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->items.front().outcome, CompressionOutcome::failed("Photos did not make the change: The disk is full."));
    EXPECT_EQ(library.changes(), 0);
}

TEST_F(LibraryCompression, AStopAndAMismatchedApprovalChangeNothing) {
    const auto mismatched = LibraryMediaExecutor(working).compress(plan, {Uuid::random()}, library, library, cancel);
    ASSERT_FALSE(mismatched);
    EXPECT_EQ(mismatched.error().description(), "This approval is for different videos. Review them again.");

    // Stopped during the first encode: it and the rest are skipped, the library untouched.
    CancellationFlag stop;
    const auto report = LibraryMediaExecutor(working).compress(plan, {plan.id}, library, library, stop,
                                                               [&](const CompressionProgress& progress) {
                                                                   if (progress.current > 0) stop.cancel();
                                                               });
    ASSERT_TRUE(report);
    EXPECT_EQ(report->items[0].outcome, CompressionOutcome::skipped("Stopped while it was being compressed."));
    EXPECT_EQ(report->items[2].outcome, CompressionOutcome::skipped("Stopped before this video was reached."));
    EXPECT_EQ(library.changes(), 0);
    EXPECT_TRUE(testing::namesIn(working).empty());
}

TEST_F(LibraryMedia, KeepingStillsReplacesEachLivePhotoByItsStillAlone) {
    MemoryLibrary library;
    library.add(livePhoto("kept", 1, 5000));
    library.add(livePhoto("gone", 2));
    library.addAlbum("Trip", {"kept"});
    const MediaScan found = scan(library);
    ASSERT_EQ(found.livePairs.size(), 2u);
    library.remove("gone");
    const LibraryLivePlan plan{Uuid::random(), found.livePairs};

    const auto report = LibraryMediaExecutor(working).keepStills(plan.pairs, plan.id, {plan.id}, library, library);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->items[0].outcome.kind, CompressionOutcome::Kind::compressed);
    EXPECT_EQ(report->items[0].saved(), 5000); // the movie
    EXPECT_EQ(report->items[1].outcome, CompressionOutcome::skipped("Changed or removed in Photos since the scan."));
    const auto listed = library.items(cancel).photos;
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].id, "kept-replacement");
    EXPECT_FALSE(listed[0].isLivePhoto);
    EXPECT_EQ(listed[0].filename, "kept.jpg");
    EXPECT_EQ(library.stillData("kept-replacement")->data, "still of kept");
    EXPECT_EQ(library.albums().front().ids, (std::vector<std::string>{"kept-replacement"}));

    const auto mismatched = LibraryMediaExecutor(working).keepStills(plan.pairs, plan.id, {Uuid::random()}, library, library);
    EXPECT_FALSE(mismatched);
}

} // namespace
} // namespace vp
