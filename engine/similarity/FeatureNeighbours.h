// Proposes pairs of pictures that share corners, for the versions the perceptual hashes cannot
// bring together: a crop moves everything the hash looks at, while most of the corners it keeps
// look as they did. A picture's strongest corners are filed under short keys cut from their
// descriptors; two pictures filed together under several keys are neighbours in feature space.
//
// The work grows with the number of pictures: a fixed number of keys per picture, one sort,
// and a key shared by too many pictures (a plain sky, a texture every photo has) is passed over.
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
/// Keys two pictures must share to be proposed.
inline constexpr int sharedKeys = 2;
/// A key filed by more pictures than this tells nothing about any two of them.
inline constexpr std::size_t crowdedKey = 24;

/// Pairs (first < second) of pictures whose feature prints share at least `sharedKeys` keys,
/// sorted. Pictures without a print of this revision take no part. Empty when cancelled.
std::vector<std::pair<std::uint32_t, std::uint32_t>> proposals(
    const std::vector<std::optional<ImageFeatures>>& features, const CancellationFlag* cancel);

/// The keys one print files its corners under (for the tests); empty when the bytes are not a print.
std::vector<std::uint32_t> keys(std::span<const std::uint8_t> print);

} // namespace vp::FeatureNeighbours
