// Measuring real photos: other versions of one photo are found at the right turn, different
// photos are not, and the record carries the picture's displayed size, date and quality.
#include "engine/similarity/FeatureExtractor.h"
#include "engine/similarity/QualityScore.h"

#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <functional>
#include <future>
#include <mutex>

namespace vp {
namespace {

using namespace FeatureExtractor;
using vips::VImage;

/// Photos Debian ships with scikit-image.
std::string photo(const std::string& name) { return "/usr/lib/python3/dist-packages/skimage/data/" + name; }

VImage load(const std::string& path) {
    static std::once_flag started;
    std::call_once(started, [] { VIPS_INIT("vp-similarity-tests"); });
    return VImage::new_from_file(path.c_str(), VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL)).copy_memory();
}

ImageFeatures measured(const std::string& path, WithFeaturePrint print = WithFeaturePrint::no) {
    auto result = features(path, print);
    EXPECT_TRUE(result.has_value()) << path;
    return result.value_or(ImageFeatures{});
}

struct Version {
    std::string name;
    std::function<VImage(const VImage&)> make;
    std::string file; ///< name and libvips save options
    int turn;         ///< quarter turns clockwise that bring the version back to the photo as seen
    std::int64_t width, height;
};

class OtherVersionOfOnePhoto : public ::testing::TestWithParam<Version> {};

TEST_P(OtherVersionOfOnePhoto, MatchesAtTheRightTurnWithAgreeingShapes) {
    const Version& version = GetParam();
    testing::TempDir folder;
    const std::string path = folder / version.file;
    version.make(load(photo("coffee.png"))).write_to_file(path.c_str());

    const ImageFeatures original = measured(photo("coffee.png"));
    const ImageFeatures other = measured(path.substr(0, path.find('[')));
    EXPECT_EQ(other.pixelWidth, version.width);
    EXPECT_EQ(other.pixelHeight, version.height);
    const HashMatch match = hashMatch(original, other);
    EXPECT_EQ(match.turn, version.turn);
    EXPECT_LE(match.distance, 6);
    EXPECT_LE(detailDistance(original, other), 30);
    EXPECT_TRUE(shapesAgree(original, other, match.turn));
}

INSTANTIATE_TEST_SUITE_P(
    Coffee, OtherVersionOfOnePhoto,
    ::testing::Values(
        Version{"HalfSize", [](const VImage& p) { return p.resize(0.5); }, "half.png", 0, 300, 200},
        Version{"ResavedJpeg", [](const VImage& p) { return p; }, "resaved.jpg[Q=60]", 0, 600, 400},
        Version{"TurnedClockwise", [](const VImage& p) { return p.rot90(); }, "turned.png", 3, 400, 600},
        Version{"TurnedHalf", [](const VImage& p) { return p.rot180(); }, "half-turn.png", 2, 600, 400},
        Version{"TurnedAnticlockwise", [](const VImage& p) { return p.rot270(); }, "turned-back.jpg[Q=90]", 1, 400,
                600},
        // Stored on its side with orientation 6: shown upright, so it is the photo as it was.
        Version{"StoredSidewaysOrientation6",
                [](const VImage& p) {
                    VImage sideways = p.rot270().copy();
                    sideways.set(VIPS_META_ORIENTATION, 6);
                    return sideways;
                },
                "sideways.jpg[Q=90]", 0, 600, 400}),
    [](const auto& info) { return info.param.name; });

TEST(PhotoFeatures, DifferentPhotosAreFarApartInEveryTurn) {
    const std::vector<ImageFeatures> photos{measured(photo("coffee.png")), measured(photo("chelsea.png")),
                                            measured(photo("astronaut.png")), measured(photo("rocket.jpg"))};
    for (std::size_t i = 0; i < photos.size(); ++i)
        for (std::size_t j = 0; j < photos.size(); ++j) {
            if (i == j) continue;
            EXPECT_GE(hashMatch(photos[i], photos[j]).distance, 16) << i << " " << j;
            EXPECT_GE(detailDistance(photos[i], photos[j]), 70) << i << " " << j;
        }
}

TEST(PhotoFeatures, SquareAndWideCropsOfOnePhotoDoNotAgree) {
    testing::TempDir folder;
    const VImage coffee = load(photo("coffee.png"));
    coffee.crop(100, 0, 400, 400).write_to_file((folder / "square.png").c_str());
    coffee.crop(0, 0, 600, 338).write_to_file((folder / "sixteen-nine.png").c_str()); // 1.78
    const ImageFeatures a = measured(folder / "square.png");
    const ImageFeatures b = measured(folder / "sixteen-nine.png");
    for (int turn = 0; turn < 4; ++turn) EXPECT_FALSE(shapesAgree(a, b, turn)) << turn;
}

TEST(PhotoFeatures, RecordCarriesDateQualityAndNoFaces) {
    testing::TempDir folder;
    const std::string path = folder / "dated.jpg";
    testing::writePicture(path, {.width = 640, .height = 480, .orientation = 8,
                                 .dateTimeOriginal = "2021:07:04 18:30:05"});
    const ImageFeatures result = measured(path);
    EXPECT_EQ(result.pixelWidth, 480); // orientation 8: a quarter turn
    EXPECT_EQ(result.pixelHeight, 640);
    ASSERT_TRUE(result.captureDate);
    EXPECT_EQ(iso8601(*result.captureDate), "2021-07-04T18:30:05Z");
    EXPECT_EQ(result.version, ImageFeatures::pipelineVersion);
    EXPECT_EQ(result.hashes.size(), 4u);
    EXPECT_EQ(result.detailHashes.size(), 4u);
    EXPECT_EQ(result.faces, std::nullopt);
    EXPECT_EQ(result.featurePrint, std::nullopt);
    EXPECT_EQ(result.featurePrintRevision, 0);
}

TEST(PhotoFeatures, RecordSurvivesJsonWithEveryField) {
    ImageFeatures record = measured(photo("astronaut.png"), WithFeaturePrint::yes);
    ASSERT_TRUE(record.featurePrint && record.qualityScore && record.isUtility && record.qualityRevision);
    record.captureDate = *parseIso8601("2021-07-04T18:30:05Z");
    record.faces = FaceReading{1, 0, 1, 1};
    const auto decoded = decodeJson<ImageFeatures>(encodeJson(record));
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(*decoded, record);
    EXPECT_EQ(std::hash<ImageFeatures>{}(*decoded), std::hash<ImageFeatures>{}(record));

    // Only the optional fields may be missing.
    Json json = encodeJson(record);
    for (const char* key : {"featurePrint", "captureDate", "qualityScore", "isUtility", "qualityRevision", "faces"})
        json.erase(key);
    EXPECT_TRUE(decodeJson<ImageFeatures>(json));
    json.erase("sharpness");
    EXPECT_FALSE(decodeJson<ImageFeatures>(json));
}

TEST(PhotoFeatures, MeasuringFromFourThreadsAtOnceGivesOneRecord) {
    const ImageFeatures expected = measured(photo("astronaut.png"), WithFeaturePrint::yes);
    std::vector<std::future<ImageFeatures>> records;
    for (int i = 0; i < 4; ++i)
        records.push_back(std::async(std::launch::async,
                                     [] { return measured(photo("astronaut.png"), WithFeaturePrint::yes); }));
    for (auto& record : records) EXPECT_EQ(record.get(), expected);
}

TEST(PhotoFeatures, AllBlackPictureIsClippedDarkAndFlat) {
    testing::TempDir folder;
    const std::string path = folder / "black.png";
    (VImage::black(300, 200, VImage::option()->set("bands", 3)).cast(VIPS_FORMAT_UCHAR))
        .write_to_file(path.c_str());
    const ImageFeatures result = measured(path);
    EXPECT_EQ(result.clipped, 1);
    EXPECT_EQ(result.meanLuma, 0);
    EXPECT_EQ(result.sharpness, 0);
}

TEST(PhotoFeatures, SharpnessFallsWithBlur) {
    testing::TempDir folder;
    load(photo("astronaut.png")).gaussblur(3).write_to_file((folder / "blurred.png").c_str());
    EXPECT_LT(measured(folder / "blurred.png").sharpness, measured(photo("astronaut.png")).sharpness / 4);
}

TEST(PhotoFeatures, FilesThatAreNoPictureGiveNothing) {
    testing::TempDir folder;
    EXPECT_EQ(features(folder.write("notes.jpg", "not a picture"), WithFeaturePrint::no), std::nullopt);
    EXPECT_EQ(features(folder / "missing.jpg", WithFeaturePrint::no), std::nullopt);
}

TEST(QualityScore, PhotosAreScoredAndScreensAreUtility) {
    const auto astronaut = QualityScore::score(*Images::thumbnail(photo("astronaut.png"), renditionSize));
    ASSERT_TRUE(astronaut);
    EXPECT_GE(astronaut->score, 0);
    EXPECT_LE(astronaut->score, 100);
    EXPECT_FALSE(astronaut->isUtility);
    EXPECT_EQ(astronaut->revision, QualityScore::revision);

    // A window on a plain background, as a screenshot shows it.
    testing::TempDir folder;
    const std::string path = folder / "screen.png";
    VImage screen = VImage::black(800, 500, VImage::option()->set("bands", 3)) + 236;
    screen = screen.insert(VImage::black(700, 40, VImage::option()->set("bands", 3)) + 60, 50, 30);
    screen = screen.insert(load(photo("chelsea.png")).resize(0.5), 60, 120);
    screen.cast(VIPS_FORMAT_UCHAR).write_to_file(path.c_str());
    EXPECT_EQ(measured(path).isUtility, true);

    // Blur takes away what the model looks for: the same photo blurred scores lower.
    load(photo("astronaut.png")).gaussblur(4).write_to_file((folder / "blurred.png").c_str());
    EXPECT_LT(measured(folder / "blurred.png").qualityScore.value_or(100), astronaut->score);
}

} // namespace
} // namespace vp
