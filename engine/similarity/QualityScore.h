// A quality score for ranking look-alike photos against each other: the BRISQUE no-reference
// image-quality model, mapped onto 0 to 100 points, and a flag for pictures taken for their
// information (screenshots, documents) rather than as photos.
#pragma once

#include "platform/image/Images.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace vp::QualityScore {

/// Points by which one score must beat another to count as clearly higher.
inline constexpr std::int64_t margin = 10;
/// Revision of the scoring below; records scored by another revision are scored again.
inline constexpr std::int64_t revision = 1;

/// Told to the person next to the score.
inline constexpr std::string_view explanation =
    "Quality score, 0 to 100, from the BRISQUE image-quality model, run on this computer. It weighs sharpness, "
    "noise and compression damage. Use it to compare photos in this group, not as a grade: it is a model's "
    "opinion, and it can prefer the wrong one.";

struct Reading {
    std::int64_t score = 0; ///< 0 to 100, higher is better
    bool isUtility = false;
    std::int64_t revision = QualityScore::revision;
    bool operator==(const Reading&) const = default;
};

/// Scores a rendition (sRGB or grey, at most a few hundred pixels a side). Nothing when the model
/// files are not installed or the model cannot score the picture. Safe from several threads.
std::optional<Reading> score(const Bitmap& image);

/// A raw score on −1 (worst) to 1 (best) as points: 0 at −1 and below, 100 at 1 and above,
/// halves rounded away from zero.
std::int64_t points(float raw);

/// BRISQUE's 0 (best) to 100 (worst) onto raw −1 to 1: 0 gives 1, 50 gives 0, 100 gives −1.
float rawFromBrisque(double brisque);

/// Screenshots and documents: at least half of the picture is exactly flat colour. Camera
/// pictures have sensor noise, so even a clear sky is almost never flat to the last bit.
bool looksLikeUtility(const Bitmap& image);

} // namespace vp::QualityScore
