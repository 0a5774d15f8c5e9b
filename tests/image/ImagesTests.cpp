#include "platform/image/Images.h"

#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <future>
#include <vector>

namespace vp {
namespace {

using testing::cornerMean;
using testing::PictureSpec;
using testing::TempDir;

enum Corner { topLeft = 0, topRight = 1, bottomLeft = 2, bottomRight = 3 };

// Which corner the white quadrant (stored top-left) is in once the picture stands upright.
int brightCorner(const Bitmap& bitmap) {
    int brightest = 0;
    for (int corner = 1; corner < 4; ++corner)
        if (cornerMean(bitmap.pixels.data(), bitmap.width, bitmap.height, bitmap.channels, corner) >
            cornerMean(bitmap.pixels.data(), bitmap.width, bitmap.height, bitmap.channels, brightest))
            brightest = corner;
    return brightest;
}

// Cuts a file down to its first `keep` bytes.
void truncate(const std::string& path, std::size_t keep) {
    testing::writeFile(path, testing::readFile(path).substr(0, keep));
}

// Rewrites the frame header of a JPEG so it claims `width` × `height` pixels.
void claimSize(const std::string& path, int width, int height) {
    std::string bytes = testing::readFile(path);
    for (std::size_t i = 0; i + 9 < bytes.size(); ++i) {
        const auto marker = static_cast<unsigned char>(bytes[i + 1]);
        if (static_cast<unsigned char>(bytes[i]) == 0xFF && (marker == 0xC0 || marker == 0xC2)) {
            bytes[i + 5] = static_cast<char>(height >> 8);
            bytes[i + 6] = static_cast<char>(height & 0xFF);
            bytes[i + 7] = static_cast<char>(width >> 8);
            bytes[i + 8] = static_cast<char>(width & 0xFF);
            testing::writeFile(path, bytes);
            return;
        }
    }
    FAIL() << "no frame header in " << path;
}

struct OrientationCase {
    int orientation;
    int corner; // where the stored top-left corner is seen
};

class Orientation : public ::testing::TestWithParam<OrientationCase> {};

TEST_P(Orientation, ThumbnailStandsUpright) {
    TempDir dir;
    const auto [orientation, corner] = GetParam();
    const auto path = dir / "photo.jpg";
    testing::writePicture(path, {.width = 80, .height = 40, .orientation = orientation});

    const auto properties = Images::properties(path);
    ASSERT_TRUE(properties);
    EXPECT_EQ(properties->orientation, orientation);
    EXPECT_EQ(properties->pixelWidth, 80); // as stored
    const auto thumbnail = Images::thumbnail(path, 40);
    ASSERT_TRUE(thumbnail) << thumbnail.error().detail;
    const bool turned = orientation >= 5;
    EXPECT_EQ(thumbnail->width, turned ? 20 : 40);
    EXPECT_EQ(thumbnail->height, turned ? 40 : 20);
    EXPECT_EQ(brightCorner(*thumbnail), corner);
}

INSTANTIATE_TEST_SUITE_P(Images, Orientation,
                         ::testing::Values(OrientationCase{1, topLeft}, OrientationCase{2, topRight},
                                           OrientationCase{3, bottomRight}, OrientationCase{4, bottomLeft},
                                           OrientationCase{5, topLeft}, OrientationCase{6, topRight},
                                           OrientationCase{7, bottomRight}, OrientationCase{8, bottomLeft}));

class CameraTags : public ::testing::TestWithParam<std::string> {};

// libvips rewrites EXIF for each format in its own way; the properties must come back from all.
TEST_P(CameraTags, ReadBackFromEachFormat) {
    TempDir dir;
    const auto path = dir / ("photo." + GetParam());
    testing::writePicture(path, {.width = 60,
                                 .height = 30,
                                 .make = "Canon",
                                 .model = "Canon EOS 5D Mark IV",
                                 .dateTimeOriginal = "2021:07:04 18:30:05"});
    const auto properties = Images::properties(path);
    ASSERT_TRUE(properties) << properties.error().detail;
    EXPECT_EQ(properties->dateTimeOriginal, "2021:07:04 18:30:05");
    EXPECT_EQ(properties->make, "Canon");
    EXPECT_EQ(properties->model, "Canon EOS 5D Mark IV");
    EXPECT_EQ(properties->exifPixelX, 60);
    EXPECT_EQ(properties->exifPixelY, 30);
    EXPECT_EQ(properties->pixelWidth, 60);
    EXPECT_EQ(properties->pixelHeight, 30);
}

INSTANTIATE_TEST_SUITE_P(Images, CameraTags, ::testing::Values("jpg", "png", "heic"));

TEST(Images, TiffCameraTagsComeFromTheTiffDirectories) {
    TempDir dir;
    const auto path = dir / "scan.tif";
    testing::writeCameraTiff(path, 40, 30, "NIKON CORPORATION", "NIKON D850", "2019:12:31 23:59:58");
    const auto properties = Images::properties(path);
    ASSERT_TRUE(properties) << properties.error().detail;
    EXPECT_EQ(properties->make, "NIKON CORPORATION");
    EXPECT_EQ(properties->model, "NIKON D850");
    EXPECT_EQ(properties->dateTimeOriginal, "2019:12:31 23:59:58");
    EXPECT_EQ(properties->exifPixelX, 40);
    EXPECT_EQ(properties->exifPixelY, 30);
}

// The file's own 128-pixel preview is black; only the primary image has the white quadrant.
TEST(Images, HeicThumbnailsComeFromThePrimaryImageNeverTheEmbeddedOne) {
    TempDir dir;
    const auto path = dir / "phone.heic";
    testing::writeHeicWithMisleadingThumbnail(path, 512, 384);
    for (const int side : {32, 64, 128}) {
        const auto thumbnail = Images::thumbnail(path, side);
        ASSERT_TRUE(thumbnail) << thumbnail.error().detail;
        EXPECT_EQ(thumbnail->width, side);
        EXPECT_GT(cornerMean(thumbnail->pixels.data(), thumbnail->width, thumbnail->height, 3, topLeft), 200) << side;
    }
    EXPECT_TRUE(Images::decodesFully(path));
}

struct UnusualPicture {
    std::string name;
    std::function<void(const std::string&)> write;
    std::string typeIdentifier;
    int imageCount = 1;
};

class UnusualPictures : public ::testing::TestWithParam<UnusualPicture> {};

// Each arrives as 8-bit sRGB with three channels and its picture intact.
TEST_P(UnusualPictures, BecomeOrdinaryThumbnails) {
    TempDir dir;
    const auto& picture = GetParam();
    const auto path = dir / picture.name;
    picture.write(path);

    const auto properties = Images::properties(path);
    ASSERT_TRUE(properties) << properties.error().detail;
    EXPECT_EQ(properties->typeIdentifier, picture.typeIdentifier);
    EXPECT_EQ(properties->imageCount, picture.imageCount);
    const auto thumbnail = Images::thumbnail(path, 32);
    ASSERT_TRUE(thumbnail) << thumbnail.error().detail;
    EXPECT_EQ(thumbnail->channels, 3);
    EXPECT_EQ(thumbnail->width, 32);
    EXPECT_EQ(thumbnail->height, 24);
    EXPECT_EQ(thumbnail->pixels.size(), 32u * 24u * 3u);
    EXPECT_GT(cornerMean(thumbnail->pixels.data(), 32, 24, 3, topLeft), 200);
    EXPECT_LT(cornerMean(thumbnail->pixels.data(), 32, 24, 3, bottomRight), 80);
    EXPECT_TRUE(Images::decodesFully(path));
}

INSTANTIATE_TEST_SUITE_P(
    Images, UnusualPictures,
    ::testing::Values(
        UnusualPicture{"cmyk.jpg", [](const std::string& p) { testing::writeCmykJpeg(p, 64, 48); }, "public.jpeg"},
        UnusualPicture{"deep.png", [](const std::string& p) { testing::write16BitPicture(p, 64, 48); }, "public.png"},
        UnusualPicture{"deep.tif", [](const std::string& p) { testing::write16BitPicture(p, 64, 48); }, "public.tiff"},
        UnusualPicture{"pages.tif", [](const std::string& p) { testing::writeMultiPageTiff(p, 64, 48, 3); },
                       "public.tiff", 3},
        UnusualPicture{"progressive.jpg", [](const std::string& p) { testing::writePicture(p, {}, "interlace"); },
                       "public.jpeg"},
        UnusualPicture{"photo.heic", [](const std::string& p) { testing::writePicture(p); }, "public.heic"},
        // The content decides: a PNG named .jpg is read as the PNG it is.
        UnusualPicture{"lying.jpg", [](const std::string& p) { testing::writePicture(p + ".png");
                                                               std::rename((p + ".png").c_str(), p.c_str()); },
                       "public.png"}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

TEST(Images, ThumbnailsShrinkButNeverGrow) {
    TempDir dir;
    const auto large = dir / "large.jpg";
    testing::writePicture(large, {.width = 1000, .height = 600});
    const auto small = Images::thumbnail(large, 512);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width, 512);
    EXPECT_EQ(small->height, 307);

    const auto same = Images::thumbnail(large, 4000);
    ASSERT_TRUE(same);
    EXPECT_EQ(same->width, 1000);
}

TEST(Images, NonPicturesAreNotDecodable) {
    TempDir dir;
    const std::string empty = dir.write("empty.jpg", "");                       // no bytes at all
    const std::string garbage = dir.write("garbage.png", std::string(3000, 'x')); // no signature
    const std::string pdf = dir.write("document.tif", "%PDF-1.4\n%...\n");       // a blocked loader's format
    for (const auto& path : {empty, garbage, pdf}) {
        const auto properties = Images::properties(path);
        ASSERT_FALSE(properties) << path;
        EXPECT_EQ(properties.error().kind, ImageFailure::Kind::notDecodable) << path;
        EXPECT_FALSE(Images::thumbnail(path, 64)) << path;
        EXPECT_FALSE(Images::decodesFully(path)) << path;
    }
    const auto missing = Images::properties(dir / "missing.jpg");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, ImageFailure::Kind::cannotOpen);
}

struct Bomb {
    std::string options;
    int width;
    int height;
};

class DecompressionBomb : public ::testing::TestWithParam<Bomb> {};

// A small file whose header claims a huge frame: refused before the decoder sizes its buffers.
TEST_P(DecompressionBomb, IsRefusedWithoutDecoding) {
    TempDir dir;
    const auto path = dir / "bomb.jpg";
    testing::writePicture(path, {.width = 256, .height = 256}, GetParam().options);
    claimSize(path, GetParam().width, GetParam().height);

    const auto properties = Images::properties(path);
    ASSERT_TRUE(properties); // the header itself is fine
    EXPECT_EQ(properties->pixelWidth, GetParam().width);
    EXPECT_FALSE(Images::thumbnail(path, 512));
    EXPECT_FALSE(Images::decodesFully(path));
}

INSTANTIATE_TEST_SUITE_P(Images, DecompressionBomb,
                         ::testing::Values(Bomb{"", 65000, 65000},             // over the pixel budget
                                           Bomb{"interlace", 14000, 14000})); // under it, but progressive

TEST(Images, MinimalDngStandsUprightAndNamesItsCamera) {
    TempDir dir;
    const auto path = dir / "shot.dng";
    testing::writeMinimalRaw(path, {.width = 64, .height = 48, .orientation = 6});
    const auto properties = Images::properties(path);
    ASSERT_TRUE(properties) << properties.error().detail;
    EXPECT_EQ(properties->typeIdentifier, "com.adobe.raw-image");
    EXPECT_EQ(properties->make, "Velmo");
    EXPECT_EQ(properties->model, "Test Camera");
    EXPECT_EQ(properties->orientation, 6);
    EXPECT_EQ(properties->pixelWidth, 64);

    const auto thumbnail = Images::thumbnail(path, 32);
    ASSERT_TRUE(thumbnail) << thumbnail.error().detail;
    EXPECT_EQ(thumbnail->width, 24);
    EXPECT_EQ(thumbnail->height, 32);
    EXPECT_EQ(brightCorner(*thumbnail), topRight);
    EXPECT_TRUE(Images::decodesFully(path));
}

TEST(Images, CutOffRawDoesNotDecodeFully) {
    TempDir dir;
    const auto path = dir / "shot.nef";
    testing::writeMinimalRaw(path, {.width = 256, .height = 256, .make = "NIKON CORPORATION", .model = "NIKON D850",
                                    .dngVersion = false});
    truncate(path, testing::readFile(path).size() / 3); // the sensor data ends a third of the way in
    EXPECT_FALSE(Images::decodesFully(path));
}

TEST(Images, GreySquareStretchesToExactlyTheSide) {
    TempDir dir;
    const auto path = dir / "wide.png";
    testing::writePicture(path, {.width = 97, .height = 31});
    const auto thumbnail = Images::thumbnail(path, 97);
    ASSERT_TRUE(thumbnail);
    for (const int side : {8, 32, 200}) {
        const auto grey = Images::greySquare(*thumbnail, side);
        ASSERT_TRUE(grey) << side;
        EXPECT_EQ(grey->width, side);
        EXPECT_EQ(grey->height, side);
        EXPECT_EQ(grey->channels, 1);
        ASSERT_EQ(grey->pixels.size(), static_cast<std::size_t>(side) * side);
        EXPECT_GT(cornerMean(grey->pixels.data(), side, side, 1, topLeft), 200) << side;
        EXPECT_LT(cornerMean(grey->pixels.data(), side, side, 1, bottomRight), 60) << side;
    }
    EXPECT_FALSE(Images::greySquare(Bitmap{4, 4, 3, std::vector<std::uint8_t>(5)}, 8)); // pixels do not fit the size
}

TEST(Images, FourThreadsAtOnceGetWhatOneThreadGets) {
    TempDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < 8; ++i) {
        paths.push_back(dir / ("photo" + std::to_string(i) + (i % 2 == 0 ? ".jpg" : ".png")));
        testing::writePicture(paths.back(), {.width = 300 + 10 * i, .height = 200, .orientation = 1 + i % 8});
    }
    testing::writeMinimalRaw(dir / "raw.dng");
    paths.push_back(dir / "raw.dng");

    std::vector<Bitmap> serial;
    for (const auto& path : paths) serial.push_back(*Images::thumbnail(path, 64));
    std::vector<std::future<std::vector<Bitmap>>> workers;
    for (int worker = 0; worker < 4; ++worker)
        workers.push_back(std::async(std::launch::async, [&] {
            std::vector<Bitmap> results;
            for (const auto& path : paths) {
                auto thumbnail = Images::thumbnail(path, 64);
                results.push_back(thumbnail ? *thumbnail : Bitmap{});
                EXPECT_TRUE(Images::properties(path));
            }
            return results;
        }));
    for (auto& worker : workers) EXPECT_EQ(worker.get(), serial);
}

TEST(Images, DecodableTypesAndCamerasComeFromTheLibraries) {
    const auto& types = Images::decodableTypes();
    for (const char* type : {"public.jpeg", "public.png", "public.heic", "public.tiff", "com.adobe.raw-image",
                             "com.canon.cr3-raw-image", "com.sony.arw-raw-image"})
        EXPECT_TRUE(types.contains(type)) << type;
    EXPECT_FALSE(types.contains("public.image"));
    const auto& cameras = Images::supportedCameras();
    EXPECT_GT(cameras.size(), 500u);
    EXPECT_NE(std::find(cameras.begin(), cameras.end(), "Nikon D850"), cameras.end());
}

} // namespace
} // namespace vp
