// The measuring arithmetic on small hand-made grids whose answers are known in advance.
#include "engine/similarity/FeatureExtractor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace vp {
namespace {

using namespace FeatureExtractor;

/// An N×N grid whose low-frequency DCT coefficient [u][v] (unnormalised, as the hashes compute
/// it) is exactly `coefficients[K·u + v]`: the inverse transform, built from the textbook
/// formula rather than from the tables under test.
std::vector<float> gridWithCoefficients(int n, int k, const std::vector<double>& coefficients) {
    const auto basis = [n](int frequency, int position) {
        return std::cos(std::numbers::pi * (2 * position + 1) * frequency / (2.0 * n));
    };
    // Σx basis(u, x)² is n for u = 0 and n / 2 otherwise.
    const auto energy = [n](int frequency) { return frequency == 0 ? n : n / 2.0; };
    std::vector<float> grid(static_cast<std::size_t>(n * n));
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            double value = 0;
            for (int u = 0; u < k; ++u)
                for (int v = 0; v < k; ++v)
                    value += coefficients[static_cast<std::size_t>(k * u + v)] * basis(u, y) * basis(v, x) /
                             (energy(u) * energy(v));
            grid[static_cast<std::size_t>(y * n + x)] = static_cast<float>(value);
        }
    return grid;
}

TEST(PerceptualHash, BitsFollowCoefficientOrderAboveTheMedianWithoutDc) {
    // Coefficients 1..63 take every value from −31 to 31 once, so the median (position 31 of the
    // sorted 63) is 0. The DC term is far above everything: it sets bit 0 without moving the
    // median (had it counted, the median would be −1 and the coefficient 0 would set its bit).
    std::vector<double> coefficients(64);
    std::uint64_t expected = 1;
    for (int i = 1; i < 64; ++i) {
        coefficients[i] = (i * 37) % 64 - 32;
        if (coefficients[i] > 0) expected |= std::uint64_t{1} << i;
    }
    coefficients[0] = 100;
    // Coefficient [u][v] = 8u + v: a transposed transform would give a different hash.
    EXPECT_EQ(phash(gridWithCoefficients(32, 8, coefficients)), expected);
}

TEST(PerceptualHash, DetailHashPacksBitIIntoWordIOver64) {
    std::vector<double> coefficients(256);
    std::array<std::uint64_t, 4> expected{1, 0, 0, 0};
    for (int i = 1; i < 256; ++i) {
        coefficients[i] = (i * 101) % 256 - 128; // −127 to 127 once each: median 0
        if (coefficients[i] > 0) expected[i / 64] |= std::uint64_t{1} << (i % 64);
    }
    coefficients[0] = 1000;
    EXPECT_EQ(detailHash(gridWithCoefficients(64, 16, coefficients)), expected);
}

TEST(PerceptualHash, QuarterTurnIsClockwise) {
    // 0 1 2       6 3 0
    // 3 4 5  -->  7 4 1
    // 6 7 8       8 5 2
    const std::vector<float> grid{0, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(turnedClockwise(grid, 3), (std::vector<float>{6, 3, 0, 7, 4, 1, 8, 5, 2}));
}

TEST(Measure, AllBlackIsFullyClippedFlatAndDark) {
    EXPECT_EQ(measure(std::vector<float>(256 * 256, 0.0f), 256), (Measurement{0, 0, 1}));
}

TEST(Measure, ClippingIncludesBothLimits) {
    // Bytes 2 and 253 are clipped, 3 and 252 are not, exactly as the renditions deliver them.
    const std::vector<float> grid{2 / 255.0f, 3 / 255.0f, 252 / 255.0f, 253 / 255.0f};
    const Measurement result = measure(grid, 2);
    EXPECT_DOUBLE_EQ(result.clipped, 0.5);
    EXPECT_NEAR(result.mean, 510.0 / 255 / 4, 1e-7);
    EXPECT_EQ(result.sharpness, 0); // no interior pixels
}

TEST(Measure, SharpnessIsTheVarianceOfTheLaplacianOverInteriorPixels) {
    // One bright pixel at (1, 1) of a 4×4 grid. Interior Laplacians: 4 there, −1 at its right and
    // lower neighbours, 0 diagonally: mean 0.5, mean square 4.5, variance 4.25. Counting the
    // border, or leaving out the mean, gives another number.
    std::vector<float> grid(16, 0.0f);
    grid[1 * 4 + 1] = 1;
    const Measurement result = measure(grid, 4);
    EXPECT_DOUBLE_EQ(result.sharpness, 4.25);
    EXPECT_DOUBLE_EQ(result.mean, 1.0 / 16);
    EXPECT_DOUBLE_EQ(result.clipped, 1);
}

ImageFeatures withHashes(std::vector<std::uint64_t> hashes, std::vector<std::vector<std::uint64_t>> detail = {}) {
    ImageFeatures features;
    features.hashes = std::move(hashes);
    features.detailHashes = std::move(detail);
    return features;
}

TEST(Comparisons, HashMatchTakesTheLeastDistanceAndTheFirstTurnOfEqualOnes) {
    const auto a = withHashes({0b1111});
    EXPECT_EQ(hashMatch(a, withHashes({0b0000, 0b0111, 0b1110, 0b1111})), (HashMatch{0, 3}));
    EXPECT_EQ(hashMatch(a, withHashes({0b0000, 0b0111, 0b1011, 0b1100})), (HashMatch{1, 1}));
    EXPECT_EQ(hashMatch(a, withHashes({~std::uint64_t{0} << 4})), (HashMatch{64, 0}));
    EXPECT_EQ(hashMatch(a, withHashes({})), (HashMatch{64, 0}));
    // Only a as seen counts: b's turns are tried against a's entry 0, never a's other turns.
    EXPECT_EQ(hashMatch(withHashes({0, 0b1111}), withHashes({0b1111})), (HashMatch{4, 0}));
}

TEST(Comparisons, DetailDistanceSumsSharedWordsAndTakesTheLeastTurn) {
    const auto a = withHashes({}, {{0b1, 0b11, 0b111, 0}});
    EXPECT_EQ(detailDistance(a, withHashes({}, {{0, 0, 0, 0}, {0b1, 0b11, 0b110, 0}})), 1);
    EXPECT_EQ(detailDistance(a, withHashes({}, {{0, 0}})), 3); // only the two words both have
    EXPECT_EQ(detailDistance(withHashes({}, {}), a), 256);
}

struct ShapeCase {
    std::int64_t widthA, heightA, widthB, heightB;
    int turn;
    bool agree;
};

class ShapesAgree : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ShapesAgree, ComparesAspectRatiosAfterTheTurn) {
    const ShapeCase& c = GetParam();
    ImageFeatures a, b;
    a.pixelWidth = c.widthA, a.pixelHeight = c.heightA, b.pixelWidth = c.widthB, b.pixelHeight = c.heightB;
    EXPECT_EQ(shapesAgree(a, b, c.turn), c.agree);
}

INSTANTIATE_TEST_SUITE_P(Table, ShapesAgree,
                         ::testing::Values(ShapeCase{4000, 3000, 800, 600, 0, true},
                                           ShapeCase{4000, 3000, 600, 800, 1, true},  // turned back upright
                                           ShapeCase{4000, 3000, 600, 800, 0, false}, // 4:3 against 3:4
                                           ShapeCase{4000, 3000, 600, 800, 3, true},
                                           ShapeCase{4000, 3000, 1920, 1080, 0, true}, // 4:3, 16:9: 1.333
                                           ShapeCase{4000, 3000, 2000, 1000, 0, false}, // 4:3 against 2:1
                                           ShapeCase{135, 100, 100, 100, 0, true},      // exactly 1.35
                                           ShapeCase{136, 100, 100, 100, 0, false},
                                           ShapeCase{100, 100, 100, 136, 2, false}, // even turns keep b
                                           ShapeCase{100, 0, 100, 100, 0, false},
                                           ShapeCase{100, 100, 0, 100, 0, false},
                                           ShapeCase{0, 100, 100, 100, 0, false}));

struct DateCase {
    std::string text;
    std::optional<std::int64_t> secondsSince1970;
};

class CaptureDate : public ::testing::TestWithParam<DateCase> {
protected:
    // A zone far from GMT, with summer time, so that a local-time reading cannot pass by luck.
    void SetUp() override {
        const char* old = std::getenv("TZ");
        m_oldZone = old ? std::optional<std::string>(old) : std::nullopt;
        setenv("TZ", "Pacific/Auckland", 1);
        tzset();
    }
    void TearDown() override {
        if (m_oldZone)
            setenv("TZ", m_oldZone->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> m_oldZone;
};

TEST_P(CaptureDate, IsTheWallClockTimeAtGmt) {
    const auto date = captureDate(GetParam().text);
    ASSERT_EQ(date.has_value(), GetParam().secondsSince1970.has_value()) << GetParam().text;
    if (date) {
        EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(date->time_since_epoch()).count(),
                  *GetParam().secondsSince1970);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CaptureDate,
                         ::testing::Values(DateCase{"2021:07:04 18:30:05", 1625423405},
                                           DateCase{std::string("2021:07:04 18:30:05\0", 20), 1625423405},
                                           DateCase{"2024:02:29 00:00:00", 1709164800}, // leap day
                                           DateCase{"2023:02:29 00:00:00", std::nullopt},
                                           DateCase{"0000:00:00 00:00:00", std::nullopt}, // no clock set
                                           DateCase{"2021:07:04 24:00:00", std::nullopt},
                                           DateCase{"2021-07-04 18:30:05", std::nullopt},
                                           DateCase{"2021:07:04 18:30", std::nullopt},
                                           DateCase{"2021:07:04 18:30:05+02:00", std::nullopt},
                                           DateCase{"", std::nullopt}));

} // namespace
} // namespace vp
