// Real pictures for tests, made on the spot with libvips (and libtiff for a DNG), so that every
// decoder runs on files it would meet in a folder.
#pragma once

#include <optional>
#include <string>

namespace vp::testing {

/// A dark picture whose top-left quadrant is white, so a test can tell where the stored
/// top-left corner went after orientation was applied.
struct PictureSpec {
    int width = 64;
    int height = 48;
    std::optional<int> orientation = std::nullopt; ///< EXIF orientation tag, 1 to 8
    std::optional<std::string> make = std::nullopt;
    std::optional<std::string> model = std::nullopt;
    std::optional<std::string> dateTimeOriginal = std::nullopt; ///< "yyyy:MM:dd HH:mm:ss"
    /// Noise over the picture, as in a real photo's fine detail, so compression cannot flatten it.
    bool detailed = false;
};

/// Writes the picture in the format of the path's extension (jpg, png, tif, heic, ...);
/// `saveOptions` are libvips save options such as "Q=90,interlace".
void writePicture(const std::string& path, const PictureSpec& spec = {}, const std::string& saveOptions = "");

/// A CMYK JPEG without an embedded profile, as print workflows write them.
void writeCmykJpeg(const std::string& path, int width, int height);

/// 16 bits per sample, RGB, in the format of the path's extension (png or tif).
void write16BitPicture(const std::string& path, int width, int height);

/// A TIFF of `pages` pages, each `width` × `height`.
void writeMultiPageTiff(const std::string& path, int width, int height, int pages);

/// A minimal camera RAW: one 16-bit RGGB mosaic strip with the make, model and orientation
/// tags. With `dngVersion` it is a DNG; without, a bare TIFF-structured RAW as some cameras write.
struct RawSpec {
    int width = 64;
    int height = 48;
    std::string make = "Velmo";
    std::string model = "Test Camera";
    int orientation = 1;
    bool dngVersion = true;
};
void writeMinimalRaw(const std::string& path, const RawSpec& spec = {});

/// An 8-bit RGB TIFF written by libtiff with IFD0 make and model and an EXIF directory
/// holding the capture date, as scanners and raw converters write them.
void writeCameraTiff(const std::string& path, int width, int height, const std::string& make,
                     const std::string& model, const std::string& dateTimeOriginal);

/// A HEIC whose embedded thumbnail (128 pixels, all black) does not show the primary image
/// (the marked picture): whatever reads the thumbnail instead of the picture is caught.
void writeHeicWithMisleadingThumbnail(const std::string& path, int width, int height);

/// Mean of the 8-bit values of a w × h corner box, one corner at a time: 0 top-left,
/// 1 top-right, 2 bottom-left, 3 bottom-right. Works on interleaved pixels of `channels`.
double cornerMean(const unsigned char* pixels, int width, int height, int channels, int corner);

} // namespace vp::testing
