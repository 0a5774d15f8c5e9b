// libtiff: the camera tags of a TIFF, which libvips's TIFF loader leaves out.

#include "Decoders.h"

#include <tiffio.h>

#include <memory>

namespace vp::ImageDecoders {

namespace {

// Messages about odd tags go nowhere: these tags are a nicety, the pixels come from libvips.
int ignoreMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

std::optional<std::string> textTag(TIFF* tiff, ttag_t tag) {
    const char* value = nullptr;
    if (TIFFGetField(tiff, tag, &value) != 1 || value == nullptr) return std::nullopt;
    std::string text(value);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    if (text.empty()) return std::nullopt;
    return text;
}

std::optional<std::int64_t> sizeTag(TIFF* tiff, ttag_t tag) {
    std::uint32_t value = 0;
    if (TIFFGetField(tiff, tag, &value) != 1 || value == 0) return std::nullopt;
    return value;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct OptionsFreer {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

} // namespace

TiffTags readTiffTags(const std::string& path) {
    TiffTags tags;
    const std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
    if (!options) return tags;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), ignoreMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), ignoreMessage, nullptr);
    // Tags only: a small allocation ceiling keeps a hostile tag count from costing memory.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), 16 * 1024 * 1024);
    const std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpenExt(path.c_str(), "r", options.get()));
    if (!tiff) return tags;
    tags.make = textTag(tiff.get(), TIFFTAG_MAKE);
    tags.model = textTag(tiff.get(), TIFFTAG_MODEL);
    toff_t exifOffset = 0;
    if (TIFFGetField(tiff.get(), TIFFTAG_EXIFIFD, &exifOffset) == 1 && exifOffset != 0 &&
        TIFFReadEXIFDirectory(tiff.get(), exifOffset) == 1) {
        tags.dateTimeOriginal = textTag(tiff.get(), EXIFTAG_DATETIMEORIGINAL);
        tags.exifPixelX = sizeTag(tiff.get(), EXIFTAG_PIXELXDIMENSION);
        tags.exifPixelY = sizeTag(tiff.get(), EXIFTAG_PIXELYDIMENSION);
    }
    return tags;
}

} // namespace vp::ImageDecoders
