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

/// An unpacked feature print, ready to be compared: corners of the rendition (in its pixels)
/// with their 256-bit descriptors.
struct FeaturePrintObservation {
    using Descriptor = std::array<std::uint64_t, 4>;
    int width = 0; ///< the rendition's size
    int height = 0;
    std::vector<std::array<float, 2>> points;
    std::vector<Descriptor> descriptors; ///< parallel to points
    /// The whole picture at a glance: grey, at most glanceSide pixels a side, for comparing what
    /// two pictures show once their corners have placed one on the other.
    int glanceWidth = 0;
    int glanceHeight = 0;
    std::vector<std::uint8_t> glance;
    bool operator==(const FeaturePrintObservation&) const = default;
};

/// How two feature prints match: corners paired by descriptor, and how many of those pairs one
/// placement (turn, scale and shift) explains.
struct PrintMatch {
    int matches = 0;        ///< corners paired by descriptor
    int inliers = 0;        ///< pairs the placement explains
    int overlapCorners = 0; ///< fewer of the two pictures' corners that fall inside the other when placed
    int turn = 0;           ///< quarter turns clockwise of b, as for hashMatch
    double scale = 0;       ///< b's rendition to a's
    double angleError = 0;  ///< degrees between the placement's turn and the nearest quarter turn
    double residual = 0;    ///< root mean square distance in pixels by which placed inliers miss
    int secondInliers = 0;  ///< of the pairs left out, most that one other placement explains
    double secondShift = 0; ///< median pixels between where the two placements put those
    /// Share of the overlap that looks different once b is placed on a, brightness and contrast
    /// evened out; absent when there was no placement or too little overlap or texture to say.
    std::optional<double> changed;
    bool operator==(const PrintMatch&) const = default;
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
inline constexpr std::int64_t featurePrintRevision = 3;
/// Longest side at which corners are looked for: smaller pictures are enlarged to it.
inline constexpr int printSide = 512;
/// Most corners a print keeps, the strongest first.
inline constexpr int printCorners = 160;
/// Longest side of the print's grey picture.
inline constexpr int glanceSide = 64;
/// Descriptors further apart than this (of 256 bits) are not the same corner.
inline constexpr int maximumDescriptorDistance = 64;
/// Pixels of the rendition by which a placed corner may miss its partner.
inline constexpr double placementTolerance = 3.0;
/// Fewer corners in one placement than this say nothing about two pictures.
inline constexpr int minimumInliers = 12;
/// Fewer paired corners than this are too few to call two pictures different shots.
inline constexpr int minimumMatchesToPart = 20;
/// Pairs a second placement must explain to show that part of the scene moved.
inline constexpr int secondMotionInliers = 5;
/// Most pixels of the rendition between two placements that two cameras' views of one scene
/// give; a second placement further off, in pictures that look alike, is a repeated pattern.
inline constexpr double depthShift = 40.0;
/// Glance pixels differing by more than this many spreads look different.
inline constexpr double changedSpread = 1.0;
/// More than this share of the overlap looking different is a changed scene, not an edit: a
/// caption or watermark covers less.
inline constexpr double changedScene = 0.08;
/// At most this share looking different is two pictures that look alike everywhere.
inline constexpr double alikeChange = 0.01;
/// Least share of pairs one placement must explain when the rest scatter and the pictures look alike.
inline constexpr double scatteredShare = 0.6;
/// A placement that explains less than this share of the pairs does not make one photo.
inline constexpr double sameShare = 0.75;

/// The strongest corners of `image` with their descriptors; nothing for a picture too small to
/// have any.
std::optional<FeaturePrint> featurePrint(const Bitmap& image);
/// Unpacks stored feature-print bytes; nothing when they are not a print of this revision.
std::optional<FeaturePrintObservation> observation(std::span<const std::uint8_t> bytes);
/// Pairs the corners of a and b and finds the placement of b on a that explains most pairs.
PrintMatch matchPrints(const FeaturePrintObservation& a, const FeaturePrintObservation& b);
/// The share of paired corners that one placement leaves out: 0 when it explains every pair, 1
/// when it explains too few to count.
float printDistance(const PrintMatch& match);

enum class PrintVerdict {
    undecided,     ///< too few corners in common to say
    samePhoto,     ///< one placement explains the pairs, and the placed pictures look alike
    differentShots ///< part of the scene moved: seen in the placed pictures, or in the pairs left out
};
PrintVerdict verdict(const PrintMatch& match);
/// printDistance of matchPrints; nothing when an observation is malformed.
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
