// Short, local remarks that help choose between near-identical shots: clearly the sharpest,
// clearly brighter or darker, much pure black or white; the face notes; and the quality scores.
// Computed from the measurements already in the index: no picture is read.
#pragma once

#include "SimilarityIndex.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace vp::QualityHints {

inline constexpr double sharpnessMargin = 1.5;
inline constexpr double exposureMargin = 0.12;
inline constexpr double clippedMargin = 0.08;

/// Shown above the hints.
inline constexpr std::string_view explanation =
    "A local measurement, not a judgement of the photo. Shown only when the difference is clear.";

/// At most one hint per member, by path; none unless every member was measured.
std::map<std::string, std::string> hints(const DuplicateGroup& group, const SimilarityIndex& index);
/// Face notes by path, for look-alike groups whose members all have comparable readings.
std::map<std::string, std::string> faceNotes(const DuplicateGroup& group, const SimilarityIndex& index);
/// Quality scores by path; all members or none.
std::map<std::string, std::int64_t> scores(const DuplicateGroup& group, const SimilarityIndex& index);

} // namespace vp::QualityHints
