// Bursts in both groupings, on a real burst: five shots of a street a second apart, each close to
// the next, the first and last further apart (tests/data/street-burst).
#include "GroupingFixtures.h"

#include "engine/scan/ExactMatcher.h"
#include "engine/similarity/SimilarityMatcher.h"

#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace vp {
namespace {

using testing::measured;
using testing::pair;
using testing::picture;

std::vector<std::string> names(const DuplicateGroup& group) {
    std::vector<std::string> result;
    for (const auto& member : group.members) result.push_back(std::filesystem::path(member.path).filename());
    return result;
}

class StreetBurst : public ::testing::TestWithParam<const char*> {
protected:
    testing::TempDir dir;
    std::optional<SimilarityIndex> index;

    void SetUp() override {
        const std::filesystem::path from = std::filesystem::path(VP_TEST_DATA_DIR) / GetParam();
        std::filesystem::create_directories(dir / "Camera");
        for (int shot = 1; shot <= 5; ++shot) {
            const std::string name = "IMG_000" + std::to_string(shot) + ".jpg";
            std::filesystem::copy_file(from / name, dir / ("Camera/" + name));
        }
        CancellationFlag cancel;
        const ScanResult scan = ExactMatcher::scan({dir.path()}, true, std::nullopt, {}, cancel, nullptr);
        ASSERT_EQ(scan.pictures.size(), 5u);
        index = SimilarityMatcher::index(scan.pictures, nullptr, WithFeaturePrint::no, nullptr, cancel, nullptr);
        ASSERT_TRUE(index);
    }
};

const std::vector<std::string> allFive{"IMG_0001.jpg", "IMG_0002.jpg", "IMG_0003.jpg", "IMG_0004.jpg", "IMG_0005.jpg"};

TEST_P(StreetBurst, IsOneSeries) {
    const auto series = index->series(SimilarityThresholds::seriesWindow, SimilarityThresholds::seriesRelated);
    ASSERT_EQ(series.size(), 1u);
    EXPECT_EQ(names(series[0]), allFive);
}

TEST_P(StreetBurst, IsOneLookAlikeGroupUnderEveryPresetThatGroupsItAtAll) {
    for (const auto preset : {SimilarityPreset::conservative, SimilarityPreset::balanced, SimilarityPreset::broad}) {
        const auto groups = index->groups(preset);
        // Each group keeps a shot, and so does every shot left out of the groups.
        EXPECT_LE(groups.size(), 1u) << rawValue(preset);
        for (const auto& group : groups) EXPECT_EQ(names(group), allFive) << rawValue(preset);
    }
    EXPECT_EQ(index->groups(SimilarityPreset::balanced).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(RealBursts, StreetBurst, ::testing::Values("street-burst", "street-burst-drifting"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::erase(name, '-');
                             return name;
                         });

SimilarityIndex handMade(std::vector<PhotoAsset> pictures, std::vector<std::optional<ImageFeatures>> features,
                         std::vector<SimilarPair> pairs) {
    SimilarityIndex index;
    index.pictures = std::move(pictures);
    index.features = std::move(features);
    index.pairs = std::move(pairs);
    return index;
}

std::vector<std::vector<std::string>> paths(const std::vector<DuplicateGroup>& groups) {
    std::vector<std::vector<std::string>> result;
    for (const auto& group : groups) {
        result.emplace_back();
        for (const auto& member : group.members) result.back().push_back(member.path);
    }
    return result;
}

TEST(BurstsInLookAlikeGroups, ShotsASecondApartThatDoNotLookAlikeStayInTheirOwnGroups) {
    // Two different photos shot a second apart, each with a copy elsewhere. The shots are related
    // enough for a series (30 bits) but are no look-alikes, so their groups must not merge.
    const auto index = handMade({picture("/cam/1.jpg"), picture("/cam/2.jpg"), picture("/web/1.jpg"), picture("/web/2.jpg")},
                                {measured(0, 0.0), measured(0, 1.0), measured(0), measured(0)},
                                {pair(0, 1, 30), pair(0, 2, 2), pair(1, 3, 3)});
    ASSERT_EQ(index.series(SimilarityThresholds::seriesWindow, SimilarityThresholds::seriesRelated).size(), 1u);
    EXPECT_EQ(paths(index.groups(SimilarityPreset::balanced)),
              (std::vector<std::vector<std::string>>{{"/cam/1.jpg", "/web/1.jpg"}, {"/cam/2.jpg", "/web/2.jpg"}}));
}

TEST(BurstsInLookAlikeGroups, AChainedBurstIsOneGroupWithItsShotsCopiesAndAShotUnlikeItStaysApart) {
    // Shots a-b-c a second apart, each a look-alike of the next only, with copies of a and b
    // elsewhere; and shot d, a second after c but too far from it to be a look-alike, with a copy
    // of its own.
    const auto index = handMade(
        {picture("/cam/a.jpg"), picture("/cam/b.jpg"), picture("/cam/c.jpg"), picture("/web/a.jpg"),
         picture("/other/b.jpg"), picture("/cam/d.jpg"), picture("/web/d.jpg")},
        {measured(0, 0.0), measured(0, 1.0), measured(0, 2.0), measured(0), measured(0, 60.0), measured(0, 3.0),
         measured(0)},
        {pair(0, 1, 8), pair(0, 2, 20), pair(0, 3, 1), pair(1, 2, 15), pair(1, 4, 8), pair(2, 5, 30), pair(5, 6, 2)});
    ASSERT_EQ(index.series(SimilarityThresholds::seriesWindow, SimilarityThresholds::seriesRelated).size(), 1u);
    const auto groups = index.groups(SimilarityPreset::balanced);
    EXPECT_EQ(paths(groups), (std::vector<std::vector<std::string>>{{"/cam/a.jpg", "/cam/b.jpg", "/cam/c.jpg", "/web/a.jpg", "/other/b.jpg"},
                                                                    {"/cam/d.jpg", "/web/d.jpg"}}));
    // The widest accepted pair among the members: b-c (15) is a burst link, not accepted here.
    EXPECT_EQ(groups[0].spread, 8.0f);
    // A rule that groups none of the shots makes no group of the burst either.
    EXPECT_TRUE(index.groups([](const SimilarPair& p) { return p.distance <= 0; }).empty());
}

} // namespace
} // namespace vp
