#include "GroupingFixtures.h"

#include "engine/scan/ExactMatcher.h"
#include "engine/similarity/BandIndex.h"
#include "engine/similarity/FaceCheck.h"
#include "engine/similarity/FeatureNeighbours.h"
#include "engine/similarity/PairsByFeaturePrint.h"
#include "engine/similarity/QualityScore.h"
#include "engine/similarity/SimilarityMatcher.h"

#include "tests/support/TempDir.h"

#include <atomic>
#include <bit>
#include <gtest/gtest.h>
#include <map>
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

// The band index must find exactly the pairs its definition names, once each, whichever
// comparison loop runs: checked against a plain comparison of every pair. Uniform hashes leave
// the bands thin; hashes made of a few byte values crowd them, so that near pairs share many
// positions and are met in many bands.
struct RandomIndex {
    std::vector<std::optional<ImageFeatures>> features;
    std::vector<PhotoAsset> pictures;
};

RandomIndex randomIndex(bool crowded, unsigned seed) {
    std::mt19937_64 random(seed);
    const auto hash = [&] {
        if (!crowded) return random();
        std::uint64_t h = 0;
        for (int b = 0; b < 8; ++b) h = h << 8 | (random() % 3 == 0 ? 0x5a : random() % 4);
        return h;
    };
    RandomIndex index;
    for (int i = 0; i < 600; ++i) {
        std::array<std::uint64_t, 4> turns{hash(), hash(), hash(), hash()};
        if (i % 3 == 1 && index.features.back()) { // a near copy of the one before, some bits flipped
            const auto& before = index.features.back()->hashes;
            std::copy_n(before.begin(), std::min<std::size_t>(before.size(), 4), turns.begin());
            for (auto& turn : turns) turn ^= (random() & random() & random());
        }
        if (i % 7 == 2) turns = {turns[1], turns[2], turns[3], turns[0]}; // turned a quarter
        // Dates a few seconds to a few minutes apart, in three folders.
        ImageFeatures f = measured(turns, i % 11 == 0 ? std::nullopt : std::optional<double>(double(random() % 4000)));
        if (i % 13 == 4) f.hashes.resize(1); // only the upright hash
        if (i % 17 == 6) f.hashes.push_back(hash()); // a record with a fifth hash compares on its records
        index.features.push_back(i % 37 == 5 ? std::nullopt : std::optional<ImageFeatures>(f));
        index.pictures.push_back(picture("/f" + std::to_string(random() % 3) + "/" + std::to_string(i) + ".jpg"));
    }
    return index;
}

struct Expected {
    std::vector<CandidatePair> candidates;
    std::vector<BandIndex::Proposal> byBands;
};

Expected everyPairCompared(const RandomIndex& index) {
    const auto sharesAByte = [](std::uint64_t x, std::uint64_t y) {
        for (int b = 0; b < 8; ++b)
            if (((x >> (8 * b)) & 0xff) == ((y >> (8 * b)) & 0xff)) return true;
        return false;
    };
    const auto turn = [](const ImageFeatures& f, std::size_t k) { return f.hashes[k < f.hashes.size() && k < 4 ? k : 0]; };
    std::map<std::pair<std::int64_t, std::int64_t>, std::pair<bool, bool>> found; // pair → (by bands, time neighbour)
    const auto& features = index.features;
    for (std::size_t i = 0; i < features.size(); ++i) {
        for (std::size_t j = 0; j < features.size(); ++j) {
            if (i == j || !features[i] || !features[j]) continue;
            bool listed = false;
            int least = 64;
            for (std::size_t k = 0; k < 4; ++k) {
                listed = listed || sharesAByte(turn(*features[j], 0), turn(*features[i], k));
                least = std::min(least, std::popcount(turn(*features[i], 0) ^ turn(*features[j], k)));
            }
            const std::pair<std::int64_t, std::int64_t> key{std::min(i, j), std::max(i, j)};
            if (listed && least <= 20) found[key].first = true;
            const auto& a = features[i]->captureDate;
            const auto& b = features[j]->captureDate;
            if (a && b && index.pictures[i].folder() == index.pictures[j].folder() &&
                std::chrono::abs(*a - *b) <= std::chrono::seconds(60))
                found[key].second = true;
        }
    }
    Expected expected;
    for (const auto& [pair, how] : found) {
        expected.candidates.push_back({pair.first, pair.second, how.second});
        if (how.first) expected.byBands.push_back(static_cast<std::uint64_t>(pair.first) << 32 | static_cast<std::uint64_t>(pair.second));
    }
    return expected;
}

class ExhaustiveSearch : public ::testing::TestWithParam<bool> {};

TEST_P(ExhaustiveSearch, TheBandIndexAndTheTimeNeighboursFindExactlyWhatItFinds) {
    const RandomIndex index = randomIndex(GetParam(), 42);
    const Expected expected = everyPairCompared(index);
    EXPECT_GT(expected.byBands.size(), 200u);
    EXPECT_GT(std::count_if(expected.candidates.begin(), expected.candidates.end(), [](const auto& c) { return c.isTimeNeighbour; }), 100);
    EXPECT_EQ(SimilarityMatcher::candidatePairs(index.features, index.pictures, true), expected.candidates);

    std::vector<BandIndex::Member> members;
    for (std::size_t i = 0; i < index.features.size(); ++i)
        if (index.features[i]) {
            const auto& h = index.features[i]->hashes;
            const auto turn = [&](std::size_t k) { return h[k < h.size() ? k : 0]; };
            members.push_back({static_cast<std::uint32_t>(i), {turn(0), turn(1), turn(2), turn(3)}});
        }
    for (const auto instructions : BandIndex::supportedInstructions()) {
        SCOPED_TRACE(static_cast<int>(instructions));
        EXPECT_EQ(BandIndex::proposals(members, 20, nullptr, 0, instructions), expected.byBands);
    }
}

INSTANTIATE_TEST_SUITE_P(Hashes, ExhaustiveSearch, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "crowded" : "uniform"; });

// The index evaluates every candidate, from its compact sketches where the records fit them and
// from the records where they do not, and keeps in candidate order the pairs a grouping can read.
/// What evaluating every candidate one by one, in candidate order, keeps, and records when
/// `readableOnly`.
std::vector<SimilarPair> evaluatedOneByOne(const std::vector<std::optional<ImageFeatures>>& features,
                                           const std::vector<SimilarityMatcher::CandidatePair>& candidates,
                                           bool readableOnly = true) {
    std::vector<SimilarPair> kept;
    for (const auto& candidate : candidates) {
        const auto& a = features[static_cast<std::size_t>(candidate.first)];
        const auto& b = features[static_cast<std::size_t>(candidate.second)];
        if (a && b)
            if (auto pair = SimilarityMatcher::evaluate(candidate, *a, *b, {}, {});
                pair && (!readableOnly || SimilarityMatcher::recorded(*pair, candidate.isTimeNeighbour)))
                kept.push_back(*pair);
    }
    return kept;
}

TEST(MatcherCompare, KeepsWhatEvaluatingEachCandidateKeepsInCandidateOrder) {
    const RandomIndex index = randomIndex(true, 7);
    const auto candidates = SimilarityMatcher::candidatePairs(index.features, index.pictures, true);
    const auto expected = evaluatedOneByOne(index.features, candidates);
    CancellationFlag cancel;
    const auto compared = SimilarityMatcher::compare(index.pictures, index.features, WithFeaturePrint::no, cancel);
    ASSERT_TRUE(compared);
    EXPECT_GT(expected.size(), 300u);
    EXPECT_LT(expected.size(), evaluatedOneByOne(index.features, candidates, false).size());
    EXPECT_EQ(compared->pairs, expected);
    EXPECT_EQ(compared->candidatesProposed, static_cast<std::int64_t>(candidates.size()));
}

TEST(MatcherCompare, RecordsOnlyThePairsAGroupingCanRead) {
    // 0-1: 18 bits apart, shot an hour apart: proposed and evaluated, but beyond every preset and
    // no burst, so not recorded. 2-3: 30 bits apart, a second apart in one folder: recorded for
    // series. 4-5: 16 bits, as far as the broadest preset reaches. 6-7: 10 bits but one is
    // upright and the other not: no preset accepts differing shapes.
    // Each pair's hashes share no byte with another pair's, so only the four pairs are proposed.
    const auto base = [](std::uint64_t byte) { return 0x0101010101010101ULL * byte; };
    const auto flipped = [](std::uint64_t hash, int bits) { return hash ^ ((1ULL << bits) - 1); };
    std::vector<std::optional<ImageFeatures>> features{
        measured(base(0x10), 0.0),       measured(flipped(base(0x10), 18), 3600.0),
        measured(base(0x21), 7200.0),    measured(flipped(base(0x21), 30), 7201.0),
        measured(base(0x32), 20000.0),   measured(flipped(base(0x32), 16)),
        measured(base(0x43), 30000.0),   measured({flipped(base(0x43), 10), flipped(base(0x43), 10), flipped(base(0x43), 10),
                                                   flipped(base(0x43), 10)}, std::nullopt, 300, 400)};
    CancellationFlag cancel;
    const auto index = SimilarityMatcher::compare(pictures(features.size()), features, WithFeaturePrint::no, cancel);
    ASSERT_TRUE(index);
    std::vector<std::pair<std::int64_t, std::int64_t>> recorded;
    for (const auto& pair : index->pairs) recorded.emplace_back(pair.a, pair.b);
    EXPECT_EQ(recorded, (std::vector<std::pair<std::int64_t, std::int64_t>>{{2, 3}, {4, 5}}));
    EXPECT_EQ(index->candidatesProposed, 4); // every proposal counts, recorded or not
    EXPECT_EQ(index->series(SimilarityThresholds::seriesWindow, SimilarityThresholds::seriesRelated).size(), 1u);
    EXPECT_EQ(index->groups(SimilarityPreset::broad).size(), 1u);
}

TEST(MatcherCompare, RealPhotosGetTheCandidatesAndPairsOfTheCandidateList) {
    // The sample photos (copies, versions, a burst) and two real bursts, measured from their files.
    CancellationFlag cancel;
    const ScanResult scan = ExactMatcher::scan({VP_SAMPLES_DIR, VP_TEST_DATA_DIR}, true, std::nullopt, {}, cancel, nullptr);
    ASSERT_GE(scan.pictures.size(), 20u);
    const auto index = SimilarityMatcher::index(scan.pictures, nullptr, WithFeaturePrint::no, nullptr, cancel, nullptr);
    ASSERT_TRUE(index);
    const auto candidates = SimilarityMatcher::candidatePairs(index->features, index->pictures, true);
    EXPECT_EQ(index->candidatesProposed, static_cast<std::int64_t>(candidates.size()));
    EXPECT_EQ(index->pairs, evaluatedOneByOne(index->features, candidates));
    EXPECT_GT(index->pairs.size(), 30u);
}

/// Every evaluated pair recorded, as an index did before it kept only what a grouping reads: each
/// candidate's pair judged by the feature prints when within the candidate distance, and the
/// pairs only the prints propose when they show one photo.
std::vector<SimilarPair> everyPairJudged(const SimilarityIndex& index) {
    const auto candidates = SimilarityMatcher::candidatePairs(index.features, index.pictures, true);
    std::set<std::pair<std::int64_t, std::int64_t>> proposed;
    std::vector<SimilarPair> pairs;
    for (auto pair : evaluatedOneByOne(index.features, candidates, false)) {
        const auto& a = *index.features[static_cast<std::size_t>(pair.a)];
        const auto& b = *index.features[static_cast<std::size_t>(pair.b)];
        if (pair.distance <= SimilarityThresholds::candidateHamming)
            if (const auto match = PairsByFeaturePrint::match(a, b)) pair = PairsByFeaturePrint::judged(pair, *match);
        pairs.push_back(pair);
    }
    for (const auto& c : candidates) proposed.emplace(c.first, c.second);
    for (const auto& [first, second] : FeatureNeighbours::proposals(index.features, nullptr)) {
        if (proposed.contains({first, second})) continue;
        const auto& a = *index.features[first];
        const auto& b = *index.features[second];
        if (const auto match = PairsByFeaturePrint::match(a, b))
            if (auto pair = PairsByFeaturePrint::fromPrints(first, second, a, b, *match)) pairs.push_back(*pair);
    }
    std::sort(pairs.begin(), pairs.end(), [](const auto& x, const auto& y) { return std::pair(x.a, x.b) < std::pair(y.a, y.b); });
    return pairs;
}

TEST(MatcherCompare, RecordingOnlyReadablePairsChangesNoGroupOfRealPhotos) {
    // The samples (copies, versions, crops, a burst), other shots of one subject, crops and two
    // real bursts, with their feature prints.
    CancellationFlag cancel;
    const ScanResult scan = ExactMatcher::scan({VP_SAMPLES_DIR, VP_TEST_DATA_DIR}, true, std::nullopt, {}, cancel, nullptr);
    const auto index = SimilarityMatcher::index(scan.pictures, nullptr, WithFeaturePrint::yes, nullptr, cancel, nullptr);
    ASSERT_TRUE(index);
    SimilarityIndex everything = *index;
    everything.pairs = everyPairJudged(*index);
    ASSERT_GT(everything.pairs.size(), index->pairs.size()); // some pairs are not recorded...
    for (const auto& pair : index->pairs) { // ...and those recorded are judged alike
        const auto same = std::find_if(everything.pairs.begin(), everything.pairs.end(),
                                       [&](const SimilarPair& p) { return p.a == pair.a && p.b == pair.b; });
        ASSERT_NE(same, everything.pairs.end());
        EXPECT_EQ(*same, pair);
    }
    for (const auto preset : {SimilarityPreset::conservative, SimilarityPreset::balanced, SimilarityPreset::broad}) {
        EXPECT_EQ(index->groups(preset), everything.groups(preset)) << rawValue(preset);
        EXPECT_FALSE(index->groups(preset).empty());
    }
    const auto series = index->series(SimilarityThresholds::seriesWindow, SimilarityThresholds::seriesRelated);
    EXPECT_EQ(series, everything.series(SimilarityThresholds::seriesWindow, SimilarityThresholds::seriesRelated));
    EXPECT_GE(series.size(), 3u);
}

TEST(MatcherCompare, AnotherProposalSourceAddsOnlyPairsNoOtherSourceProposed) {
    // b shares no byte with a (never a band proposal) though it lies 8 bits away; c is a shot a
    // second after a (a time neighbour); d is a's near copy (a band proposal).
    std::vector<std::optional<ImageFeatures>> features{measured(0, 0.0), measured(0x0101010101010101ULL),
                                                       measured(~0ULL, 1.0), measured(0x3)};
    const auto shots = pictures(4);
    std::int64_t asked = 0;
    const SimilarityMatcher::ProposalSource more = [&](const auto& given, const auto&) {
        asked += static_cast<std::int64_t>(given.size());
        return std::vector<CandidatePair>{{1, 0, false}, {0, 1, false}, {0, 2, false}, {3, 0, false}};
    };
    CancellationFlag cancel;
    const auto without = SimilarityMatcher::compare(shots, features, WithFeaturePrint::no, cancel);
    const auto with = SimilarityMatcher::compare(shots, features, WithFeaturePrint::no, cancel, more);
    ASSERT_TRUE(without && with);
    EXPECT_EQ(asked, 4);
    EXPECT_EQ(with->candidatesProposed, without->candidatesProposed + 1);
    std::vector<std::pair<std::int64_t, std::int64_t>> pairsWith;
    for (const auto& pair : with->pairs) pairsWith.emplace_back(pair.a, pair.b);
    EXPECT_EQ(pairsWith, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 1}, {0, 3}}));
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
