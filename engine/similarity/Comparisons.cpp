// The pure comparisons the similarity index and matcher apply to two measured pictures.
#include "FeatureExtractor.h"

#include <algorithm>
#include <bit>

namespace vp::FeatureExtractor {

HashMatch hashMatch(const ImageFeatures& a, const ImageFeatures& b) {
    HashMatch best;
    if (a.hashes.empty()) return best;
    bool found = false;
    for (std::size_t turn = 0; turn < b.hashes.size(); ++turn) {
        const int distance = std::popcount(a.hashes[0] ^ b.hashes[turn]);
        if (!found || distance < best.distance) best = {distance, static_cast<int>(turn)};
        found = true;
    }
    return best;
}

int detailDistance(const ImageFeatures& a, const ImageFeatures& b) {
    if (a.detailHashes.empty()) return 256;
    const auto& seen = a.detailHashes[0];
    int best = 256;
    for (const auto& other : b.detailHashes) {
        int distance = 0;
        const std::size_t words = std::min(seen.size(), other.size());
        for (std::size_t word = 0; word < words; ++word) distance += std::popcount(seen[word] ^ other[word]);
        best = std::min(best, distance);
    }
    return best;
}

bool shapesAgree(const ImageFeatures& a, const ImageFeatures& b, int turn) {
    if (a.pixelHeight < 1 || b.pixelHeight < 1 || b.pixelWidth < 1) return false;
    double widthB = static_cast<double>(b.pixelWidth);
    double heightB = static_cast<double>(b.pixelHeight);
    if (turn % 2 != 0) std::swap(widthB, heightB);
    const double ratioA = static_cast<double>(a.pixelWidth) / static_cast<double>(a.pixelHeight);
    const double ratioB = widthB / heightB;
    // A zero-width a gives an infinite quotient, which never agrees.
    return std::max(ratioA, ratioB) / std::min(ratioA, ratioB) <= 1.35;
}

} // namespace vp::FeatureExtractor
