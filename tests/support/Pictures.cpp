#include "Pictures.h"

#include <vips/vips8>

#include <libheif/heif.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace vp::testing {

namespace {

using vips::VImage;

void startVips() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (VIPS_INIT("vp-tests") != 0) throw std::runtime_error("libvips did not start");
        vips_cache_set_max(0);
    });
}

VImage markedPicture(int width, int height) {
    // Dark grey with a white top-left quadrant.
    VImage dark = VImage::black(width, height, VImage::option()->set("bands", 3)) + 40;
    VImage white = VImage::black(width / 2, height / 2, VImage::option()->set("bands", 3)) + 255;
    return dark.insert(white, 0, 0)
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

std::string withOptions(const std::string& path, const std::string& options) {
    return options.empty() ? path : path + "[" + options + "]";
}

} // namespace

void writePicture(const std::string& path, const PictureSpec& spec, const std::string& saveOptions) {
    startVips();
    VImage image = markedPicture(spec.width, spec.height).copy();
    if (spec.detailed) {
        const VImage noise = VImage::gaussnoise(spec.width, spec.height, VImage::option()->set("sigma", 40.0));
        image = (image + noise - 128)
                    .cast(VIPS_FORMAT_UCHAR)
                    .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    }
    // libvips rebuilds the EXIF block from these fields when it saves.
    if (spec.orientation) image.set(VIPS_META_ORIENTATION, *spec.orientation);
    if (spec.make) image.set("exif-ifd0-Make", spec.make->c_str());
    if (spec.model) image.set("exif-ifd0-Model", spec.model->c_str());
    if (spec.dateTimeOriginal) image.set("exif-ifd2-DateTimeOriginal", spec.dateTimeOriginal->c_str());
    // Only the JPEG writer builds an EXIF block from those fields; the others copy a block
    // that is already there, so one is made by a lossless-enough trip through JPEG.
    const bool tagged = spec.orientation || spec.make || spec.model || spec.dateTimeOriginal;
    if (tagged && !path.ends_with(".jpg") && !path.ends_with(".jpeg")) {
        const std::string staging = path + ".staging.jpg";
        image.write_to_file((staging + "[Q=100]").c_str());
        VImage::new_from_file(staging.c_str()).write_to_file(withOptions(path, saveOptions).c_str());
        std::remove(staging.c_str());
        return;
    }
    image.write_to_file(withOptions(path, saveOptions).c_str());
}

void writeCmykJpeg(const std::string& path, int width, int height) {
    startVips();
    markedPicture(width, height)
        .icc_export(VImage::option()->set("output_profile", "cmyk"))
        .copy()
        .write_to_file(withOptions(path, "profile=none").c_str());
}

void write16BitPicture(const std::string& path, int width, int height) {
    startVips();
    (markedPicture(width, height).cast(VIPS_FORMAT_USHORT) * 257)
        .cast(VIPS_FORMAT_USHORT)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16))
        .write_to_file(path.c_str());
}

void writeMultiPageTiff(const std::string& path, int width, int height, int pages) {
    startVips();
    std::vector<VImage> frames(pages, markedPicture(width, height));
    VImage joined = VImage::arrayjoin(frames, VImage::option()->set("across", 1)).copy();
    joined.set(VIPS_META_PAGE_HEIGHT, height);
    joined.write_to_file(path.c_str());
}

void writeMinimalRaw(const std::string& path, const RawSpec& spec) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (tiff == nullptr) throw std::runtime_error("cannot write " + path);
    const std::uint16_t cfaDimensions[2] = {2, 2};
    const std::uint8_t rggb[4] = {0, 1, 1, 2};
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, spec.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, spec.height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, 32803); // colour filter array
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, spec.height);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, spec.orientation);
    TIFFSetField(tiff, TIFFTAG_MAKE, spec.make.c_str());
    TIFFSetField(tiff, TIFFTAG_MODEL, spec.model.c_str());
    TIFFSetField(tiff, TIFFTAG_CFAREPEATPATTERNDIM, cfaDimensions);
    TIFFSetField(tiff, TIFFTAG_CFAPATTERN, 4, rggb);
    if (spec.dngVersion) {
        const std::uint8_t version[4] = {1, 4, 0, 0};
        const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        const float neutral[3] = {1, 1, 1};
        TIFFSetField(tiff, TIFFTAG_DNGVERSION, version);
        TIFFSetField(tiff, TIFFTAG_DNGBACKWARDVERSION, version);
        TIFFSetField(tiff, TIFFTAG_UNIQUECAMERAMODEL, (spec.make + " " + spec.model).c_str());
        TIFFSetField(tiff, TIFFTAG_COLORMATRIX1, 9, identity);
        TIFFSetField(tiff, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
        TIFFSetField(tiff, TIFFTAG_CALIBRATIONILLUMINANT1, 21);
    }
    std::vector<std::uint16_t> mosaic(static_cast<std::size_t>(spec.width) * spec.height);
    for (int y = 0; y < spec.height; ++y)
        for (int x = 0; x < spec.width; ++x)
            mosaic[static_cast<std::size_t>(y) * spec.width + x] =
                (x < spec.width / 2 && y < spec.height / 2) ? 60000 : 4000;
    TIFFWriteEncodedStrip(tiff, 0, mosaic.data(), static_cast<tmsize_t>(mosaic.size() * sizeof(std::uint16_t)));
    TIFFClose(tiff);
}

void writeCameraTiff(const std::string& path, int width, int height, const std::string& make,
                     const std::string& model, const std::string& dateTimeOriginal) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (tiff == nullptr) throw std::runtime_error("cannot write " + path);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
    TIFFSetField(tiff, TIFFTAG_MAKE, make.c_str());
    TIFFSetField(tiff, TIFFTAG_MODEL, model.c_str());
    TIFFSetField(tiff, TIFFTAG_EXIFIFD, std::uint64_t{0}); // the EXIF directory's place, filled in below
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3, 128);
    TIFFWriteEncodedStrip(tiff, 0, pixels.data(), static_cast<tmsize_t>(pixels.size()));
    TIFFWriteDirectory(tiff);

    TIFFCreateEXIFDirectory(tiff);
    TIFFSetField(tiff, EXIFTAG_DATETIMEORIGINAL, dateTimeOriginal.c_str());
    TIFFSetField(tiff, EXIFTAG_PIXELXDIMENSION, static_cast<std::uint32_t>(width));
    TIFFSetField(tiff, EXIFTAG_PIXELYDIMENSION, static_cast<std::uint32_t>(height));
    std::uint64_t exifOffset = 0;
    TIFFWriteCustomDirectory(tiff, &exifOffset);

    TIFFSetDirectory(tiff, 0);
    TIFFSetField(tiff, TIFFTAG_EXIFIFD, exifOffset);
    TIFFRewriteDirectory(tiff);
    TIFFClose(tiff);
}

namespace {

heif_image* heifPicture(int width, int height, bool marked) {
    heif_image* image = nullptr;
    heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            plane[y * stride + x] = !marked ? 0 : (x < width * 3 / 2 && y < height / 2) ? 255 : 40;
    return image;
}

void check(heif_error error) {
    if (error.code != heif_error_Ok) throw std::runtime_error(std::string("libheif: ") + error.message);
}

} // namespace

void writeHeicWithMisleadingThumbnail(const std::string& path, int width, int height) {
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    check(heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder));
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_image* primary = heifPicture(width, height, true);
    heif_image* black = heifPicture(width, height, false);
    heif_image_handle* handle = nullptr;
    check(heif_context_encode_image(context, primary, encoder, nullptr, &handle));
    heif_image_handle* thumbnail = nullptr;
    check(heif_context_encode_thumbnail(context, black, handle, encoder, nullptr, 128, &thumbnail));
    check(heif_context_write_to_file(context, path.c_str()));
    heif_image_handle_release(thumbnail);
    heif_image_handle_release(handle);
    heif_image_release(black);
    heif_image_release(primary);
    heif_encoder_release(encoder);
    heif_context_free(context);
}

double cornerMean(const unsigned char* pixels, int width, int height, int channels, int corner) {
    const int boxWidth = std::max(1, width / 4);
    const int boxHeight = std::max(1, height / 4);
    const int left = (corner % 2 == 0) ? 0 : width - boxWidth;
    const int top = (corner < 2) ? 0 : height - boxHeight;
    double sum = 0;
    for (int y = top; y < top + boxHeight; ++y)
        for (int x = left; x < left + boxWidth; ++x)
            for (int c = 0; c < channels; ++c) sum += pixels[(static_cast<std::size_t>(y) * width + x) * channels + c];
    return sum / (static_cast<double>(boxWidth) * boxHeight * channels);
}

} // namespace vp::testing

// The HEIC files the tests write go through libx265, whose encoder keeps a few small
// allocations for the life of the process; under LeakSanitizer they are not ours to fix.
// Weak: the movie service, linked beside it in some tests, says the same.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
