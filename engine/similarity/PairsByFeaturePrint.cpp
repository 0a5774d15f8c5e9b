#include "PairsByFeaturePrint.h"

#include "engine/scan/ParallelMap.h"

#include <algorithm>

namespace vp::PairsByFeaturePrint {
namespace {

std::optional<PrintMatch> matchOf(const ImageFeatures& a, const ImageFeatures& b) {
    if (!a.featurePrint || !b.featurePrint) return std::nullopt;
    const auto printA = FeatureExtractor::observation(*a.featurePrint);
    const auto printB = FeatureExtractor::observation(*b.featurePrint);
    if (!printA || !printB) return std::nullopt;
    return FeatureExtractor::matchPrints(*printA, *printB);
}

/// A one-photo verdict on the hash's scale: a placement explaining every pair is 0 bits, one at
/// the verdict's least share lands on the balanced limit, so every such pair is within it.
float inBits(const PrintMatch& match) {
    const double leftOut = std::min<double>(FeatureExtractor::printDistance(match), 1 - FeatureExtractor::scatteredShare);
    return static_cast<float>(SimilarityThresholds::balanced * leftOut / (1 - FeatureExtractor::scatteredShare));
}

} // namespace

SimilarPair judged(SimilarPair pair, const PrintMatch& match) {
    pair.vision = FeatureExtractor::printDistance(match);
    switch (FeatureExtractor::verdict(match)) {
    case FeatureExtractor::PrintVerdict::samePhoto: pair.distance = std::min(pair.distance, inBits(match)); break;
    case FeatureExtractor::PrintVerdict::differentShots:
        pair.distance = std::max(pair.distance, differentShotsDistance);
        break;
    case FeatureExtractor::PrintVerdict::undecided: break;
    }
    return pair;
}

std::optional<SimilarPair> fromPrints(std::int64_t first, std::int64_t second, const ImageFeatures& a,
                                      const ImageFeatures& b, const PrintMatch& match) {
    if (FeatureExtractor::verdict(match) != FeatureExtractor::PrintVerdict::samePhoto) return std::nullopt;
    SimilarPair pair;
    pair.a = first;
    pair.b = second;
    pair.distance = inBits(match);
    pair.detail = FeatureExtractor::detailDistance(a, b);
    pair.shapesAgree = FeatureExtractor::shapesAgree(a, b, match.turn);
    pair.vision = FeatureExtractor::printDistance(match);
    return pair;
}

std::optional<std::vector<SimilarPair>> withPrints(std::vector<SimilarPair> pairs,
                                                   const std::vector<std::pair<std::uint32_t, std::uint32_t>>& proposed,
                                                   const std::vector<std::optional<ImageFeatures>>& features,
                                                   const CancellationFlag& cancel) {
    // Pairs recorded for bursts alone (further than any candidate) are left to the hashes.
    const auto worthJudging = [](const SimilarPair& pair) {
        return pair.distance <= static_cast<float>(SimilarityThresholds::candidateHamming);
    };
    ExactMatcher::concurrentPerform(pairs.size(), &cancel, [&](std::size_t k) {
        SimilarPair& pair = pairs[k];
        if (!worthJudging(pair)) return;
        const auto& a = features[static_cast<std::size_t>(pair.a)];
        const auto& b = features[static_cast<std::size_t>(pair.b)];
        if (!a || !b) return;
        if (const auto match = matchOf(*a, *b)) pair = judged(pair, *match);
    });
    if (cancel.isCancelled()) return std::nullopt;

    std::vector<std::pair<std::uint32_t, std::uint32_t>> fresh;
    for (const auto& [first, second] : proposed) {
        const auto known = std::lower_bound(pairs.begin(), pairs.end(), std::pair{first, second},
                                            [](const SimilarPair& pair, const std::pair<std::uint32_t, std::uint32_t>& p) {
                                                return pair.a != p.first ? pair.a < p.first : pair.b < p.second;
                                            });
        if (known == pairs.end() || known->a != first || known->b != second) fresh.emplace_back(first, second);
    }
    const auto added = ExactMatcher::parallelMap(fresh, &cancel, [&](const std::pair<std::uint32_t, std::uint32_t>& p) {
        const auto& a = features[p.first];
        const auto& b = features[p.second];
        std::optional<SimilarPair> pair;
        if (a && b)
            if (const auto match = matchOf(*a, *b)) pair = fromPrints(p.first, p.second, *a, *b, *match);
        return pair;
    });
    if (cancel.isCancelled()) return std::nullopt;
    for (const auto& pair : added)
        if (pair && *pair) pairs.push_back(**pair);
    std::sort(pairs.begin(), pairs.end(),
              [](const SimilarPair& x, const SimilarPair& y) { return x.a != y.a ? x.a < y.a : x.b < y.b; });
    return pairs;
}

} // namespace vp::PairsByFeaturePrint
