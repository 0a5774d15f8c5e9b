#include "GroupingFixtures.h"

#include "engine/similarity/QualityHints.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

using testing::measured;
using testing::picture;

struct Member {
    Member(double sharpness = 1, double meanLuma = 0.5, double clipped = 0, std::optional<std::int64_t> score = {})
        : sharpness(sharpness), meanLuma(meanLuma), clipped(clipped), score(score) {}
    double sharpness;
    double meanLuma;
    double clipped;
    std::optional<std::int64_t> score;
};

std::pair<DuplicateGroup, SimilarityIndex> groupOf(const std::vector<Member>& members,
                                                  MatchKind kind = MatchKind::similar) {
    SimilarityIndex index;
    std::vector<std::int64_t> indices;
    for (std::size_t i = 0; i < members.size(); ++i) {
        index.pictures.push_back(picture("/m" + std::to_string(i)));
        ImageFeatures features = measured(i);
        features.sharpness = members[i].sharpness;
        features.meanLuma = members[i].meanLuma;
        features.clipped = members[i].clipped;
        features.qualityScore = members[i].score;
        index.features.push_back(features);
        indices.push_back(static_cast<std::int64_t>(i));
    }
    return {makeGroup(index.pictures, indices, kind, std::nullopt), index};
}

TEST(QualityHints, SharpestOnlyWhenClearlySo) {
    const auto [clear, clearIndex] = groupOf({{3.0}, {2.0}});
    EXPECT_EQ(QualityHints::hints(clear, clearIndex),
              (std::map<std::string, std::string>{{"/m0", "Sharpest of the group (1.5\u00d7 the next by edge contrast)"}}));
    const auto [close, closeIndex] = groupOf({{2.9}, {2.0}});
    EXPECT_TRUE(QualityHints::hints(close, closeIndex).empty());
}

TEST(QualityHints, ExposureAgainstTheTypicalMember) {
    const auto [group, index] = groupOf({{1, 0.50}, {1, 0.52}, {1, 0.70}});
    EXPECT_EQ(QualityHints::hints(group, index), (std::map<std::string, std::string>{{"/m2", "Brighter than the others"}}));
    const auto [dark, darkIndex] = groupOf({{1, 0.50}, {1, 0.30}, {1, 0.52}});
    EXPECT_EQ(QualityHints::hints(dark, darkIndex), (std::map<std::string, std::string>{{"/m1", "Darker than the others"}}));
}

TEST(QualityHints, OneHintEachSharpnessFirst) {
    const auto [clipping, clippingIndex] = groupOf({{1, 0.5, 0.01}, {1, 0.5, 0.15}});
    EXPECT_EQ(QualityHints::hints(clipping, clippingIndex),
              (std::map<std::string, std::string>{{"/m1", "15% of it is pure black or white"}}));
    const auto [both, bothIndex] = groupOf({{4.0, 0.9}, {1.0, 0.5}, {1.0, 0.5}});
    EXPECT_EQ(QualityHints::hints(both, bothIndex).at("/m0"), "Sharpest of the group (4.0\u00d7 the next by edge contrast)");
    EXPECT_EQ(QualityHints::hints(both, bothIndex).size(), 1u);
}

TEST(QualityHints, NothingWhenAMemberIsUnmeasured) {
    auto [group, index] = groupOf({{3.0}, {1.0}});
    index.features[1].reset();
    EXPECT_TRUE(QualityHints::hints(group, index).empty());
}

TEST(QualityHints, ScoresAreAllOrNothingAndNeverForIdenticalCopies) {
    const auto [scored, scoredIndex] = groupOf({{1, 0.5, 0, 70}, {1, 0.5, 0, 40}});
    EXPECT_EQ(QualityHints::scores(scored, scoredIndex), (std::map<std::string, std::int64_t>{{"/m0", 70}, {"/m1", 40}}));
    const auto [partly, partlyIndex] = groupOf({{1, 0.5, 0, 70}, {1, 0.5, 0, std::nullopt}});
    EXPECT_TRUE(QualityHints::scores(partly, partlyIndex).empty());
    const auto [identical, identicalIndex] = groupOf({{1, 0.5, 0, 70}, {1, 0.5, 0, 40}}, MatchKind::identical);
    EXPECT_TRUE(QualityHints::scores(identical, identicalIndex).empty());
    EXPECT_TRUE(QualityHints::faceNotes(identical, identicalIndex).empty());
}

TEST(QualityHints, FaceNotesComeFromComparableReadings) {
    auto [group, index] = groupOf({{}, {}});
    index.features[0]->faces = FaceReading{1, 1, 0, 1};
    index.features[1]->faces = FaceReading{1, 0, 0, 1};
    EXPECT_EQ(QualityHints::faceNotes(group, index),
              (std::map<std::string, std::string>{{"/m0", "Eyes closed or looking down"}, {"/m1", "Eyes open"}}));
    index.features[1]->faces.reset();
    EXPECT_TRUE(QualityHints::faceNotes(group, index).empty());
}

} // namespace
} // namespace vp
