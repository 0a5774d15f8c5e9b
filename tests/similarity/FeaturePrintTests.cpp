// The feature print on real photos: crops of one photo of several sizes, its turned copy and a
// captioned copy are one photo to it and are proposed as neighbours; two cameras' shots of one
// scene and two frames of a scene in which something moved are not; and the matcher groups the
// crops the hashes alone never could.
#include "engine/similarity/FeatureExtractor.h"
#include "engine/similarity/FeatureNeighbours.h"
#include "engine/similarity/SimilarityMatcher.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <algorithm>
#include <filesystem>

namespace vp {
namespace {

using namespace FeatureExtractor;

const std::filesystem::path data = std::filesystem::path(VP_TEST_DATA_DIR) / "crops-and-shots";

const std::vector<std::string> crops{"coffee.jpg", "coffee 4 percent off each edge.jpg",
                                     "coffee 7 percent off each edge.jpg", "coffee middle 80 percent.jpg",
                                     "coffee 92 percent off centre.jpg"};

std::optional<ImageFeatures> measuredWithPrint(const std::filesystem::path& path) {
    return features(path.string(), WithFeaturePrint::yes);
}

FeaturePrintObservation printOf(const std::filesystem::path& path) {
    const auto measured = measuredWithPrint(path);
    EXPECT_TRUE(measured && measured->featurePrint) << path;
    return observation(measured && measured->featurePrint ? *measured->featurePrint : std::vector<std::uint8_t>{})
        .value_or(FeaturePrintObservation{});
}

TEST(FeaturePrint, CropsOfSeveralSizesAndATurnedCopyAreOnePhoto) {
    const auto original = printOf(data / "crops" / crops[0]);
    ASSERT_GE(original.points.size(), 100u);
    for (std::size_t i = 1; i < crops.size(); ++i) {
        const auto match = matchPrints(original, printOf(data / "crops" / crops[i]));
        EXPECT_EQ(verdict(match), PrintVerdict::samePhoto) << crops[i] << ": " << match.inliers << " of " << match.matches;
        EXPECT_EQ(match.turn, 0) << crops[i];
        EXPECT_LT(printDistance(match), 0.1f) << crops[i];
    }

    testing::TempDir folder;
    vips::VImage::new_from_file((data / "crops" / crops[2]).c_str())
        .rot(VIPS_ANGLE_D90)
        .write_to_file((folder / "turned.jpg").c_str());
    const auto turned = matchPrints(original, printOf(folder / "turned.jpg"));
    EXPECT_EQ(verdict(turned), PrintVerdict::samePhoto);
    EXPECT_EQ(turned.turn % 2, 1);
}

TEST(FeaturePrint, ACaptionDrawnOverAPhotoLeavesItOnePhoto) {
    // A banner over a fortieth of the picture, as a flyer or a shared copy gets.
    testing::TempDir folder;
    const auto banner = (vips::VImage::black(150, 40) + std::vector<double>{30, 90, 200}).cast(VIPS_FORMAT_UCHAR);
    vips::VImage::new_from_file((data / "crops" / crops[0]).c_str())
        .insert(banner, 200, 300)
        .write_to_file((folder / "captioned.jpg").c_str());
    const auto match = matchPrints(printOf(data / "crops" / crops[0]), printOf(folder / "captioned.jpg"));
    EXPECT_EQ(verdict(match), PrintVerdict::samePhoto) << match.inliers << " of " << match.matches;
    ASSERT_TRUE(match.changed);
    EXPECT_GT(*match.changed, 0.0);
    EXPECT_LE(*match.changed, changedScene);
}

TEST(FeaturePrint, TwoCamerasOrAMovedSubjectAreDifferentShotsAndOtherPhotosShareNothing) {
    const auto left = printOf(data / "shots" / "motorcycle left camera.jpg");
    const auto right = printOf(data / "shots" / "motorcycle right camera.jpg");
    const auto stereo = matchPrints(left, right);
    EXPECT_EQ(verdict(stereo), PrintVerdict::differentShots) << stereo.inliers << " of " << stereo.matches;

    // The rocket passes over the astronaut: nearly every corner is where it was, but once placed,
    // the two frames differ where the rocket was and where it is.
    const auto moved = matchPrints(printOf(data / "shots" / "astronaut and rocket 1.jpg"),
                                   printOf(data / "shots" / "astronaut and rocket 2.jpg"));
    EXPECT_EQ(verdict(moved), PrintVerdict::differentShots) << moved.inliers << " of " << moved.matches;
    ASSERT_TRUE(moved.changed);
    EXPECT_GT(*moved.changed, changedScene);

    const auto unrelated = matchPrints(left, printOf(data / "crops" / crops[0]));
    EXPECT_EQ(verdict(unrelated), PrintVerdict::undecided);
    EXPECT_EQ(printDistance(unrelated), 1.0f);
}

TEST(FeaturePrint, DamagedOrForeignBytesAndTinyPicturesGiveNoPrint) {
    const auto measured = measuredWithPrint(data / "crops" / crops[0]);
    ASSERT_TRUE(measured && measured->featurePrint);
    auto bytes = *measured->featurePrint;
    EXPECT_TRUE(observation(bytes));
    EXPECT_EQ(observation(std::span(bytes).first(bytes.size() - 1)), std::nullopt);
    bytes[3] = static_cast<std::uint8_t>(featurePrintRevision + 1);
    EXPECT_EQ(observation(bytes), std::nullopt);
    EXPECT_EQ(observation(std::vector<std::uint8_t>{'V', 'P', 'F'}), std::nullopt);

    EXPECT_EQ(featurePrint(Bitmap{8, 8, 3, std::vector<std::uint8_t>(8 * 8 * 3, 128)}), std::nullopt);
    EXPECT_EQ(featurePrint(Bitmap{64, 64, 3, {}}), std::nullopt); // pixels missing
    const auto flat = featurePrint(Bitmap{64, 64, 3, std::vector<std::uint8_t>(64 * 64 * 3, 128)});
    ASSERT_TRUE(flat); // no corners at all: a print that matches nothing
    EXPECT_EQ(matchPrints(*observation(flat->bytes), *observation(flat->bytes)).inliers, 0);

    // The glance's size must fit what follows it.
    auto grown = *measured->featurePrint;
    const std::size_t glanceAt = grown.size() - 4 - static_cast<std::size_t>(observation(grown)->glance.size());
    grown[glanceAt] = static_cast<std::uint8_t>(glanceSide + 1);
    EXPECT_EQ(observation(grown), std::nullopt);
}

TEST(FeatureNeighbours, CropsAreProposedWithTheirOriginalAndCrowdedKeysAreSkipped) {
    std::vector<std::optional<ImageFeatures>> measured;
    for (const auto& name : crops) measured.push_back(measuredWithPrint(data / "crops" / name));
    measured.push_back(measuredWithPrint(data / "shots" / "motorcycle left camera.jpg"));
    measured.push_back(std::nullopt); // an unmeasured picture takes no part
    const auto proposed = FeatureNeighbours::proposals(measured, nullptr);
    for (std::uint32_t crop = 1; crop < crops.size(); ++crop)
        EXPECT_TRUE(std::find(proposed.begin(), proposed.end(), std::pair{0u, crop}) != proposed.end()) << crops[crop];
    for (const auto& [first, second] : proposed) EXPECT_LT(second, measured.size() - 1) << first << " " << second;

    // One picture filed more times than any key may hold: its keys say nothing, so no pairs.
    const std::vector<std::optional<ImageFeatures>> copies(FeatureNeighbours::Settings{}.crowdedKey + 1, measured[0]);
    EXPECT_TRUE(FeatureNeighbours::proposals(copies, nullptr).empty());
}

TEST(FeatureNeighbours, EachPictureProposesOnlyItsClosestPartners) {
    // 40 pictures, every two sharing three keys of their own, as unrelated photos share a few
    // corners by chance; pictures 0 and 1 share ten more, as a photo and its crop do.
    constexpr std::uint32_t count = 40;
    std::vector<std::vector<std::uint32_t>> keys(count);
    std::uint32_t next = 0;
    for (std::uint32_t i = 0; i < count; ++i)
        for (std::uint32_t j = i + 1; j < count; ++j)
            for (int k = 0; k < 3; ++k, ++next) keys[i].push_back(next), keys[j].push_back(next);
    for (int k = 0; k < 10; ++k, ++next) keys[0].push_back(next), keys[1].push_back(next);
    for (auto& own : keys) std::sort(own.begin(), own.end());

    const FeatureNeighbours::Settings settings;
    const auto proposed = FeatureNeighbours::proposalsOfKeys(keys, nullptr, settings);
    EXPECT_TRUE(std::binary_search(proposed.begin(), proposed.end(), std::pair{0u, 1u}));
    EXPECT_LE(proposed.size(), count * settings.partners); // not all 780 pairs
    EXPECT_TRUE(std::is_sorted(proposed.begin(), proposed.end()));

    // Asking for four keys in common leaves only the crop; with room for every partner, every
    // pair is proposed.
    EXPECT_TRUE(FeatureNeighbours::proposalsOfKeys(keys, nullptr, {4, 16, 8}) == (std::vector{std::pair{0u, 1u}}));
    EXPECT_EQ(FeatureNeighbours::proposalsOfKeys(keys, nullptr, {3, 16, count}).size(), count * (count - 1) / 2);
}

TEST(FeaturePrintMatching, CropsJoinTheirOriginalAndDifferentShotsStayApart) {
    std::vector<PhotoAsset> pictures;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(data))
        if (entry.path().extension() == ".jpg") {
            PhotoAsset picture;
            picture.path = entry.path().string();
            pictures.push_back(picture);
        }
    std::sort(pictures.begin(), pictures.end(), [](const auto& x, const auto& y) { return x.path < y.path; });
    CancellationFlag cancel;
    const auto index = SimilarityMatcher::index(pictures, nullptr, WithFeaturePrint::yes, nullptr, cancel, nullptr);
    ASSERT_TRUE(index);
    const auto named = [](const DuplicateGroup& group) {
        std::vector<std::string> names;
        for (const auto& member : group.members) names.push_back(std::filesystem::path(member.path).filename());
        return names;
    };
    for (const auto preset : {SimilarityPreset::conservative, SimilarityPreset::balanced, SimilarityPreset::broad})
        for (const auto& group : index->groups(preset)) {
            const auto names = named(group);
            for (const std::string shot : {"motorcycle", "astronaut"})
                EXPECT_FALSE(std::any_of(names.begin(), names.end(), [&](const auto& n) { return n.starts_with(shot); }))
                    << shot << ": different shots were grouped";
        }
    const auto balanced = index->groups(SimilarityPreset::balanced);
    const auto coffee = std::find_if(balanced.begin(), balanced.end(),
                                     [&](const DuplicateGroup& g) { return named(g).front().starts_with("coffee"); });
    ASSERT_NE(coffee, balanced.end());
    auto names = named(*coffee);
    auto expected = crops;
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}

} // namespace
} // namespace vp
