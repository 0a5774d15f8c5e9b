// The movie services on real clips: facts as shown (rotation applied), the HEVC copy and
// what it keeps, the size estimate, the full decode, and stopping an encode.
#include "platform/media/Movies.h"
#include "tests/support/Clips.h"
#include "tests/support/TempDir.h"

#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vp {
namespace {

using testing::ClipSpec;
using testing::makeClip;

std::int64_t sizeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_size : -1;
}

TEST(MovieFacts, ReadsTrackFactsWithRotationAndIdentifier) {
    const testing::TempDir folder;
    const auto plain = Movies::read(makeClip(folder / "plain.mp4", {.width = 320, .height = 240, .seconds = 1.5}));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->width, 320);
    EXPECT_EQ(plain->height, 240);
    EXPECT_EQ(plain->codec, "avc1");
    EXPECT_NEAR(plain->duration, 1.5, 0.1);
    EXPECT_NEAR(plain->frameRate, 25.0, 0.01);
    EXPECT_EQ(plain->audioTracks, 1);
    EXPECT_FALSE(plain->contentIdentifier);

    // A phone held upright stores a landscape picture and a quarter turn.
    const auto portrait = Movies::read(makeClip(folder / "portrait.mov", {.width = 320, .height = 180, .video = "hevc", .rotation = 90}));
    ASSERT_TRUE(portrait);
    EXPECT_EQ(portrait->width, 180);
    EXPECT_EQ(portrait->height, 320);
    EXPECT_EQ(portrait->codec, "hvc1");

    const auto live = Movies::read(makeClip(folder / "IMG_1.MOV", {.contentIdentifier = "6BA7B810-9DAD-11D1-80B4-00C04FD430C8"}));
    ASSERT_TRUE(live);
    EXPECT_EQ(live->contentIdentifier, "6BA7B810-9DAD-11D1-80B4-00C04FD430C8");

    const auto prores = Movies::read(makeClip(folder / "master.mov", {.video = "prores", .sound = false}));
    ASSERT_TRUE(prores);
    EXPECT_EQ(prores->codec, "apco");
    EXPECT_EQ(prores->audioTracks, 0);
}

TEST(MovieFacts, NoVideoTrackOrNoMovieGivesNothing) {
    const testing::TempDir folder;
    EXPECT_FALSE(Movies::read(makeClip(folder / "voice.mp4", {.video = "none"})));
    EXPECT_FALSE(Movies::read(folder.write("fake.mov", "not a movie at all")));
    EXPECT_FALSE(Movies::read(folder / "missing.mp4"));
}

// What stands at a movie's path may have been swapped since the scan: only a plain file, reached
// without links, is ever read, and a FIFO must not block the reader.
TEST(MovieFacts, OnlyPlainFilesReachedWithoutLinksAreRead) {
    const testing::TempDir folder;
    const std::string movie = makeClip(folder / "real.mp4", {.seconds = 1.0});
    ASSERT_EQ(::mkfifo((folder / "pipe.mp4").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(movie.c_str(), (folder / "link.mp4").c_str()), 0);
    ASSERT_EQ(::mkdir((folder / "inner").c_str(), 0700), 0);
    ASSERT_EQ(::rename(movie.c_str(), (folder / "inner/real.mp4").c_str()), 0);
    ASSERT_EQ(::symlink((folder / "inner").c_str(), (folder / "through").c_str()), 0);

    EXPECT_FALSE(Movies::read(folder / "pipe.mp4"));
    EXPECT_FALSE(Movies::read(folder / "link.mp4"));
    EXPECT_FALSE(Movies::read(folder / "through/real.mp4"));
    EXPECT_FALSE(Movies::decodeFully(folder / "pipe.mp4").decoded);
    EXPECT_TRUE(Movies::read(folder / "inner/real.mp4"));
    EXPECT_TRUE(Movies::decodeFully(folder / "inner/../inner/real.mp4").decoded);
}

TEST(MovieFacts, FourCCAndFittedSize) {
    EXPECT_EQ(Movies::fourCC(0x68766331), "hvc1");
    EXPECT_EQ(Movies::fitted({3840, 2160}), (Movies::Size{1920, 1080}));
    EXPECT_EQ(Movies::fitted({2160, 3840}), (Movies::Size{1080, 1920}));
    EXPECT_EQ(Movies::fitted({640, 480}), (Movies::Size{640, 480})); // never enlarged
    EXPECT_EQ(Movies::fitted({4096, 2160}), (Movies::Size{1920, 1012}));
    EXPECT_EQ(Movies::fitted({1440, 1440}), (Movies::Size{1080, 1080}));
    EXPECT_EQ(Movies::fitted({321, 241}), (Movies::Size{320, 240}));
    EXPECT_EQ(Movies::containerFor("/a/b.MOV"), Movies::Container::quickTime);
    EXPECT_EQ(Movies::containerFor("/a.mov/b.mp4"), Movies::Container::mpeg4);
}

TEST(HevcExport, CopyIsFittedHevcKeepingSoundMetadataAndRotation) {
    const testing::TempDir folder;
    const std::string source = makeClip(folder / "big.mov", {.width = 2560, .height = 1440, .seconds = 1.0, .frameRate = 24,
                                                              .rotation = 90, .contentIdentifier = "ABC-123",
                                                              .creationTime = "2021-05-01T10:00:00.000000Z",
                                                              .location = "+48.8584+002.2945/"});
    const std::string copy = folder / "copy.mov";
    std::vector<double> fractions;
    const auto sentence = Movies::exportHevc(source, copy, Movies::Container::quickTime, {},
                                             [&](double fraction) { fractions.push_back(fraction); });
    ASSERT_FALSE(sentence) << *sentence;
    const auto facts = Movies::read(copy);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->codec, "hvc1");
    EXPECT_EQ(facts->width, 1080); // still upright
    EXPECT_EQ(facts->height, 1920);
    EXPECT_NEAR(facts->frameRate, 24.0, 0.01);
    EXPECT_EQ(facts->audioTracks, 1);
    EXPECT_EQ(facts->contentIdentifier, "ABC-123");
    ASSERT_FALSE(fractions.empty());
    EXPECT_DOUBLE_EQ(fractions.back(), 1.0);

    const auto playback = Movies::decodeFully(copy);
    EXPECT_TRUE(playback.decoded);
    EXPECT_NEAR(playback.duration, 1.0, 0.1);
    EXPECT_EQ(playback.videoFrames, 24);
}

TEST(HevcExport, StoppingEndsPromptly) {
    const testing::TempDir folder;
    const std::string source = makeClip(folder / "a.mp4", {.width = 640, .height = 360, .seconds = 3.0});
    std::atomic<int> asked = 0;
    const auto sentence = Movies::exportHevc(source, folder / "copy.mp4", Movies::Container::mpeg4,
                                             [&] { return ++asked > 5; });
    ASSERT_TRUE(sentence);
    EXPECT_EQ(*sentence, "Stopped.");
}

TEST(HevcEstimate, CloseToTheRealCopy) {
    const testing::TempDir folder;
    for (const double seconds : {2.0, 10.0}) {
        const std::string source = makeClip(folder / ("clip" + std::to_string(int(seconds)) + ".mp4"),
                                            {.width = 480, .height = 270, .seconds = seconds, .frameRate = 15});
        const auto estimate = Movies::estimateHevcSize(source, Movies::Container::mpeg4);
        ASSERT_TRUE(estimate);
        const std::string copy = source + ".hevc.mp4";
        ASSERT_FALSE(Movies::exportHevc(source, copy, Movies::Container::mpeg4));
        const double error = std::abs(static_cast<double>(*estimate - sizeOf(copy))) / static_cast<double>(sizeOf(copy));
        EXPECT_LT(error, 0.25) << seconds << " s: estimate " << *estimate << ", copy " << sizeOf(copy);
    }
}

TEST(Playback, CutOffMovieDoesNotDecode) {
    const testing::TempDir folder;
    const std::string source = makeClip(folder / "whole.mp4", {.seconds = 1.0});
    const std::int64_t size = sizeOf(source);
    ASSERT_EQ(::truncate(source.c_str(), size / 2), 0);
    EXPECT_FALSE(Movies::decodeFully(source).decoded);
}

} // namespace
} // namespace vp
