#include "FeatureNeighbours.h"

#include "FeatureExtractor.h"

#include <algorithm>
#include <bit>

namespace vp::FeatureNeighbours {
namespace {

// Two keys per corner, each from bits spread over the whole descriptor: neighbouring bits test
// neighbouring pixels and agree with each other on most corners, spread ones do not. A corner
// seen again in a version differs in a few of its 256 bits, and then often not in both keys.
constexpr std::size_t keyCount = 2;

std::uint32_t keyOf(const FeaturePrintObservation::Descriptor& descriptor, std::size_t table) {
    std::uint32_t key = 0;
    for (std::size_t k = 0; k < keyBits; ++k) {
        const std::size_t bit = (k * 11 + table * 5) % 256; // 11 is prime to 256: 22 distinct bits
        key = key << 1 | static_cast<std::uint32_t>(descriptor[bit / 64] >> (bit % 64) & 1);
    }
    return static_cast<std::uint32_t>(table) << keyBits | key;
}

/// A corner at the edge of a flat or clipped area answers most of its tests alike, and so do
/// such corners in every other photo: their keys would bring any two photos together.
bool informative(const FeaturePrintObservation::Descriptor& descriptor) {
    int ones = 0;
    for (const auto word : descriptor) ones += std::popcount(word);
    return ones >= 80 && ones <= 176;
}

} // namespace

std::vector<std::uint32_t> keys(std::span<const std::uint8_t> print) {
    std::vector<std::uint32_t> result;
    const auto observed = FeatureExtractor::observation(print);
    if (!observed) return result;
    const std::size_t count = std::min(cornersFiled, observed->descriptors.size());
    for (std::size_t table = 0; table < keyCount; ++table)
        for (std::size_t i = 0; i < count; ++i)
            if (informative(observed->descriptors[i])) result.push_back(keyOf(observed->descriptors[i], table));
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> proposals(
    const std::vector<std::optional<ImageFeatures>>& features, const CancellationFlag* cancel, const Settings& settings) {
    std::vector<std::vector<std::uint32_t>> keysOf(features.size());
    for (std::size_t i = 0; i < features.size(); ++i)
        if (features[i] && features[i]->featurePrint) keysOf[i] = keys(*features[i]->featurePrint);
    return proposalsOfKeys(keysOf, cancel, settings);
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> proposalsOfKeys(const std::vector<std::vector<std::uint32_t>>& keysOf,
                                                                     const CancellationFlag* cancel,
                                                                     const Settings& settings) {
    // Every (key, picture) as one number, so that one sort files them.
    std::vector<std::uint64_t> filed;
    for (std::size_t i = 0; i < keysOf.size(); ++i)
        for (const auto key : keysOf[i]) filed.push_back(std::uint64_t{key} << 32 | i);
    std::sort(filed.begin(), filed.end());
    if (cancel && cancel->isCancelled()) return {};

    // Every two pictures filed under one key, once per key they share.
    std::vector<std::uint64_t> together;
    for (std::size_t start = 0; start < filed.size();) {
        std::size_t end = start + 1;
        while (end < filed.size() && filed[end] >> 32 == filed[start] >> 32) ++end;
        if (end - start <= settings.crowdedKey)
            for (std::size_t x = start; x < end; ++x)
                for (std::size_t y = x + 1; y < end; ++y)
                    together.push_back((filed[x] & 0xffffffffu) << 32 | (filed[y] & 0xffffffffu));
        start = end;
    }
    filed = {};
    std::sort(together.begin(), together.end());
    if (cancel && cancel->isCancelled()) return {};

    // Each picture's partners with the keys they share, most first: (picture, ~shared, partner).
    struct Partner {
        std::uint32_t picture, notShared, partner;
        auto operator<=>(const Partner&) const = default;
    };
    std::vector<Partner> partners;
    for (std::size_t start = 0; start < together.size();) {
        std::size_t end = start + 1;
        while (end < together.size() && together[end] == together[start]) ++end;
        if (end - start >= static_cast<std::size_t>(settings.sharedKeys)) {
            const auto first = static_cast<std::uint32_t>(together[start] >> 32);
            const auto second = static_cast<std::uint32_t>(together[start]);
            const auto notShared = ~static_cast<std::uint32_t>(end - start);
            partners.push_back({first, notShared, second});
            partners.push_back({second, notShared, first});
        }
        start = end;
    }
    together = {};
    std::sort(partners.begin(), partners.end());

    std::vector<std::pair<std::uint32_t, std::uint32_t>> result;
    for (std::size_t start = 0; start < partners.size();) {
        std::size_t end = start + 1;
        while (end < partners.size() && partners[end].picture == partners[start].picture) ++end;
        for (std::size_t k = start; k < std::min(end, start + settings.partners); ++k)
            result.emplace_back(std::min(partners[k].picture, partners[k].partner),
                                std::max(partners[k].picture, partners[k].partner));
        start = end;
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

} // namespace vp::FeatureNeighbours
