// The quality points and the face verdicts and notes, on given values.
#include "engine/similarity/FaceCheck.h"
#include "engine/similarity/QualityScore.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vp {
namespace {

struct PointsCase {
    float raw;
    std::int64_t points;
};

class QualityPoints : public ::testing::TestWithParam<PointsCase> {};

TEST_P(QualityPoints, MapMinusOneToOneOntoZeroToHundred) {
    EXPECT_EQ(QualityScore::points(GetParam().raw), GetParam().points) << GetParam().raw;
}

INSTANTIATE_TEST_SUITE_P(Table, QualityPoints,
                         ::testing::Values(PointsCase{-5, 0}, PointsCase{-1, 0}, PointsCase{-0.5f, 25},
                                           PointsCase{0, 50}, PointsCase{0.25f, 63}, // 62.5 rounds away from 0
                                           PointsCase{1, 100}, PointsCase{3, 100}, PointsCase{NAN, 0}));

TEST(QualityPoints, BrisqueBestIsOneAndWorstIsMinusOne) {
    EXPECT_EQ(QualityScore::rawFromBrisque(0), 1.0f);
    EXPECT_EQ(QualityScore::rawFromBrisque(50), 0.0f);
    EXPECT_EQ(QualityScore::rawFromBrisque(100), -1.0f);
    EXPECT_EQ(QualityScore::points(QualityScore::rawFromBrisque(20)), 80);
}

std::optional<FaceReading> read(std::int64_t faces, std::int64_t eyesClosed, std::int64_t smiling) {
    return FaceReading{faces, eyesClosed, smiling, FaceCheck::revision};
}

struct VerdictCase {
    std::optional<FaceReading> a, b;
    int eyes, smiles;
};

class FaceVerdicts : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(FaceVerdicts, PreferFewerClosedEyesAndMoreSmilesOnlyBetweenLikeReadings) {
    const VerdictCase& c = GetParam();
    EXPECT_EQ(FaceCheck::compareEyes(c.a, c.b), c.eyes);
    EXPECT_EQ(FaceCheck::compareSmiles(c.a, c.b), c.smiles);
}

INSTANTIATE_TEST_SUITE_P(Table, FaceVerdicts,
                         ::testing::Values(VerdictCase{read(2, 0, 2), read(2, 1, 1), -1, -1},
                                           VerdictCase{read(2, 2, 0), read(2, 1, 1), 1, 1},
                                           VerdictCase{read(1, 0, 0), read(1, 0, 0), 0, 0},
                                           VerdictCase{read(1, 0, 1), read(2, 1, 0), 0, 0}, // face counts differ
                                           VerdictCase{read(0, 0, 0), read(0, 0, 0), 0, 0},
                                           VerdictCase{read(1, 1, 0), std::nullopt, 0, 0},
                                           VerdictCase{std::nullopt, read(1, 1, 0), 0, 0}));

using Readings = std::map<std::string, std::optional<FaceReading>>;
using Notes = std::map<std::string, std::string>;

TEST(FaceNotes, OneFaceWithEyesClosedAgainstOneWithEyesOpen) {
    EXPECT_EQ(FaceCheck::notes(Readings{{"/a.jpg", read(1, 1, 0)}, {"/b.jpg", read(1, 0, 0)}}),
              (Notes{{"/a.jpg", "Eyes closed or looking down"}, {"/b.jpg", "Eyes open"}}));
}

TEST(FaceNotes, SeveralFacesCountClosedEyesAndSmiles) {
    EXPECT_EQ(FaceCheck::notes(Readings{{"/a", read(3, 2, 1)}, {"/b", read(3, 0, 3)}, {"/c", read(3, 0, 0)}}),
              (Notes{{"/a", "2 of 3 with eyes closed or looking down \u00B7 1 of 3 smiling"},
                     {"/b", "All eyes open \u00B7 3 of 3 smiling"},
                     {"/c", "All eyes open"}}));
}

TEST(FaceNotes, OnlySmilesDifferSoOnlyTheSmilerGetsANote) {
    EXPECT_EQ(FaceCheck::notes(Readings{{"/a", read(1, 1, 1)}, {"/b", read(1, 1, 0)}}), (Notes{{"/a", "Smiling"}}));
}

TEST(FaceNotes, NoNotesUnlessEveryPictureIsComparable) {
    EXPECT_TRUE(FaceCheck::notes(Readings{{"/a", read(1, 1, 0)}, {"/b", read(2, 0, 0)}}).empty());
    EXPECT_TRUE(FaceCheck::notes(Readings{{"/a", read(1, 1, 0)}, {"/b", std::nullopt}}).empty());
    EXPECT_TRUE(FaceCheck::notes(Readings{{"/a", read(1, 1, 0)}}).empty());
    EXPECT_TRUE(FaceCheck::notes(Readings{{"/a", read(0, 0, 0)}, {"/b", read(0, 0, 0)}}).empty());
    EXPECT_TRUE(FaceCheck::notes(Readings{{"/a", read(2, 1, 1)}, {"/b", read(2, 1, 1)}}).empty());
}

} // namespace
} // namespace vp
