// The pieces behind Images.h, one per library: libvips for the common formats, LibRaw for
// camera RAW, libtiff for the few TIFF tags libvips does not pass on. Private to this folder;
// no library header leaks out of it.
#pragma once

#include "Images.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp::ImageDecoders {

/// Pictures above this many pixels are refused as tooLarge before any pixel is decoded: a
/// header claiming enormous dimensions would otherwise make a decoder (a progressive JPEG's
/// coefficient buffer, libheif's whole-frame buffer, a one-strip TIFF) allocate gigabytes.
inline constexpr std::int64_t maximumPixels = Images::maximumPixels;

bool exceedsPixelBudget(std::int64_t width, std::int64_t height);

/// Starts libvips once for the whole process; later calls return at once. False when it
/// could not start, and then every libvips call below fails with cannotOpen.
bool startVips();

/// The libvips, libheif, libde265, LibRaw and libtiff versions, for caches of verdicts.
std::string vipsRevision();
std::string rawRevision();

/// What the fast HEIC check found: complete when the picture decoded through, unsure for
/// anything else (a refusal, or a picture out of the ordinary), which libvips then decides.
enum class HeifCheck { complete, unsure };
/// True when libvips would read the file with its HEIF loader.
bool isHeif(const std::string& path);
HeifCheck heifDecodesFully(const std::string& path);
/// The HEVC decoder the fast HEIC check uses, and its version.
std::string heifCheckRevision();

/// Header facts of a file libvips can open (JPEG, PNG, HEIC/HEIF, TIFF, GIF, WebP, ...).
Result<ImageProperties, ImageFailure> vipsProperties(const std::string& path);

/// How strictly the decoders treat a file that ends early or carries bad data.
enum class Strictness { tolerant, failOnTruncation };

/// A thumbnail of a libvips file, decoded at reduced scale where the format allows.
Result<Bitmap, ImageFailure> vipsThumbnail(const std::string& path, int longestSide, Strictness strictness);

/// Shrinks 8-bit pixels already in memory (a decoded RAW) to a thumbnail.
Result<Bitmap, ImageFailure> shrinkPixels(const std::uint8_t* pixels, int width, int height, int channels,
                                          int longestSide);

/// Greys and stretches a bitmap to side × side.
Result<Bitmap, ImageFailure> vipsGreySquare(const Bitmap& image, int side);

/// The type identifiers the installed libvips loaders and HEIF decoders read.
std::set<std::string> vipsDecodableTypes();

// Every `path` below is where the decoder reads the picture: the caller has checked it is a
// plain file and may hand over its open descriptor's /proc path.

/// LibRaw's view of a camera RAW. notDecodable when LibRaw does not take the file as a RAW.
/// `name` is the picture's own path, whose extension names the RAW format.
Result<ImageProperties, ImageFailure> rawProperties(const std::string& path, const std::string& name);
Result<Bitmap, ImageFailure> rawThumbnail(const std::string& path, int longestSide);
enum class RawDecoding { complete, damaged, notRaw };
/// Unpacks every byte of the sensor data, which is where a cut-off RAW shows.
RawDecoding rawDecodeFully(const std::string& path);
std::set<std::string> rawDecodableTypes();
std::vector<std::string> rawCameraList();

/// Camera tags of a TIFF, which libvips does not read: IFD0 make and model, EXIF date and sizes.
struct TiffTags {
    std::optional<std::string> make;
    std::optional<std::string> model;
    std::optional<std::string> dateTimeOriginal;
    std::optional<std::int64_t> exifPixelX;
    std::optional<std::int64_t> exifPixelY;
};
TiffTags readTiffTags(const std::string& path);

/// One PNG text chunk: a keyword of 1 to 79 printable ASCII characters and its text.
struct PngText {
    std::string keyword;
    std::string text;

    bool operator==(const PngText&) const = default;
};

/// An 8-bit RGBA, non-interlaced PNG of `image` (1 or 3 channels, written fully opaque), with
/// `texts` as uncompressed tEXt chunks right after the header, where every reader looks first.
Result<std::string, ImageFailure> encodePng(const Bitmap& image, const std::vector<PngText>& texts);

/// What a PNG held in memory says before its pixels: size and text chunks (tEXt, zTXt and iTXt
/// alike, as other programs write any of them). notDecodable when the bytes are not a PNG.
struct PngHeader {
    int width = 0;
    int height = 0;
    std::vector<PngText> texts;
};
Result<PngHeader, ImageFailure> readPngHeader(std::string_view bytes);

/// Decodes every pixel of a PNG held in memory to 8-bit sRGB (alpha flattened on white);
/// damaged when any part of it is cut off or broken.
Result<Bitmap, ImageFailure> decodePng(std::string_view bytes);

} // namespace vp::ImageDecoders
