#include "GroupingFixtures.h"

#include "engine/similarity/FaceCheck.h"
#include "engine/similarity/QualityScore.h"
#include "engine/similarity/SimilarityMatcher.h"

#include "tests/support/TempDir.h"

#include <atomic>
#include <bit>
#include <gtest/gtest.h>
#include <random>
#include <set>

namespace vp {
namespace {

using testing::measured;
using testing::picture;
using SimilarityMatcher::CandidatePair;

} // namespace
namespace SimilarityMatcher {
void PrintTo(const CandidatePair& pair, std::ostream* out) {
    *out << "(" << pair.first << ", " << pair.second << (pair.isTimeNeighbour ? ", time)" : ")");
}
} // namespace SimilarityMatcher
namespace {

std::vector<PhotoAsset> pictures(std::size_t count, const std::string& folder = "/p") {
    std::vector<PhotoAsset> result;
    for (std::size_t i = 0; i < count; ++i) result.push_back(picture(folder + "/" + std::to_string(i) + ".jpg"));
    return result;
}

TEST(CandidatePairs, PicturesThatShareNoByteAreNeverProposed) {
    // Eight bits apart, but every byte differs in every turn.
    const std::vector<std::optional<ImageFeatures>> features{measured(0), measured(0x0101010101010101ULL)};
    EXPECT_TRUE(SimilarityMatcher::candidatePairs(features, pictures(2), false).empty());

    // One shared byte is enough.
    const std::vector<std::optional<ImageFeatures>> sharing{measured(0), measured(0x0101010101010100ULL)};
    EXPECT_EQ(SimilarityMatcher::candidatePairs(sharing, pictures(2), false),
              (std::vector<CandidatePair>{{0, 1, false}}));
}

TEST(CandidatePairs, AQuarterTurnedCopyIsFoundThroughItsTurnedHash) {
    // b is a turned once: its upright hash is a's hash for one turn, and three more turns bring it back.
    const std::array<std::uint64_t, 4> a{0x1111111111111111ULL, 0x2222222222222222ULL, 0x3333333333333333ULL,
                                         0x4444444444444444ULL};
    const std::array<std::uint64_t, 4> b{a[1], a[2], a[3], a[0]};
    const std::vector<std::optional<ImageFeatures>> features{measured(a, {}, 400, 300), measured(b, {}, 300, 400)};
    const auto candidates = SimilarityMatcher::candidatePairs(features, pictures(2), true);
    ASSERT_EQ(candidates, (std::vector<CandidatePair>{{0, 1, false}}));
    const auto pair = SimilarityMatcher::evaluate(candidates[0], *features[0], *features[1], {}, {});
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->distance, 0.0f);
    EXPECT_TRUE(pair->shapesAgree); // 300 × 400 turned three times is 400 × 300 again
}

TEST(CandidatePairs, ShotsWithinAMinuteInOneFolderAreComparedWhateverTheirHashes) {
    const std::uint64_t far = 0x3fffffff3fffffffULL; // 60 bits from 0, no shared byte: never a band match
    std::vector<std::optional<ImageFeatures>> features{measured(0, 0.0), measured(far, 50.0), measured(0, 130.0),
                                                       measured(0x8080808080808080ULL, 185.0)};
    auto shots = pictures(3, "/burst");
    shots.push_back(picture("/elsewhere/3.jpg"));
    EXPECT_EQ(SimilarityMatcher::candidatePairs(features, shots, true),
              (std::vector<CandidatePair>{{0, 1, true}, {0, 2, false}}));
    EXPECT_EQ(SimilarityMatcher::candidatePairs(features, shots, false), (std::vector<CandidatePair>{{0, 2, false}}));
}

TEST(CandidatePairs, TimeNeighboursKeepPairsUpToTheSeriesDistance) {
    const ImageFeatures a = measured(0, 0.0);
    const ImageFeatures thirty = measured((1ULL << 30) - 1, 50.0);
    EXPECT_TRUE(SimilarityMatcher::evaluate({0, 1, true}, a, thirty, {}, {}));
    EXPECT_FALSE(SimilarityMatcher::evaluate({0, 1, false}, a, thirty, {}, {}));
    const ImageFeatures thirtyFive = measured((1ULL << 35) - 1, 50.0);
    EXPECT_FALSE(SimilarityMatcher::evaluate({0, 1, true}, a, thirtyFive, {}, {}));
}

// The band index must find exactly the pairs its definition names: checked against a plain
// comparison of every pair on random hashes with planted near copies.
TEST(CandidatePairs, TheBandIndexFindsExactlyWhatAnExhaustiveSearchFinds) {
    std::mt19937_64 random(42);
    std::vector<std::optional<ImageFeatures>> features;
    for (int i = 0; i < 400; ++i) {
        std::array<std::uint64_t, 4> turns{random(), random(), random(), random()};
        if (i % 3 == 1) { // a near copy of the previous picture, some bits flipped
            turns = features.back()->hashes.size() == 4
                        ? std::array<std::uint64_t, 4>{features.back()->hashes[0], features.back()->hashes[1],
                                                       features.back()->hashes[2], features.back()->hashes[3]}
                        : turns;
            for (auto& turn : turns) turn ^= (random() & random() & random());
        }
        features.push_back(i % 37 == 5 ? std::nullopt : std::optional<ImageFeatures>(measured(turns)));
    }
    std::set<std::pair<std::int64_t, std::int64_t>> expected;
    const auto sharesAByte = [](std::uint64_t x, std::uint64_t y) {
        for (int b = 0; b < 8; ++b)
            if (((x >> (8 * b)) & 0xff) == ((y >> (8 * b)) & 0xff)) return true;
        return false;
    };
    for (std::size_t i = 0; i < features.size(); ++i) {
        for (std::size_t j = 0; j < features.size(); ++j) {
            if (i == j || !features[i] || !features[j]) continue;
            const auto& hi = features[i]->hashes;
            const auto& hj = features[j]->hashes;
            bool listed = false;
            int least = 64;
            for (int k = 0; k < 4; ++k) {
                listed = listed || sharesAByte(hj[0], hi[k]);
                least = std::min(least, std::popcount(hi[0] ^ hj[k]));
            }
            if (listed && least <= 20) expected.insert({std::min(i, j), std::max(i, j)});
        }
    }
    std::vector<CandidatePair> wanted;
    for (const auto& [first, second] : expected) wanted.push_back({first, second, false});
    EXPECT_GT(wanted.size(), 100u);
    EXPECT_EQ(SimilarityMatcher::candidatePairs(features, pictures(features.size()), false), wanted);
}

class MatcherWithCache : public ::testing::Test {
protected:
    testing::TempDir dir;
    std::string cachePath = dir / "data/features.plist";
    std::vector<PhotoAsset> shots{picture("/p/a.jpg"), picture("/p/b.jpg"), picture("/p/c.jpg")};
    std::atomic<int> reads{0};
    CancellationFlag cancel;

    SimilarityMatcher::FeatureReader reader(std::function<void()> during = nullptr) {
        return [this, during](const PhotoAsset& asset) -> std::optional<ImageFeatures> {
            ++reads;
            if (during) during();
            if (asset.path == "/p/c.jpg") return std::nullopt; // cannot be measured
            ImageFeatures features = measured(asset.path == "/p/a.jpg" ? 0 : 3);
            features.qualityScore = 70;
            features.qualityRevision = QualityScore::revision;
            return features;
        };
    }
};

TEST_F(MatcherWithCache, ASecondIndexReadsNothingAgain) {
    FeatureCache cache(cachePath);
    const auto first = SimilarityMatcher::index(shots, &cache, WithFeaturePrint::no, reader(), cancel, nullptr);
    ASSERT_TRUE(first);
    EXPECT_EQ(reads, 3);
    EXPECT_EQ(first->unmeasured, std::vector<std::string>{"/p/c.jpg"});
    EXPECT_EQ(first->pairs.size(), 1u);
    EXPECT_EQ(first->candidatesProposed, 1);

    FeatureCache reloaded(cachePath);
    EXPECT_EQ(reloaded.count(), 2u);
    const auto second = SimilarityMatcher::index(shots, &reloaded, WithFeaturePrint::no, reader(), cancel, nullptr);
    EXPECT_EQ(reads, 4); // only the picture that could not be measured is tried again
    EXPECT_EQ(second, first);

    // A feature print is wanted now, and the cached entries have none.
    SimilarityMatcher::index(shots, &reloaded, WithFeaturePrint::yes, reader(), cancel, nullptr);
    EXPECT_EQ(reads, 7);
}

TEST_F(MatcherWithCache, CancellingLeavesNoIndexAndTheFileAsItWas) {
    FeatureCache cache(cachePath);
    const auto stop = SimilarityMatcher::index(shots, &cache, WithFeaturePrint::no, reader([&] { cancel.cancel(); }),
                                               cancel, nullptr);
    EXPECT_FALSE(stop);
    EXPECT_FALSE(std::filesystem::exists(cachePath));
}

TEST_F(MatcherWithCache, FacesAreReadForPairedPicturesOnlyAndCached) {
    FeatureCache cache(cachePath);
    const auto index = SimilarityMatcher::index(shots, &cache, WithFeaturePrint::no, reader(), cancel, nullptr);
    std::vector<std::string> looked;
    const auto readFaces = [&](const PhotoAsset& asset) -> std::optional<FaceReading> {
        looked.push_back(asset.path);
        return FaceReading{1, 0, 1, FaceCheck::revision};
    };
    std::int64_t lastTotal = 0;
    const auto withFaces = SimilarityMatcher::checkFaces(*index, &cache, readFaces, cancel,
                                                         [&](std::int64_t, std::int64_t total) { lastTotal = total; });
    ASSERT_TRUE(withFaces);
    std::sort(looked.begin(), looked.end());
    EXPECT_EQ(looked, (std::vector<std::string>{"/p/a.jpg", "/p/b.jpg"}));
    EXPECT_EQ(lastTotal, 2);
    EXPECT_EQ(withFaces->features[0]->faces, (FaceReading{1, 0, 1, 1}));

    // The readings came back with the measurements: nothing left to read.
    FeatureCache reloaded(cachePath);
    const auto again = SimilarityMatcher::index(shots, &reloaded, WithFeaturePrint::no, reader(), cancel, nullptr);
    looked.clear();
    SimilarityMatcher::checkFaces(*again, &reloaded, readFaces, cancel, nullptr);
    EXPECT_TRUE(looked.empty());
}

} // namespace
} // namespace vp
