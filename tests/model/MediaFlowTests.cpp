// The model's media flows on real clips: scan, tick, review, compress with progress, stop an
// encode, keep Live Photo stills and put an original back, all through the main queue.
#include "engine/common/PathRules.h"
#include "engine/library/MemoryLibrary.h"
#include "model/PhotoCleanupModel.h"
#include "tests/support/Clips.h"
#include "tests/support/MainQueueDriver.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

class MediaFlow : public ::testing::Test {
protected:
    testing::TempDir home;
    std::string base = *PathRules::real(home.path());
    AppFolders folders{base + "/config", base + "/data", base + "/Downloads"};
    MainQueue queue;
    std::string videos = base + "/Videos";

    void SetUp() override {
        ::setenv("XDG_DATA_HOME", (base + "/share").c_str(), 1);
        home.folder("Videos");
        testing::makeClip(videos + "/trip.mp4", {.width = 480, .height = 270, .seconds = 2.0, .frameRate = 15, .quality = 4});
        home.write("Videos/IMG_7.HEIC", "still");
        testing::makeClip(videos + "/IMG_7.MOV", {.width = 64, .height = 48, .seconds = 1.0, .contentIdentifier = "ID-7"});
    }
    void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

    std::unique_ptr<PhotoCleanupModel> scannedModel() {
        PhotoCleanupHost host;
        host.homeFolder = base;
        auto model = std::make_unique<PhotoCleanupModel>(host, folders, queue);
        model->setTransient(true);
        model->add({videos});
        testing::drainUntil(queue, [&] { return model->phase() != Phase::scanning; });
        EXPECT_TRUE(model->canScanMedia());
        model->scanMedia();
        testing::drainUntil(queue, [&] { return !model->mediaScanning(); });
        return model;
    }
};

TEST_F(MediaFlow, CompressLiveStillsAndUseTheOriginal) {
    auto model = scannedModel();
    ASSERT_TRUE(model->media());
    ASSERT_EQ(model->media()->candidates().size(), 1u);
    ASSERT_EQ(model->media()->livePairs.size(), 1u);
    EXPECT_EQ(model->mediaProgress(), (std::pair<std::int64_t, std::int64_t>{2, 2}));

    model->setVideoSelected(videos + "/trip.mp4", false);
    model->reviewCompression();
    EXPECT_EQ(model->notice(), "Tick the videos to compress first.");
    model->setVideoSelected(videos + "/trip.mp4", true);
    model->reviewCompression();
    ASSERT_TRUE(model->pendingCompression());

    std::vector<CompressionProgress> seen;
    const auto token = model->observe([&] {
        if (model->compressing()) seen.push_back(*model->compressing());
    });
    model->confirmCompression(*model->pendingCompression());
    testing::drainUntil(queue, [&] { return model->compressionReport() && !model->mediaScanning(); });
    model->unobserve(token);
    const CompressionReport report = *model->compressionReport();
    ASSERT_EQ(report.items.size(), 1u);
    ASSERT_EQ(report.items[0].outcome.kind, CompressionOutcome::Kind::compressed) << report.items[0].outcome.reason;
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const CompressionProgress& p) { return p.current > 0 && p.current < 1; }));
    EXPECT_EQ(model->compressionHistory().size(), 1u);
    EXPECT_TRUE(model->media()->candidates().empty()); // scanned again: the copy is HEVC now

    model->reviewLiveStills();
    ASSERT_TRUE(model->pendingLive());
    model->confirmLiveStills(*model->pendingLive());
    testing::drainUntil(queue, [&] { return model->liveReport() && !model->mediaScanning(); });
    EXPECT_EQ(model->liveReport()->moved(), 1);
    EXPECT_FALSE(FileSnapshot::read(videos + "/IMG_7.MOV"));

    // A scan already running may have listed the folder before the original came back: the
    // put-back's own scan replaces it, so the list ends with the original in it.
    model->scanMedia();
    ASSERT_TRUE(model->mediaScanning());
    EXPECT_FALSE(model->useOriginal(report.items[0].path, report.items[0], report));
    testing::drainUntil(queue, [&] { return !model->mediaScanning(); });
    EXPECT_EQ(model->compressionHistory().front().items[0].outcome.word(), "Original back");
    EXPECT_EQ(model->media()->candidates().size(), 1u);
}

TEST_F(MediaFlow, StoppingEndsTheRunningEncodePromptly) {
    testing::makeClip(videos + "/long.mp4", {.width = 640, .height = 360, .seconds = 12.0, .frameRate = 15, .quality = 4});
    auto model = scannedModel();
    model->reviewCompression();
    ASSERT_TRUE(model->pendingCompression());
    std::optional<std::chrono::steady_clock::time_point> stoppedAt;
    const auto token = model->observe([&] {
        if (!stoppedAt && model->compressing() && model->compressing()->current > 0) {
            stoppedAt = std::chrono::steady_clock::now();
            model->stopCompression();
        }
    });
    model->confirmCompression(*model->pendingCompression());
    testing::drainUntil(queue, [&] { return model->compressionReport().has_value(); });
    model->unobserve(token);
    ASSERT_TRUE(stoppedAt);
    EXPECT_LT(std::chrono::steady_clock::now() - *stoppedAt, std::chrono::seconds(3));
    for (const auto& item : model->compressionReport()->items)
        EXPECT_EQ(item.outcome.kind, CompressionOutcome::Kind::skipped) << item.path;
}

// In the photo library's scope the same screens work through the library: its big video is
// replaced by a smaller one, and its Live Photo by its still, each in one library change.
TEST_F(MediaFlow, LibraryVideosAndLivePhotosAreReplacedThroughTheLibrary) {
    auto library = std::make_shared<MemoryLibrary>();
    MemoryItem video;
    video.id = "V";
    video.kind = MemoryItem::Kind::video;
    video.resources = {{ResourceType::video, "trip.mp4", "movie", std::nullopt, true}};
    video.created = video.modified = std::chrono::sys_days{std::chrono::year{2024} / 5 / 1};
    video.moviePath = videos + "/trip.mp4";
    library->add(video);
    MemoryItem live = video;
    live.id = "L";
    live.kind = MemoryItem::Kind::photo;
    live.isLivePhoto = true;
    live.moviePath.reset();
    live.resources = {{ResourceType::photo, "IMG_7.HEIC", "still", "public.heic", true},
                      {ResourceType::pairedVideo, "IMG_7.MOV", "movie of the still", std::nullopt, true}};
    library->add(live);

    PhotoCleanupHost host;
    host.homeFolder = base;
    PhotoCleanupModel model(host, folders, queue);
    model.setTransient(true);
    model.usePhotoLibrary(library, library, [] { return Access::granted; }, base);
    model.setScope(Scope::photosLibrary);
    testing::drainUntil(queue, [&] { return model.phase() != Phase::scanning; });
    ASSERT_TRUE(model.canScanMedia());
    model.scanMedia();
    testing::drainUntil(queue, [&] { return !model.mediaScanning(); });
    ASSERT_TRUE(model.media());
    ASSERT_EQ(model.media()->candidates().size(), 1u);
    EXPECT_EQ(model.media()->candidates().front().path, "photos-library:V");
    ASSERT_EQ(model.media()->livePairs.size(), 1u);

    model.reviewCompression();
    ASSERT_TRUE(model.pendingCompression());
    model.confirmCompression(*model.pendingCompression());
    testing::drainUntil(queue, [&] { return model.compressionReport() && !model.mediaScanning(); });
    ASSERT_EQ(model.compressionReport()->items.front().outcome.kind, CompressionOutcome::Kind::compressed)
        << model.compressionReport()->items.front().outcome.reason;
    EXPECT_FALSE(library->currentModified("V"));
    EXPECT_TRUE(model.media()->candidates().empty()); // scanned again: the library's copy is HEVC now
    EXPECT_TRUE(model.compressionHistory().empty());  // the library keeps the original, not a journal

    model.reviewLiveStills();
    EXPECT_FALSE(model.pendingLive());
    ASSERT_TRUE(model.pendingLibraryLive());
    model.confirmLibraryStills(*model.pendingLibraryLive());
    testing::drainUntil(queue, [&] { return model.libraryLiveReport() && !model.mediaScanning(); });
    EXPECT_EQ(model.libraryLiveReport()->saved(), 18); // the movie's bytes
    EXPECT_TRUE(model.media()->livePairs.empty());
    EXPECT_EQ(library->stillData("L-replacement")->data, "still");
    model.reviewLiveStills();
    EXPECT_EQ(model.notice(), "Tick the Live Photos first.");
}

} // namespace
} // namespace vp
