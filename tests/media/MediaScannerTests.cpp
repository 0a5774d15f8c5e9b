// The media scan on a real folder of clips: Live Photo pairs and their near misses, HEVC that
// is small already, a file with no picture, and the quick listing without estimates.
#include "engine/media/MediaScanner.h"
#include "tests/support/Clips.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace vp {
namespace {

using testing::makeClip;

const VideoItem* videoNamed(const MediaScan& scan, const std::string& name) {
    const auto found = std::find_if(scan.videos.begin(), scan.videos.end(), [&](const VideoItem& v) { return v.name() == name; });
    return found == scan.videos.end() ? nullptr : &*found;
}

class MediaScannerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new testing::TempDir;
        const auto& f = *folder;
        const std::string id = "1F2E3D4C-0000-4000-8000-00000000000A";
        f.write("live/IMG_0001.HEIC", "still");
        makeClip(f / "live/IMG_0001.MOV", {.width = 160, .height = 120, .seconds = 2.5, .contentIdentifier = id});
        f.write("live/IMG_0002.heic", "still");
        makeClip(f / "live/IMG_0002.mov", {.width = 160, .height = 120, .seconds = 8.0, .frameRate = 10, .contentIdentifier = id});
        f.write("live/IMG_0003.jpg", "still");
        makeClip(f / "live/img_0003.MOV", {.width = 160, .height = 120, .seconds = 2.0});
        makeClip(f / "small-hevc.mp4", {.width = 320, .height = 240, .seconds = 1.0, .video = "hevc"});
        makeClip(f / "portrait-hevc.mov", {.width = 1920, .height = 1080, .seconds = 0.4, .frameRate = 5, .video = "hevc",
                                           .sound = false, .rotation = 90});
        makeClip(f / "big.mp4", {.width = 640, .height = 360, .seconds = 2.0, .quality = 4});
        makeClip(f / "voice-memo.m4v", {.video = "none"});
        f.write(".hidden/skip.mp4", "never looked at");
    }
    static void TearDownTestSuite() { delete folder; }
    static testing::TempDir* folder;
};
testing::TempDir* MediaScannerTest::folder = nullptr;

TEST_F(MediaScannerTest, SortsPairsNearMissesAndCandidates) {
    CancellationFlag cancel;
    std::int64_t lastDone = 0, lastTotal = 0;
    const MediaScan scan = MediaScanner::scan({folder->path()}, true, cancel, [&](std::int64_t done, std::int64_t total) {
        lastDone = std::max(lastDone, done);
        lastTotal = total;
    });
    EXPECT_EQ(lastDone, 7);
    EXPECT_EQ(lastTotal, 7);

    // Names differing only in case still pair; the movie becomes no video record.
    ASSERT_EQ(scan.livePairs.size(), 1u);
    EXPECT_EQ(scan.livePairs[0].still, *folder / "live/IMG_0001.HEIC");
    EXPECT_EQ(scan.livePairs[0].movie, *folder / "live/IMG_0001.MOV");
    EXPECT_FALSE(videoNamed(scan, "IMG_0001.MOV"));

    // Too long for a Live Photo, and no identifier: both keep their photo's company.
    for (const char* name : {"IMG_0002.mov", "img_0003.MOV"}) {
        const VideoItem* video = videoNamed(scan, name);
        ASSERT_TRUE(video) << name;
        EXPECT_EQ(video->leftAlone, std::string(MediaScanner::sharesName)) << name;
        EXPECT_FALSE(video->estimatedSize);
    }
    const VideoItem* small = videoNamed(scan, "small-hevc.mp4");
    ASSERT_TRUE(small);
    EXPECT_EQ(small->leftAlone, std::string(MediaScanner::alreadySmall));
    EXPECT_EQ(small->codecName(), "HEVC");

    const VideoItem* portrait = videoNamed(scan, "portrait-hevc.mov");
    ASSERT_TRUE(portrait);
    EXPECT_EQ(portrait->width, 1080);
    EXPECT_EQ(portrait->height, 1920);
    EXPECT_EQ(portrait->leftAlone, std::string(MediaScanner::alreadySmall));

    const VideoItem* big = videoNamed(scan, "big.mp4");
    ASSERT_TRUE(big);
    EXPECT_TRUE(big->isCandidate()) << big->leftAlone.value_or("");
    EXPECT_GT(big->estimatedSavings(), 0);
    EXPECT_EQ(big->codecName(), "H.264");
    EXPECT_EQ(scan.videos.front().path, big->path); // the largest saving first
    ASSERT_EQ(scan.candidates().size(), 1u);

    ASSERT_EQ(scan.skipped.size(), 1u);
    EXPECT_EQ(scan.skipped[0].path, *folder / "voice-memo.m4v");
    EXPECT_EQ(scan.skipped[0].reason, SkipReason::corrupt);
    EXPECT_EQ(scan.skipped[0].detail, std::string(MediaScanner::notReadable));
    EXPECT_FALSE(scan.cancelled);
}

TEST_F(MediaScannerTest, QuickListingOffersNothingAndCancelledScanSaysSo) {
    CancellationFlag cancel;
    const MediaScan quick = MediaScanner::scan({folder->path()}, false, cancel);
    EXPECT_TRUE(quick.candidates().empty());
    const VideoItem* big = videoNamed(quick, "big.mp4");
    ASSERT_TRUE(big);
    EXPECT_FALSE(big->leftAlone);
    EXPECT_FALSE(big->estimatedSize);

    cancel.cancel();
    EXPECT_TRUE(MediaScanner::scan({folder->path()}, true, cancel).cancelled);
}

TEST(MediaScanner, EstimateAtExactly85PercentIsACandidate) {
    EXPECT_FALSE(MediaScanner::leftAloneForEstimate(1000, 850));
    EXPECT_EQ(MediaScanner::leftAloneForEstimate(1000, 851), std::string(MediaScanner::tooLittle));
    EXPECT_FALSE(MediaScanner::leftAloneForEstimate(20, 17));
    EXPECT_EQ(MediaScanner::leftAloneForEstimate(20, 18), std::string(MediaScanner::tooLittle));
    EXPECT_TRUE(MediaScanner::isSmallHevc("hev1", 1080, 1920));
    EXPECT_FALSE(MediaScanner::isSmallHevc("hvc1", 3840, 2160));
    EXPECT_FALSE(MediaScanner::isSmallHevc("avc1", 640, 480));
}

TEST(MediaScanner, RefusedRootIsExcluded) {
    CancellationFlag cancel;
    const MediaScan scan = MediaScanner::scan({"/no/such/folder"}, true, cancel);
    EXPECT_TRUE(scan.videos.empty());
    EXPECT_FALSE(scan.excluded.empty());
}

} // namespace
} // namespace vp
