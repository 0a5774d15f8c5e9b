// Proposes pairs of pictures that share corners, for the versions the perceptual hashes cannot
// bring together: a crop moves everything the hash looks at, while most of the corners it keeps
// look as they did. A picture's strongest corners are filed under short keys cut from their
// descriptors; two pictures filed together under several keys are neighbours in feature space.
//
// The work grows with the number of pictures: a fixed number of keys per picture, one sort, a
// key shared by too many pictures (a plain sky, a texture every photo has) passed over, and a
// fixed number of partners per picture.
#pragma once

#include "ImageFeatures.h"

#include "engine/scan/CancellationFlag.h"

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace vp::FeatureNeighbours {

/// Strongest corners of each picture that are filed.
inline constexpr std::size_t cornersFiled = 96;
/// Bits of a key's value; the bits above them name the key's table.
inline constexpr int keyBits = 22;
inline constexpr std::uint32_t keyValueMask = (1u << keyBits) - 1;

/// How pictures become neighbours.
struct Settings {
    /// Keys two pictures must share to be neighbours at all.
    int sharedKeys = 3;
    /// A key filed by more pictures than this tells nothing about any two of them.
    std::size_t crowdedKey = 16;
    /// Each picture proposes only the partners it shares the most keys with: versions of one
    /// photo are a handful, while two unrelated photos share a few keys by chance, and the more
    /// photos there are the more such chance partners each has.
    std::size_t partners = 8;
};

/// Pairs (first < second) of pictures whose feature prints share keys (`Settings`), sorted.
/// Pictures without a print of this revision take no part. Empty when cancelled.
std::vector<std::pair<std::uint32_t, std::uint32_t>> proposals(
    const std::vector<std::optional<ImageFeatures>>& features, const CancellationFlag* cancel,
    const Settings& settings = {});

/// The same from each picture's keys (sorted, each once).
std::vector<std::pair<std::uint32_t, std::uint32_t>> proposalsOfKeys(const std::vector<std::vector<std::uint32_t>>& keys,
                                                                     const CancellationFlag* cancel,
                                                                     const Settings& settings = {});

/// The keys one print files its corners under (for the tests); empty when the bytes are not a print.
std::vector<std::uint32_t> keys(std::span<const std::uint8_t> print);

} // namespace vp::FeatureNeighbours
