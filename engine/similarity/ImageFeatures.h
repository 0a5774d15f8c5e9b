// The measurements of one picture that similarity, quality hints and keeper choice work from.
// Stored in the feature cache; records made by another pipeline version are measured again.
#pragma once

#include "FaceReading.h"

#include "engine/common/Json.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vp {

struct ImageFeatures {
    /// The version every newly made record carries in `version`.
    static constexpr std::int64_t pipelineVersion = 4;

    /// Perceptual hash of the 32×32 grey rendition; entry k is the rendition turned k quarter
    /// turns clockwise, so entry 0 is the picture as it is seen.
    std::vector<std::uint64_t> hashes;
    /// Detail hash (256 bits, four words) of the 64×64 grey rendition, turned like `hashes`.
    std::vector<std::vector<std::uint64_t>> detailHashes;
    /// The opaque feature print; absent when not asked for or when making it failed.
    std::optional<std::vector<std::uint8_t>> featurePrint;
    /// Revision of the feature print in `featurePrint`; 0 when there is none.
    std::int64_t featurePrintRevision = 0;
    /// Variance of the Laplacian of the 256×256 grey rendition; larger is sharper.
    double sharpness = 0;
    /// Mean grey value of the 256×256 rendition, 0 to 1.
    double meanLuma = 0;
    /// Fraction of the 256×256 rendition's pixels that are pure black or pure white.
    double clipped = 0;
    /// The EXIF original date-time, read as if it were GMT.
    std::optional<Timestamp> captureDate;
    /// Size of the picture as displayed (after its orientation).
    std::int64_t pixelWidth = 0;
    std::int64_t pixelHeight = 0;
    std::int64_t version = pipelineVersion;
    /// 0 to 100, higher is better.
    std::optional<std::int64_t> qualityScore;
    /// Screenshots, documents and other pictures taken for their information, not as photos.
    std::optional<bool> isUtility;
    std::optional<std::int64_t> qualityRevision;
    /// Filled in by the face check later; absent when first measured.
    std::optional<FaceReading> faces;

    std::int64_t pixels() const { return pixelWidth * pixelHeight; }

    VP_RECORD(hashes, detailHashes, featurePrint, featurePrintRevision, sharpness, meanLuma, clipped, captureDate,
              pixelWidth, pixelHeight, version, qualityScore, isUtility, qualityRevision, faces)
    bool operator==(const ImageFeatures&) const = default;
};

} // namespace vp
