// Lets the feature prints speak on the pairs the hashes recorded, and adds the pairs the
// feature neighbours proposed when the prints show one photo. A pair's distance stays in the
// hash's bits, so the presets read it as before:
// - one photo (a crop, a turned or resized copy): the distance is at most the share of paired
//   corners the placement leaves out, scaled so that the least share the verdict allows lands on
//   the balanced limit: a crop the hash no longer recognises comes within reach of the presets
//   that look past the hash alone (conservative still asks for close detail);
// - two shots of one subject: the distance is raised above every preset's limit, while staying
//   within reach of a burst.
#pragma once

#include "FeatureExtractor.h"
#include "SimilarityIndex.h"

#include <cstdint>
#include <optional>

namespace vp::PairsByFeaturePrint {

/// Distance given to two shots of one subject: beyond the broadest preset.
inline constexpr float differentShotsDistance = static_cast<float>(SimilarityThresholds::broad) + 1;

/// `pair` with the verdict of `match` applied and `vision` set to the print distance.
SimilarPair judged(SimilarPair pair, const PrintMatch& match);

/// The pair a neighbour proposal makes: only when the prints show one photo.
std::optional<SimilarPair> fromPrints(std::int64_t first, std::int64_t second, const ImageFeatures& a,
                                      const ImageFeatures& b, const PrintMatch& match);

/// The two prints matched, when both pictures have a print that reads.
std::optional<PrintMatch> match(const ImageFeatures& a, const ImageFeatures& b);

} // namespace vp::PairsByFeaturePrint
