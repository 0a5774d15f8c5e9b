// The pure comparisons the similarity index and matcher apply to two measured pictures.
#include "FeatureExtractor.h"

#include <algorithm>
#include <bit>

namespace vp::FeatureExtractor {

namespace {

// One implementation for both records: ImageFeatures and HashSketch read alike.

template <class Record>
[[gnu::always_inline]] inline HashMatch hashMatchOf(const Record& a, const Record& b) {
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

template <class Record>
[[gnu::always_inline]] inline int detailDistanceOf(const Record& a, const Record& b) {
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

template <class Record>
[[gnu::always_inline]] inline bool shapesAgreeOf(const Record& a, const Record& b, int turn) {
    if (a.pixelHeight < 1 || b.pixelHeight < 1 || b.pixelWidth < 1) return false;
    double widthB = static_cast<double>(b.pixelWidth);
    double heightB = static_cast<double>(b.pixelHeight);
    if (turn % 2 != 0) std::swap(widthB, heightB);
    const double ratioA = static_cast<double>(a.pixelWidth) / static_cast<double>(a.pixelHeight);
    const double ratioB = widthB / heightB;
    // A zero-width a gives an infinite quotient, which never agrees.
    return std::max(ratioA, ratioB) / std::min(ratioA, ratioB) <= 1.35;
}

} // namespace

HashMatch hashMatch(const ImageFeatures& a, const ImageFeatures& b) { return hashMatchOf(a, b); }
int detailDistance(const ImageFeatures& a, const ImageFeatures& b) { return detailDistanceOf(a, b); }
bool shapesAgree(const ImageFeatures& a, const ImageFeatures& b, int turn) { return shapesAgreeOf(a, b, turn); }

// The sketches are compared millions of times: with the processor's population-count
// instruction where it has one.
#if defined(__x86_64__) && defined(__GNUC__)
#define VP_WITH_POPCOUNT [[gnu::target_clones("popcnt", "default")]]
#else
#define VP_WITH_POPCOUNT
#endif

VP_WITH_POPCOUNT HashMatch hashMatch(const HashSketch& a, const HashSketch& b) { return hashMatchOf(a, b); }
VP_WITH_POPCOUNT int detailDistance(const HashSketch& a, const HashSketch& b) { return detailDistanceOf(a, b); }
bool shapesAgree(const HashSketch& a, const HashSketch& b, int turn) { return shapesAgreeOf(a, b, turn); }

} // namespace vp::FeatureExtractor
