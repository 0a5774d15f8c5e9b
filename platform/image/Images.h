// The picture service every part of the engine uses: properties, thumbnails with the
// orientation applied, grey renditions and full decoding. JPEG, PNG, HEIC/HEIF and TIFF go
// through libvips, camera RAW through LibRaw. All functions are safe to call from several
// threads at once. A path is read only while it holds a plain file: a FIFO, device or link
// put there is refused (notAFile) without ever blocking on it.
#pragma once

#include "engine/common/Result.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vp {

/// 8-bit pixels, rows from the top, `channels` values per pixel (1 grey, 3 sRGB).
struct Bitmap {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<std::uint8_t> pixels;

    bool operator==(const Bitmap&) const = default;
};

/// What a picture's header says, without decoding its pixels.
struct ImageProperties {
    std::string typeIdentifier;                ///< what the decoder found: "public.jpeg", "com.adobe.raw-image", ...
    std::optional<std::int64_t> pixelWidth;    ///< as stored, before orientation
    std::optional<std::int64_t> pixelHeight;
    std::optional<std::int64_t> exifPixelX;    ///< EXIF PixelXDimension
    std::optional<std::int64_t> exifPixelY;
    std::optional<int> orientation;            ///< EXIF orientation 1 to 8
    std::optional<std::string> dateTimeOriginal; ///< EXIF text, "yyyy:MM:dd HH:mm:ss"
    std::optional<std::string> make;           ///< TIFF make
    std::optional<std::string> model;          ///< TIFF model
    int imageCount = 1;                        ///< pages or frames

    bool operator==(const ImageProperties&) const = default;
};

struct ImageFailure {
    /// notAFile: what stands at the path now is a link, FIFO, device or folder, never opened.
    enum class Kind { cannotOpen, notDecodable, damaged, tooLarge, notAFile };
    Kind kind = Kind::damaged;
    std::string detail; ///< the library's own message

    bool operator==(const ImageFailure&) const = default;
};

namespace Images {

/// Pictures above this many pixels are never decoded (reported as tooLarge): 200 megapixels is
/// above every camera's sensor, stitched panoramas aside.
inline constexpr std::int64_t maximumPixels = 200'000'000;

/// Type identifiers the decoders on this computer can read, asked once.
const std::set<std::string>& decodableTypes();

/// Camera names ("Canon EOS 5D Mark IV") the RAW decoder supports, asked once.
const std::vector<std::string>& supportedCameras();

/// The header's facts; never decodes the pixels.
Result<ImageProperties, ImageFailure> properties(const std::string& path);

/// sRGB, 3 channels, longest side at most `longestSide`, orientation applied, always made from
/// the full image (never an embedded preview), decoded at reduced scale where the format allows.
Result<Bitmap, ImageFailure> thumbnail(const std::string& path, int longestSide);

/// Decodes every pixel; false when the picture is cut off or damaged anywhere.
bool decodesFully(const std::string& path);

/// The check decodesFully made before it was made faster: a libvips load (a LibRaw unpack for
/// RAW) shrunk to 64 pixels. Kept for the tests that prove both give the same verdicts.
bool decodesFullyThroughVips(const std::string& path);

/// Names the decoders and their versions; a verdict cached under another revision is not used.
std::string decoderRevision();

/// 8-bit grey, stretched to exactly side × side (aspect not kept) with a smooth kernel.
Result<Bitmap, ImageFailure> greySquare(const Bitmap& image, int side);

} // namespace Images
} // namespace vp
