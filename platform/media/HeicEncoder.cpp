#include "HeicEncoder.h"

#include <vips/vips8>

#include <mutex>

namespace vp::HeicEncoder {

namespace {

using vips::VImage;

bool started() {
    static const bool ready = VIPS_INIT("velmo-pristel") == 0;
    return ready;
}

vips::VOption* heifOptions() {
    // HEVC, not AV1: "HEIC" is the HEVC flavour of HEIF, the one phones and viewers expect.
    return VImage::option()->set("Q", quality)->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC);
}

/// The first image of `path`, refusing files with several (multi-page TIFF, animations).
std::optional<VImage> single(const std::string& path, bool& several) {
    several = false;
    try {
        // A truncated or damaged photo is refused, not decoded with grey where its data ends: its
        // copy would keep the damage for good while the original went to the Trash.
        VImage image = VImage::new_from_file(path.c_str(), VImage::option()->set("fail_on", VIPS_FAIL_ON_TRUNCATED));
        if (image.get_typeof(VIPS_META_N_PAGES) != 0 && image.get_int(VIPS_META_N_PAGES) > 1) {
            several = true;
            return std::nullopt;
        }
        // HEIF viewers turn pictures by the container's own transform, never by the EXIF tag, so
        // the pixels are stored the right way up and the tag says so. Decoded whole here, so that
        // a decoding error is told as one, not as a copy that could not be written.
        return image.autorot().copy_memory();
    } catch (const vips::VError&) {
        return std::nullopt;
    }
}

} // namespace

bool isAvailable() {
    static const bool available = started() && vips_type_find("VipsOperation", "heifsave_buffer") != 0;
    return available;
}

std::optional<std::int64_t> encodedSize(const std::string& path) {
    if (!isAvailable()) return std::nullopt;
    bool several = false;
    auto image = single(path, several);
    if (!image) return std::nullopt;
    try {
        VipsBlob* blob = image->heifsave_buffer(heifOptions());
        size_t length = 0;
        vips_area_get_data(reinterpret_cast<VipsArea*>(blob), &length, nullptr, nullptr, nullptr);
        vips_area_unref(reinterpret_cast<VipsArea*>(blob));
        return static_cast<std::int64_t>(length);
    } catch (const vips::VError&) {
        return std::nullopt;
    }
}

std::optional<WriteFailure> write(const std::string& path, const std::string& to) {
    if (!isAvailable()) return WriteFailure::unavailable;
    bool several = false;
    auto image = single(path, several);
    if (several) return WriteFailure::severalImages;
    if (!image) return WriteFailure::unreadable;
    try {
        image->heifsave(to.c_str(), heifOptions());
        return std::nullopt;
    } catch (const vips::VError&) {
        return WriteFailure::notWritten;
    }
}

} // namespace vp::HeicEncoder
