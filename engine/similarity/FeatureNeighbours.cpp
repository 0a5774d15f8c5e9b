#include "FeatureNeighbours.h"

#include "FeatureExtractor.h"

#include <algorithm>

namespace vp::FeatureNeighbours {
namespace {

// Two keys per corner, from two different stretches of its descriptor: a corner seen again in
// a version differs in a few of its 256 bits, and then often not in both stretches. 22 bits
// keep a library's keys apart from each other.
constexpr int keyBits = 22;
constexpr std::size_t stretches[] = {0, 16};

std::uint32_t keyOf(const FeaturePrintObservation::Descriptor& descriptor, std::size_t table) {
    const std::size_t word = stretches[table] / 8, shift = (stretches[table] % 8) * 8;
    const auto bits = static_cast<std::uint32_t>(descriptor[word] >> shift) & ((1u << keyBits) - 1);
    return static_cast<std::uint32_t>(table) << keyBits | bits;
}

} // namespace

std::vector<std::uint32_t> keys(std::span<const std::uint8_t> print) {
    std::vector<std::uint32_t> result;
    const auto observed = FeatureExtractor::observation(print);
    if (!observed) return result;
    const std::size_t count = std::min(cornersFiled, observed->descriptors.size());
    for (std::size_t table = 0; table < std::size(stretches); ++table)
        for (std::size_t i = 0; i < count; ++i) result.push_back(keyOf(observed->descriptors[i], table));
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> proposals(
    const std::vector<std::optional<ImageFeatures>>& features, const CancellationFlag* cancel) {
    // Every (key, picture) as one number, so that one sort files them.
    std::vector<std::uint64_t> filed;
    for (std::size_t i = 0; i < features.size(); ++i) {
        if (!features[i] || !features[i]->featurePrint) continue;
        for (const auto key : keys(*features[i]->featurePrint)) filed.push_back(std::uint64_t{key} << 32 | i);
    }
    std::sort(filed.begin(), filed.end());
    if (cancel && cancel->isCancelled()) return {};

    std::vector<std::uint64_t> together;
    for (std::size_t start = 0; start < filed.size();) {
        std::size_t end = start + 1;
        while (end < filed.size() && filed[end] >> 32 == filed[start] >> 32) ++end;
        if (end - start <= crowdedKey)
            for (std::size_t x = start; x < end; ++x)
                for (std::size_t y = x + 1; y < end; ++y)
                    together.push_back((filed[x] & 0xffffffffu) << 32 | (filed[y] & 0xffffffffu));
        start = end;
    }
    filed = {};
    std::sort(together.begin(), together.end());
    if (cancel && cancel->isCancelled()) return {};

    std::vector<std::pair<std::uint32_t, std::uint32_t>> result;
    for (std::size_t start = 0; start < together.size();) {
        std::size_t end = start + 1;
        while (end < together.size() && together[end] == together[start]) ++end;
        if (end - start >= static_cast<std::size_t>(sharedKeys))
            result.emplace_back(static_cast<std::uint32_t>(together[start] >> 32),
                                static_cast<std::uint32_t>(together[start]));
        start = end;
    }
    return result;
}

} // namespace vp::FeatureNeighbours
