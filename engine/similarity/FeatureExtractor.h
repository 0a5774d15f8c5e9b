// Measures one picture into an ImageFeatures record, and compares two records.
//
// Every measurement starts from one rendition of at most 512 pixels that the picture service
// decodes at that size, so full-size pixels are never held. All functions are pure apart from
// the shared tables they build once, and may be called from several threads at once.
#pragma once

#include "HashSketch.h"
#include "ImageFeatures.h"

#include "platform/image/Images.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vp {

/// Whether to make the feature print too (off in the application; it is the optional extra).
enum class WithFeaturePrint { no, yes };

/// An unpacked feature print, ready to be compared.
struct FeaturePrintObservation {
    std::vector<float> values;
    bool operator==(const FeaturePrintObservation&) const = default;
};

namespace FeatureExtractor {

/// Longest side in pixels of the rendition all measurements start from.
inline constexpr int renditionSize = 512;

/// Measures the picture at `path` (a full path). Nothing when it cannot be opened, thumbnailed
/// or rendered grey.
std::optional<ImageFeatures> features(const std::string& path, WithFeaturePrint withFeaturePrint);

/// The same measurement for a picture the caller has already decoded (sRGB, at most 512 pixels),
/// with the displayed pixel size and capture date supplied by the caller.
std::optional<ImageFeatures> features(const Bitmap& image, std::int64_t width, std::int64_t height,
                                      std::optional<Timestamp> captureDate, WithFeaturePrint withFeaturePrint);

/// `image` stretched to side × side grey values 0 to 1, row by row from the top; nothing when the
/// picture service cannot render it.
std::optional<std::vector<float>> grey(const Bitmap& image, int side);

/// `grid` (side × side, row by row) turned one quarter turn clockwise.
std::vector<float> turnedClockwise(std::span<const float> grid, int side);

/// Perceptual hash of a 32×32 grey grid: bit i set when low-frequency DCT coefficient i is above
/// the median of the 63 coefficients after the DC term.
std::uint64_t phash(std::span<const float> grid);

/// Detail hash of a 64×64 grey grid: 256 bits from the 16×16 lowest frequencies, bit i in word
/// i / 64 at position i mod 64.
std::array<std::uint64_t, 4> detailHash(std::span<const float> grid);

struct Measurement {
    double sharpness = 0; ///< variance of the Laplacian over the interior pixels
    double mean = 0;      ///< mean grey value, 0 to 1
    double clipped = 0;   ///< fraction of pixels at most 2/255 or at least 253/255
    bool operator==(const Measurement&) const = default;
};

/// Sharpness, brightness and clipping of a side × side grey grid of values 0 to 1.
Measurement measure(std::span<const float> grid, int side);

/// The "EXIF DateTimeOriginal" text ("2021:07:04 18:30:05") read as that wall-clock time at GMT,
/// whatever this computer's time zone; nothing when it is missing or not a real date and time.
std::optional<Timestamp> captureDate(const std::optional<std::string>& exifDateTime);

struct FeaturePrint {
    std::vector<std::uint8_t> bytes;
    std::int64_t revision = 0;
    bool operator==(const FeaturePrint&) const = default;
};

/// Revision of the feature prints made here; prints of another revision do not unpack.
inline constexpr std::int64_t featurePrintRevision = 1;

/// A compact colour and texture descriptor of `image`; nothing for an empty image.
std::optional<FeaturePrint> featurePrint(const Bitmap& image);
/// Unpacks stored feature-print bytes; nothing when they are not a print of this revision.
std::optional<FeaturePrintObservation> observation(std::span<const std::uint8_t> bytes);
/// 0 for identical prints, growing as pictures differ in colour and texture; nothing when the
/// two observations do not have the same shape.
std::optional<float> featureDistance(const FeaturePrintObservation& a, const FeaturePrintObservation& b);

struct HashMatch {
    int distance = 64; ///< Hamming distance, 0 to 64
    int turn = 0;      ///< quarter turns clockwise of b that gave it, 0 to 3
    bool operator==(const HashMatch&) const = default;
};

/// The least distance between a as seen and b in any of its four turns; the first turn wins ties.
HashMatch hashMatch(const ImageFeatures& a, const ImageFeatures& b);
/// The least distance, 0 to 256, between a's detail hash as seen and any turn of b's.
int detailDistance(const ImageFeatures& a, const ImageFeatures& b);
/// Whether a and b (turned `turn` quarter turns) have aspect ratios within a factor of 1.35.
bool shapesAgree(const ImageFeatures& a, const ImageFeatures& b, int turn);

/// The same comparisons on sketches; they give what the records give.
HashMatch hashMatch(const HashSketch& a, const HashSketch& b);
int detailDistance(const HashSketch& a, const HashSketch& b);
bool shapesAgree(const HashSketch& a, const HashSketch& b, int turn);

} // namespace FeatureExtractor
} // namespace vp
