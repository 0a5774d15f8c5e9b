#include "PairsByFeaturePrint.h"

#include <algorithm>

namespace vp::PairsByFeaturePrint {
namespace {

/// A one-photo verdict on the hash's scale: a placement explaining every pair is 0 bits, one at
/// the verdict's least share lands on the balanced limit, so every such pair is within it.
float inBits(const PrintMatch& match) {
    const double leftOut = std::min<double>(FeatureExtractor::printDistance(match), 1 - FeatureExtractor::scatteredShare);
    return static_cast<float>(SimilarityThresholds::balanced * leftOut / (1 - FeatureExtractor::scatteredShare));
}

} // namespace

std::optional<PrintMatch> match(const ImageFeatures& a, const ImageFeatures& b) {
    if (!a.featurePrint || !b.featurePrint) return std::nullopt;
    const auto printA = FeatureExtractor::observation(*a.featurePrint);
    const auto printB = FeatureExtractor::observation(*b.featurePrint);
    if (!printA || !printB) return std::nullopt;
    return FeatureExtractor::matchPrints(*printA, *printB);
}

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

} // namespace vp::PairsByFeaturePrint
