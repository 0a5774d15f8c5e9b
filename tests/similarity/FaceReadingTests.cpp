// The face check on real photos.
#include "engine/similarity/FaceCheck.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <future>
#include <vector>

namespace vp {
namespace {

std::string photo(const std::string& name) { return "/usr/lib/python3/dist-packages/skimage/data/" + name; }

TEST(FaceCheck, AstronautHasOneSmilingFaceWithEyesOpen) {
    EXPECT_EQ(FaceCheck::readingOfFile(photo("astronaut.png")), (FaceReading{1, 0, 1, FaceCheck::revision}));
}

TEST(FaceCheck, PhotoWithoutPeopleHasNoFaces) {
    EXPECT_EQ(FaceCheck::readingOfFile(photo("coffee.png")), (FaceReading{0, 0, 0, FaceCheck::revision}));
}

TEST(FaceCheck, FilesThatAreNoPictureGiveNoReading) {
    testing::TempDir folder;
    EXPECT_EQ(FaceCheck::readingOfFile(folder.write("face.jpg", "not a picture")), std::nullopt);
}

TEST(FaceCheck, AstronautLandmarksReadOpenEyesAndRaisedMouthCorners) {
    const auto image = Images::thumbnail(photo("astronaut.png"), FaceCheck::renditionSize);
    ASSERT_TRUE(image);
    const auto faces = findFaces(*image);
    ASSERT_TRUE(faces);
    ASSERT_EQ(faces->size(), 1u);
    const FaceShape& face = faces->front();
    // Eye aspect ratios of an open eye are about 0.3; the corners of a broad smile rise well
    // above the middle of the lips.
    EXPECT_GT(FaceCheck::eyeAspectRatio(face, FaceCheck::Eye::leftInPicture), 0.25);
    EXPECT_GT(FaceCheck::eyeAspectRatio(face, FaceCheck::Eye::rightInPicture), 0.25);
    EXPECT_GT(FaceCheck::mouthCornerLift(face), 0.1);
    // The face sits in the upper left of the picture, where the astronaut is.
    EXPECT_LT(face.left + face.width, image->width * 0.6);
    EXPECT_LT(face.top + face.height, image->height * 0.5);
}

TEST(FaceCheck, ReadingsFromFourThreadsAtOnceAgree) {
    const auto expected = FaceCheck::readingOfFile(photo("astronaut.png"));
    ASSERT_TRUE(expected);
    std::vector<std::future<std::optional<FaceReading>>> readings;
    for (int i = 0; i < 4; ++i)
        readings.push_back(std::async(std::launch::async, [] { return FaceCheck::readingOfFile(photo("astronaut.png")); }));
    for (auto& reading : readings) EXPECT_EQ(reading.get(), expected);
}

} // namespace
} // namespace vp
