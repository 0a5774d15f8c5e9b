// The outcome of comparing a scan's pictures: every picture with its measurements and every
// close pair, from which look-alike groups (under a preset) and bursts are made again at will
// without reading any picture.
#pragma once

#include "ImageFeatures.h"

#include "engine/common/Json.h"
#include "engine/scan/ScanResult.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp {

/// Hash distances in bits out of 64, detail distances out of 256.
namespace SimilarityThresholds {
inline constexpr double conservative = 12.0;
inline constexpr std::int64_t conservativeDetail = 18;
inline constexpr double balanced = 12.0;
inline constexpr double broad = 16.0;
/// Largest hash distance for a pair to be recorded at all.
inline constexpr int candidateHamming = 20;
/// Largest hash distance for two shots close in time to count as related.
inline constexpr double seriesRelated = 34.0;
/// Longest gap, in seconds, between two shots of one burst.
inline constexpr double seriesWindow = 3.0;
} // namespace SimilarityThresholds

/// Two measured pictures close enough to be recorded, by their indices in the index's pictures.
struct SimilarPair {
    std::int64_t a = 0; ///< always the smaller index
    std::int64_t b = 0;
    float distance = 0;
    std::int64_t detail = 0;
    bool shapesAgree = false;
    std::optional<float> vision; ///< feature-print distance, when both have one; informational

    VP_RECORD(a, b, distance, detail, shapesAgree, vision)
    bool operator==(const SimilarPair&) const = default;
};

enum class SimilarityPreset { conservative, balanced, broad };

template <>
struct EnumStrings<SimilarityPreset> {
    static constexpr std::array cases{
        std::pair{SimilarityPreset::conservative, std::string_view("conservative")},
        std::pair{SimilarityPreset::balanced, std::string_view("balanced")},
        std::pair{SimilarityPreset::broad, std::string_view("broad")},
    };
};

/// "Conservative", "Balanced", "Broad".
std::string_view name(SimilarityPreset preset);
std::string_view explanation(SimilarityPreset preset);
/// Whether a recorded pair counts as two versions of one photo under the preset.
bool accepts(SimilarityPreset preset, const SimilarPair& pair);

struct SimilarityIndex {
    std::vector<PhotoAsset> pictures;
    std::vector<std::optional<ImageFeatures>> features; ///< parallel to pictures; absent when unmeasured
    std::vector<SimilarPair> pairs;                      ///< sorted by (a, b)
    std::int64_t candidatesProposed = 0;
    std::vector<std::string> unmeasured; ///< paths of pictures that could not be measured

    /// Look-alike groups under the preset: complete linkage, so every two members of a group
    /// were accepted directly; except that a burst whose consecutive shots look alike (within
    /// the broad distance) is one group with everything grouped with any of its shots, whenever
    /// one of them is grouped at all, so that a cleanup keeps one shot of it. A picture is in
    /// at most one group.
    std::vector<DuplicateGroup> groups(SimilarityPreset preset) const;
    std::vector<DuplicateGroup> groups(const std::function<bool(const SimilarPair&)>& accepts) const;
    /// Bursts: related shots in one folder, each at most `window` seconds after the previous.
    std::vector<DuplicateGroup> series(double window, double relatedDistance) const;

    /// The measurements of the first picture equal to `asset`; absent when it is not here or
    /// was not measured.
    std::optional<ImageFeatures> featuresFor(const PhotoAsset& asset) const;
    /// Every picture index that is in at least one pair, ascending.
    std::vector<std::int64_t> paired() const;
    /// A copy with the face readings set on the measured pictures they belong to.
    SimilarityIndex withFaces(const std::map<std::int64_t, FaceReading>& readings) const;

    bool operator==(const SimilarityIndex& other) const;

private:
    struct Lookup;
    mutable std::shared_ptr<const Lookup> m_lookup; // path to first index, made on first use
    std::optional<std::size_t> indexOf(const PhotoAsset& asset) const;
};

/// A group of the pictures at `indices`, in that order, with an id that the same members in the
/// same order always give again.
DuplicateGroup makeGroup(const std::vector<PhotoAsset>& pictures, const std::vector<std::int64_t>& indices,
                         MatchKind kind, std::optional<float> spread);

} // namespace vp
