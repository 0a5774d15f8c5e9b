// The model's photo flows on real pictures: scan, tick, review, convert to HEIC with progress,
// put an original back, and a cancelled scan that shows nothing partial.
#include "engine/common/PathRules.h"
#include "model/PhotoCleanupModel.h"
#include "platform/image/Images.h"
#include "tests/support/MainQueueDriver.h"
#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace vp {
namespace {

class ImageFlow : public ::testing::Test {
protected:
    testing::TempDir home;
    std::string base = *PathRules::real(home.path());
    AppFolders folders{base + "/config", base + "/data", base + "/Downloads"};
    MainQueue queue;
    std::string photos = base + "/Photos";

    void SetUp() override {
        ::setenv("XDG_DATA_HOME", (base + "/share").c_str(), 1);
        home.folder("Photos");
        // Fine detail saved at a high quality: what a camera writes, and what HEIC shrinks.
        testing::writePicture(photos + "/IMG_1.jpg", {.width = 900, .height = 600, .orientation = 6,
                                                      .dateTimeOriginal = "2021:06:12 09:14:03", .detailed = true}, "Q=98");
        testing::writePicture(photos + "/scan.tif", {.width = 700, .height = 500, .detailed = true});
        testing::writePicture(photos + "/small.jpg", {.width = 64, .height = 48, .detailed = true}, "Q=90");
        testing::writePicture(photos + "/screen.png", {.width = 600, .height = 400, .detailed = true});
    }
    void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

    std::unique_ptr<PhotoCleanupModel> scannedModel() {
        PhotoCleanupHost host;
        host.homeFolder = base;
        auto model = std::make_unique<PhotoCleanupModel>(host, folders, queue);
        model->setTransient(true);
        model->add({photos});
        testing::drainUntil(queue, [&] { return model->phase() != Phase::scanning; });
        EXPECT_TRUE(model->canScanImages());
        model->scanImages();
        testing::drainUntil(queue, [&] { return !model->imageScanning(); });
        return model;
    }

    const ImageItem* item(const PhotoCleanupModel& model, const std::string& name) {
        for (const auto& image : model.images()->images)
            if (image.name() == name) return &image;
        return nullptr;
    }
};

TEST_F(ImageFlow, ConvertTickedPhotosAndUseTheOriginal) {
    auto model = scannedModel();
    ASSERT_TRUE(model->images());
    ASSERT_EQ(model->images()->images.size(), 4u);
    EXPECT_EQ(item(*model, "small.jpg")->leftAlone, std::string(ImageScanner::smallReason));
    EXPECT_EQ(item(*model, "screen.png")->leftAlone, std::string(ImageScanner::pngReason));
    ASSERT_TRUE(item(*model, "IMG_1.jpg")->isCandidate()) << item(*model, "IMG_1.jpg")->leftAlone.value_or("");
    ASSERT_TRUE(item(*model, "scan.tif")->isCandidate()) << item(*model, "scan.tif")->leftAlone.value_or("");
    EXPECT_EQ(model->selectedImages(), (std::set<std::string>{photos + "/IMG_1.jpg", photos + "/scan.tif"}));
    EXPECT_EQ(model->imageProgress(), (PhotoCleanupModel::ImageScanProgress{true, 4, 2, 2}));

    model->setImageSelected(photos + "/IMG_1.jpg", false);
    model->setImageSelected(photos + "/scan.tif", false);
    model->reviewImageCompression();
    EXPECT_EQ(model->notice(), "Tick the photos to compress first.");
    EXPECT_FALSE(model->pendingImageCompression());
    model->setImageSelected(photos + "/IMG_1.jpg", true);
    model->setImageSelected(photos + "/scan.tif", true);
    model->setImageSelected(photos + "/small.jpg", true); // not a candidate: ticking it plans nothing more
    model->reviewImageCompression();
    ASSERT_TRUE(model->pendingImageCompression());
    EXPECT_EQ(model->pendingImageCompression()->images.size(), 2u);
    EXPECT_FALSE(model->notice());

    std::vector<CompressionProgress> seen;
    const auto token = model->observe([&] {
        if (model->compressing()) seen.push_back(*model->compressing());
    });
    model->confirmImageCompression(*model->pendingImageCompression());
    EXPECT_FALSE(model->pendingImageCompression());
    EXPECT_FALSE(model->canScanImages()); // not while converting
    testing::drainUntil(queue, [&] { return model->imageCompressionReport() && !model->imageScanning(); });
    model->unobserve(token);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().total, 2);

    const CompressionReport report = *model->imageCompressionReport();
    ASSERT_EQ(report.items.size(), 2u);
    for (const auto& converted : report.items) {
        ASSERT_EQ(converted.outcome.kind, CompressionOutcome::Kind::compressed) << converted.path << ": " << converted.outcome.reason;
        ASSERT_TRUE(converted.replacedBy);
        EXPECT_FALSE(FileSnapshot::read(converted.path)) << converted.path;
        EXPECT_TRUE(Images::decodesFully(*converted.replacedBy)) << *converted.replacedBy;
        EXPECT_TRUE(FileSnapshot::read(converted.outcome.originalInTrash)) << "the original is in the Trash";
    }
    const auto upright = Images::properties(photos + "/IMG_1.heic");
    ASSERT_TRUE(upright);
    EXPECT_EQ(upright->typeIdentifier, "public.heic");
    EXPECT_EQ(upright->pixelWidth, 600);
    EXPECT_EQ(upright->pixelHeight, 900);
    EXPECT_EQ(upright->dateTimeOriginal, "2021:06:12 09:14:03");
    EXPECT_EQ(model->compressionHistory().size(), 1u);
    // Scanned again: the HEIC copies are not offered, what was left alone still is listed.
    EXPECT_TRUE(model->images()->candidates().empty());
    EXPECT_EQ(model->images()->images.size(), 2u);

    EXPECT_FALSE(model->useOriginal(report.items[0].path, report.items[0], report));
    EXPECT_TRUE(Images::decodesFully(photos + "/IMG_1.jpg"));
    EXPECT_FALSE(FileSnapshot::read(photos + "/IMG_1.heic"));
    EXPECT_EQ(model->compressionHistory().front().items[0].outcome.word(), "Original back");
    // Twice is refused with its reason, and nothing moves.
    EXPECT_EQ(model->useOriginal(report.items[0].path, report.items[0], report), "The original is no longer in the Trash.");
    EXPECT_EQ(model->notice(), "The original is no longer in the Trash.");
    EXPECT_TRUE(FileSnapshot::read(photos + "/IMG_1.jpg"));

    // A scan started while one runs replaces it: the photo that came back is offered again.
    model->scanImages();
    model->scanImages();
    testing::drainUntil(queue, [&] { return !model->imageScanning(); });
    ASSERT_EQ(model->images()->candidates().size(), 1u);
    EXPECT_EQ(model->images()->candidates()[0].path, photos + "/IMG_1.jpg");
    EXPECT_EQ(model->selectedImages(), std::set<std::string>{photos + "/IMG_1.jpg"});
}

TEST_F(ImageFlow, APhotoChangedAfterTheScanIsLeftAsItIs) {
    auto model = scannedModel();
    model->reviewImageCompression();
    ASSERT_TRUE(model->pendingImageCompression());
    testing::writePicture(photos + "/scan.tif", {.width = 700, .height = 501, .detailed = true}); // edited meanwhile
    model->confirmImageCompression(*model->pendingImageCompression());
    testing::drainUntil(queue, [&] { return model->imageCompressionReport() && !model->imageScanning(); });
    const auto& items = model->imageCompressionReport()->items;
    ASSERT_EQ(items.size(), 2u);
    const auto& changed = items[0].path == photos + "/scan.tif" ? items[0] : items[1];
    EXPECT_EQ(changed.outcome, CompressionOutcome::skipped("Changed since the scan. Scan again to review it."));
    EXPECT_TRUE(Images::decodesFully(photos + "/scan.tif"));
    EXPECT_FALSE(FileSnapshot::read(photos + "/scan.heic"));
}

TEST_F(ImageFlow, ADamagedPhotoIsNeverReplaced) {
    // Cut off part-way, as a copy interrupted by a full disk leaves it: the header reads, the
    // picture does not decode to its end.
    std::ifstream whole(photos + "/IMG_1.jpg", std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(whole), {}};
    home.write("Photos/cut.jpg", bytes.substr(0, bytes.size() * 3 / 4));
    auto model = scannedModel();
    model->reviewImageCompression();
    ASSERT_TRUE(model->pendingImageCompression());
    model->confirmImageCompression(*model->pendingImageCompression());
    testing::drainUntil(queue, [&] { return model->imageCompressionReport() && !model->imageScanning(); });
    bool seen = false;
    for (const auto& item : model->imageCompressionReport()->items) {
        if (item.path != photos + "/cut.jpg") continue;
        seen = true;
        EXPECT_EQ(item.outcome, CompressionOutcome::failed("It could not be read."));
    }
    // Either refused by the scan (it could not be measured) or by the conversion: never replaced.
    EXPECT_TRUE(seen || !item(*model, "cut.jpg") || !item(*model, "cut.jpg")->measured);
    EXPECT_EQ(FileSnapshot::read(photos + "/cut.jpg")->size, static_cast<std::int64_t>(bytes.size() * 3 / 4));
    EXPECT_FALSE(FileSnapshot::read(photos + "/cut.heic"));
    const auto entries = std::distance(std::filesystem::directory_iterator(photos), {});
    EXPECT_EQ(entries, 5) << "no hidden copy is left beside it"; // cut.jpg, two HEIC copies, small.jpg, screen.png
}

TEST_F(ImageFlow, ACancelledScanShowsNothingPartial) {
    auto model = scannedModel();
    const ImageScan before = *model->images();
    model->scanImages();
    EXPECT_TRUE(model->imageScanning());
    model->cancelImageScan();
    EXPECT_FALSE(model->imageScanning());
    EXPECT_TRUE(model->canScanImages());
    // Whatever the abandoned scan still posts is dropped.
    queue.waitAndDrain(std::chrono::milliseconds(500));
    EXPECT_EQ(*model->images(), before);
    EXPECT_EQ(model->imageProgress(), PhotoCleanupModel::ImageScanProgress{});
}

} // namespace
} // namespace vp
