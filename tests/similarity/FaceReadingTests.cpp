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
