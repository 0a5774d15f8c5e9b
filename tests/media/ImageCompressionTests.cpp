// Photos to HEIC: which photos are offered and how the saving is measured on a sample, the
// checks a copy must pass, and a real conversion with its put-back.
#include "MediaFixtures.h"

#include "engine/media/ImageCompression.h"
#include "platform/image/Images.h"
#include "tests/support/Pictures.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

PhotoAsset assetOf(const std::string& path, const std::string& root, PhotoFormat format, std::int64_t width,
                   std::int64_t height, std::optional<std::int64_t> claimedSize = std::nullopt) {
    PhotoAsset asset;
    asset.path = path;
    asset.root = root;
    asset.snapshot = *FileSnapshot::read(path);
    if (claimedSize) asset.snapshot.size = *claimedSize; // the rules read the size the scan saw
    asset.format = format;
    asset.pixelWidth = width;
    asset.pixelHeight = height;
    return asset;
}

TEST(ImageScanner, ListsWhatIsWorthConvertingAndWhy) {
    const testing::TempDir temp;
    const std::string root = temp.path();
    const auto picture = [&](const std::string& name, testing::PictureSpec spec = {.width = 64, .height = 48, .detailed = true}) {
        testing::writePicture(root + "/" + name, spec, name.ends_with(".jpg") ? "Q=98" : "");
        return root + "/" + name;
    };
    const std::int64_t megabyte = 1'000'000;
    std::vector<PhotoAsset> assets{
        assetOf(picture("small.jpg"), root, PhotoFormat::jpeg, 64, 48, 250'000),                   // never encoded
        assetOf(picture("well.jpg"), root, PhotoFormat::jpeg, 4000, 3000, 1'200'000),              // 0.8 bits per pixel
        assetOf(picture("screen.png"), root, PhotoFormat::png, 64, 48, megabyte),
        assetOf(picture("photo.jpg"), root, PhotoFormat::jpeg, 64, 48, megabyte),
        assetOf(picture("scan.tif"), root, PhotoFormat::tiff, 64, 48, megabyte),
        assetOf(picture("raw.heic"), root, PhotoFormat::heic, 64, 48, megabyte),                   // not listed
    };
    picture("photo.heic");
    assets.back().library = LibraryRef{}; // and a library photo is never listed either
    CancellationFlag cancel;
    const ImageScan scan = ImageScanner::scan(assets, {root}, cancel);
    ASSERT_EQ(scan.images.size(), 5u);
    EXPECT_EQ(scan.images[0].leftAlone, std::string(ImageScanner::smallReason));
    EXPECT_EQ(scan.images[1].leftAlone, std::string(ImageScanner::wellCompressedReason));
    EXPECT_EQ(scan.images[2].leftAlone, std::string(ImageScanner::pngReason));
    EXPECT_EQ(scan.images[3].leftAlone, "photo.heic is already beside it");
    EXPECT_TRUE(scan.images[4].isCandidate()) << scan.images[4].leftAlone.value_or("");
    EXPECT_TRUE(scan.images[4].measured);
    EXPECT_EQ(scan.images[4].target(), root + "/scan.heic");
    EXPECT_EQ(scan.sampled, 1);
    EXPECT_EQ(scan.candidates().size(), 1u);
}

TEST(ImageScanner, SamplesEveryStrideAndExtrapolates) {
    const testing::TempDir temp;
    for (const std::size_t count : {std::size_t{40}, std::size_t{10}}) {
        std::vector<PhotoAsset> assets;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string path = temp / ("p" + std::to_string(count) + "-" + std::to_string(i) + ".jpg");
            testing::writePicture(path, {.width = 32, .height = 24, .detailed = true}, "Q=98");
            assets.push_back(assetOf(path, temp.path(), PhotoFormat::jpeg, 32, 24, 2'000'000));
        }
        CancellationFlag cancel;
        const ImageScan scan = ImageScanner::scan(assets, {temp.path()}, cancel);
        const std::size_t stride = count == 40 ? 2 : 1;
        for (std::size_t i = 0; i < count; ++i) {
            const bool sampled = i % stride == 0 && i / stride < 16;
            EXPECT_EQ(scan.images[i].measured, sampled) << count << " items, item " << i;
            EXPECT_TRUE(scan.images[i].isCandidate());
        }
        EXPECT_EQ(scan.sampled, count == 40 ? 16 : 10);
    }
}

class HeicConversion : public ::testing::Test {
protected:
    testing::TempDir temp;
    testing::TemporaryHome home{temp.folder("home")};
    std::string root = temp.folder("photos");
    VideoCompressor compressor{temp.folder("data"), std::make_shared<FileManagerTrasher>()};
};

TEST_F(HeicConversion, ReplacesAPhotoKeepingOrientationAndDateAndPutsItBack) {
    const std::string photo = root + "/IMG_1.jpg";
    testing::writePicture(photo, {.width = 900, .height = 600, .orientation = 6, .dateTimeOriginal = "2021:06:12 09:14:03",
                                  .detailed = true}, "Q=98");
    const auto asset = assetOf(photo, root, PhotoFormat::jpeg, 900, 600);
    CancellationFlag cancel;
    const ImageScan scan = ImageScanner::scan({asset}, {root}, cancel);
    const ImageCompressionPlan plan(scan.images, {root});
    ASSERT_EQ(scan.images.size(), 1u);
    ASSERT_EQ(plan.images.size(), 1u) << scan.images[0].leftAlone.value_or("") << " " << asset.snapshot.size;
    const auto report = compressor.compressImages(plan, {plan.id}, cancel);
    ASSERT_TRUE(report);
    const CompressionItem& item = report->items[0];
    ASSERT_EQ(item.outcome.kind, CompressionOutcome::Kind::compressed) << item.outcome.reason;
    EXPECT_EQ(item.replacedBy, root + "/IMG_1.heic");
    EXPECT_EQ(testing::namesIn(root), std::vector<std::string>{"IMG_1.heic"});
    const auto copied = Images::properties(root + "/IMG_1.heic");
    ASSERT_TRUE(copied);
    EXPECT_EQ(copied->typeIdentifier, "public.heic");
    EXPECT_EQ(copied->orientation.value_or(1), 1); // stored upright, as it is shown
    EXPECT_EQ(copied->pixelWidth, 600);
    EXPECT_EQ(copied->pixelHeight, 900);
    EXPECT_EQ(copied->dateTimeOriginal, "2021:06:12 09:14:03");
    EXPECT_EQ(CompressionJournal::report(report->journalPath)->items, report->items);

    EXPECT_FALSE(compressor.restoreOriginal(item, *report));
    EXPECT_EQ(testing::namesIn(root), std::vector<std::string>{"IMG_1.jpg"});
}

TEST_F(HeicConversion, CopiesThatLoseWhatMattersAreRefused) {
    const std::string photo = root + "/a.jpg";
    testing::writePicture(photo, {.width = 200, .height = 100, .orientation = 6, .dateTimeOriginal = "2021:06:12 09:14:03",
                                  .detailed = true}, "Q=98");
    const std::int64_t size = FileSnapshot::read(photo)->size;
    testing::writePicture(temp / "plain.heic", {.width = 200, .height = 100});
    testing::writePicture(temp / "upright.heic", {.width = 100, .height = 200});
    testing::writePicture(temp / "smaller.heic", {.width = 50, .height = 100});
    // Still lying on its side: HEIF viewers would show it turned.
    EXPECT_EQ(ImageEncoder::verify(temp / "plain.heic", photo, size), "The HEIC copy lost its orientation.");
    EXPECT_EQ(ImageEncoder::verify(temp / "upright.heic", photo, size), "The HEIC copy lost its capture date.");
    EXPECT_EQ(ImageEncoder::verify(temp / "smaller.heic", photo, size), "The HEIC copy has a different size in pixels.");
    EXPECT_EQ(ImageEncoder::verify(temp.write("empty.heic", ""), photo, size), "The HEIC copy was empty.");
    EXPECT_EQ(ImageEncoder::verify(temp / "plain.heic", photo, 100),
              "The HEIC copy was not small enough to be worth it, so the original was kept.");
    EXPECT_EQ(ImageEncoder::verify(temp.write("junk.heic", "junk"), photo, size), "The HEIC copy could not be read back.");
    EXPECT_EQ(ImageEncoder::write(temp / "missing.jpg", temp / "out.heic"), "It could not be read.");
    testing::writeMultiPageTiff(temp / "pages.tif", 32, 24, 3);
    EXPECT_EQ(ImageEncoder::write(temp / "pages.tif", temp / "out.heic"), "It holds more than one image.");
}

} // namespace
} // namespace vp
