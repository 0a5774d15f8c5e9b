#include "GroupingFixtures.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

using testing::measured;
using testing::pair;
using testing::picture;

SimilarityIndex indexOf(std::vector<PhotoAsset> pictures, std::vector<SimilarPair> pairs,
                        std::vector<std::optional<ImageFeatures>> features = {}) {
    SimilarityIndex index;
    index.pictures = std::move(pictures);
    index.features = features.empty() ? std::vector<std::optional<ImageFeatures>>(index.pictures.size(), measured(0))
                                      : std::move(features);
    index.pairs = std::move(pairs);
    return index;
}

std::vector<std::vector<std::string>> memberPaths(const std::vector<DuplicateGroup>& groups) {
    std::vector<std::vector<std::string>> paths;
    for (const auto& group : groups) {
        paths.emplace_back();
        for (const auto& member : group.members) paths.back().push_back(member.path);
    }
    return paths;
}

TEST(LookAlikeGroups, CompleteLinkageNeverChains) {
    const auto index = indexOf({picture("/a"), picture("/b"), picture("/c")}, {pair(0, 1, 4), pair(1, 2, 6)});
    const auto groups = index.groups(SimilarityPreset::balanced);
    EXPECT_EQ(memberPaths(groups), (std::vector<std::vector<std::string>>{{"/a", "/b"}}));
    EXPECT_EQ(groups[0].kind, MatchKind::similar);
    EXPECT_EQ(groups[0].spread, 4.0f);

    // With the third side accepted too, the three are one clique, spread by its widest pair.
    const auto triangle = indexOf({picture("/a"), picture("/b"), picture("/c")},
                                  {pair(0, 1, 4), pair(1, 2, 6), pair(0, 2, 9)});
    EXPECT_EQ(memberPaths(triangle.groups(SimilarityPreset::balanced)),
              (std::vector<std::vector<std::string>>{{"/a", "/b", "/c"}}));
    EXPECT_EQ(triangle.groups(SimilarityPreset::balanced)[0].spread, 9.0f);
}

TEST(LookAlikeGroups, TheClosestPairIsJoinedFirst) {
    // b is closer to c than to a: {b, c} forms and a cannot join without a-c.
    const auto index = indexOf({picture("/a"), picture("/b"), picture("/c")}, {pair(0, 1, 8), pair(1, 2, 3)});
    EXPECT_EQ(memberPaths(index.groups(SimilarityPreset::balanced)),
              (std::vector<std::vector<std::string>>{{"/b", "/c"}}));
}

struct PresetCase {
    SimilarPair pair;
    bool conservative, balanced, broad;
};

class Presets : public ::testing::TestWithParam<PresetCase> {};

TEST_P(Presets, AcceptAtTheirBoundaries) {
    const auto& given = GetParam();
    EXPECT_EQ(accepts(SimilarityPreset::conservative, given.pair), given.conservative);
    EXPECT_EQ(accepts(SimilarityPreset::balanced, given.pair), given.balanced);
    EXPECT_EQ(accepts(SimilarityPreset::broad, given.pair), given.broad);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, Presets,
                         ::testing::Values(PresetCase{pair(0, 1, 12, 18), true, true, true},
                                           PresetCase{pair(0, 1, 12, 19), false, true, true},
                                           PresetCase{pair(0, 1, 14, 0), false, false, true},
                                           PresetCase{pair(0, 1, 16, 0), false, false, true},
                                           PresetCase{pair(0, 1, 17, 0), false, false, false},
                                           PresetCase{pair(0, 1, 2, 0, false), false, false, false}));

TEST(LookAlikeGroups, SortedBySpareBytesAndIdsAreStable) {
    const auto index = indexOf({picture("/z1", 100), picture("/z2", 100), picture("/a1", 10), picture("/a2", 10)},
                               {pair(0, 1, 2), pair(2, 3, 2)});
    const auto groups = index.groups(SimilarityPreset::balanced);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].members[0].path, "/z1");
    EXPECT_EQ(groups[0].size, 100);
    EXPECT_EQ(groups, index.groups(SimilarityPreset::balanced));
    EXPECT_TRUE(groups[0].id.starts_with("similar-"));
    EXPECT_EQ(groups[0].id.size(), std::string("similar-").size() + 64);
    EXPECT_NE(groups[0].id, groups[1].id);
    // The id names the members, not the kind alone.
    EXPECT_NE(makeGroup(index.pictures, {0, 1}, MatchKind::similar, std::nullopt).id,
              makeGroup(index.pictures, {1, 0}, MatchKind::similar, std::nullopt).id);
    EXPECT_NE(makeGroup(index.pictures, {0, 1}, MatchKind::similar, std::nullopt).id,
              makeGroup(index.pictures, {0, 1}, MatchKind::series, std::nullopt).id);
}

struct SeriesCase {
    const char* name;
    double secondShot;
    float distance;
    const char* secondFolder;
    bool isSeries;
};

class Series : public ::testing::TestWithParam<SeriesCase> {};

TEST_P(Series, NeedsRelatedShotsCloseInTimeInOneFolder) {
    const auto& given = GetParam();
    const auto index = indexOf({picture("/camera/1.jpg"), picture(std::string(given.secondFolder) + "/2.jpg")},
                               {pair(0, 1, given.distance)}, {measured(0, 0.0), measured(0, given.secondShot)});
    EXPECT_EQ(index.series(3.0, SimilarityThresholds::seriesRelated).size(), given.isSeries ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, Series,
                         ::testing::Values(SeriesCase{"close", 2.9, 30, "/camera", true},
                                           SeriesCase{"tooSlow", 3.1, 30, "/camera", false},
                                           SeriesCase{"unrelated", 2.0, 35, "/camera", false},
                                           SeriesCase{"twoFolders", 1.0, 10, "/other", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Series, AChainOfShotsEachCloseToThePreviousIsOneBurst) {
    const auto index = indexOf({picture("/c/1"), picture("/c/2"), picture("/c/3"), picture("/c/undated")},
                               {pair(0, 1, 10), pair(1, 2, 10), pair(2, 3, 0), pair(0, 3, 0)},
                               {measured(0, 0.0), measured(0, 2.0), measured(0, 4.0), measured(0)});
    const auto series = index.series(3.0, 34.0);
    ASSERT_EQ(series.size(), 1u);
    EXPECT_EQ(memberPaths(series), (std::vector<std::vector<std::string>>{{"/c/1", "/c/2", "/c/3"}}));
    EXPECT_EQ(series[0].kind, MatchKind::series);
    EXPECT_FALSE(series[0].spread);
}

TEST(SimilarityIndex, LooksUpFeaturesAndAddsFaces) {
    auto index = indexOf({picture("/a"), picture("/b"), picture("/c")}, {pair(0, 2, 1)},
                         {measured(1), std::nullopt, measured(3)});
    EXPECT_EQ(index.featuresFor(picture("/c"))->hashes[0], 3u);
    EXPECT_FALSE(index.featuresFor(picture("/b")));
    PhotoAsset edited = picture("/c");
    edited.snapshot.size = 101; // same path, another file: not the scanned picture
    EXPECT_FALSE(index.featuresFor(edited));
    EXPECT_EQ(index.paired(), (std::vector<std::int64_t>{0, 2}));

    const FaceReading reading{2, 1, 0, 1};
    const auto withFaces = index.withFaces({{1, reading}, {2, reading}});
    EXPECT_FALSE(withFaces.features[1]);
    EXPECT_EQ(withFaces.features[2]->faces, reading);
    EXPECT_FALSE(index.features[2]->faces); // the original is unchanged
}

} // namespace
} // namespace vp
