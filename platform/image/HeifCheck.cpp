// The full-decode check of a HEIC/HEIF picture, faster than a libvips load and exactly as strict.
//
// libvips decodes a HEIC through libheif into interleaved RGB, and the picture's bytes are all
// read and checked by libde265 on the way: the container by libheif (boxes, item extents, grid
// tiles, alpha plane, rotation and crop), every coded byte by libde265's entropy decoding. What
// costs without checking anything is skipped here:
//   - the colour conversion to RGB (a sixth of the time): the picture is asked for in its own
//     colour space and chroma;
//   - libde265's deblocking and SAO filters, which smooth reconstructed pixels after the fact
//     and read no bytes (their parameters are still parsed);
//   - the shrinking libvips does after the decode.
// libde265 decodes wavefront rows on two threads of its own, which shortens the last decodes of
// a scan when the scan's own workers run out of pictures.
//
// The same libheif and libde265 calls decide the verdict, so a refusal here is a refusal there.
// Whatever is unusual (an image whose planes a conversion to RGB might refuse, another codec
// than HEVC) is handed to the libvips check instead, and so is every refusal: the caller asks
// libvips again before calling a picture damaged, so no picture libvips accepts is refused.

#include "Decoders.h"

#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <semaphore>
#include <thread>
#include <vector>

namespace vp::ImageDecoders {

namespace {

constexpr heif_error ok{heif_error_Ok, heif_suberror_Unspecified, "Success"};
constexpr heif_error failed{heif_error_Decoder_plugin_error, heif_suberror_Unspecified, "The HEVC data does not decode."};
constexpr heif_error cut{heif_error_Decoder_plugin_error, heif_suberror_End_of_data, "The HEVC data ends early."};

// ---- an HEVC decoder for libheif: libde265 as libheif's own plugin drives it, without the
// two in-loop filters. Registered on the check's own contexts only, so thumbnails and every
// other libvips load keep the full decoder.

struct Decoder {
    de265_decoder_context* context = nullptr;
};

const char* pluginName() { return "libde265 HEVC decoder, check only"; }
void initPlugin() {}
void deinitPlugin() {}
int supportsFormat(heif_compression_format format) { return format == heif_compression_HEVC ? 100 : 0; }

heif_error newDecoder(void** out) {
    auto* decoder = new Decoder{de265_new_decoder()};
    de265_set_parameter_bool(decoder->context, DE265_DECODER_PARAM_DISABLE_DEBLOCKING, 1);
    de265_set_parameter_bool(decoder->context, DE265_DECODER_PARAM_DISABLE_SAO, 1);
    static const int threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1U, 4U));
    de265_start_worker_threads(decoder->context, threads);
    *out = decoder;
    return ok;
}

void freeDecoder(void* raw) {
    auto* decoder = static_cast<Decoder*>(raw);
    de265_free_decoder(decoder->context);
    delete decoder;
}

// libheif hands over the configuration's and the item's NAL units, each after a 4-byte length.
heif_error pushData(void* raw, const void* data, std::size_t size) {
    auto* decoder = static_cast<Decoder*>(raw);
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t at = 0;
    while (at < size) {
        if (size - at < 4) return cut;
        const std::uint32_t length = static_cast<std::uint32_t>(bytes[at]) << 24 |
                                     static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
                                     static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
        at += 4;
        if (length > size - at) return cut;
        de265_push_NAL(decoder->context, bytes + at, length, 0, nullptr);
        at += length;
    }
    return ok;
}

heif_channel planeChannel(int plane) {
    return plane == 0 ? heif_channel_Y : plane == 1 ? heif_channel_Cb : heif_channel_Cr;
}

heif_error toHeifImage(const de265_image* picture, heif_image** out) {
    const bool mono = de265_get_chroma_format(picture) == de265_chroma_mono;
    heif_error error = heif_image_create(de265_get_image_width(picture, 0), de265_get_image_height(picture, 0),
                                         mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr,
                                         static_cast<heif_chroma>(de265_get_chroma_format(picture)), out);
    if (error.code != heif_error_Ok) return error;
    const int bits = de265_get_bits_per_pixel(picture, 0);
    for (int plane = 0; plane < (mono ? 1 : 3); ++plane) {
        const int width = de265_get_image_width(picture, plane);
        const int height = de265_get_image_height(picture, plane);
        if (de265_get_bits_per_pixel(picture, plane) != bits || width <= 0 || height <= 0) {
            heif_image_release(*out);
            *out = nullptr;
            return failed;
        }
        error = heif_image_add_plane(*out, planeChannel(plane), width, height, bits);
        if (error.code != heif_error_Ok) {
            heif_image_release(*out);
            *out = nullptr;
            return error;
        }
        int sourceStride = 0, targetStride = 0;
        const std::uint8_t* source = de265_get_image_plane(picture, plane, &sourceStride);
        std::uint8_t* target = heif_image_get_plane(*out, planeChannel(plane), &targetStride);
        const std::size_t rowBytes = static_cast<std::size_t>(width) * ((bits + 7) / 8);
        for (int row = 0; row < height; ++row)
            std::memcpy(target + static_cast<std::ptrdiff_t>(row) * targetStride,
                        source + static_cast<std::ptrdiff_t>(row) * sourceStride, rowBytes);
    }
    return ok;
}

heif_error decodeImage(void* raw, heif_image** out) {
    auto* decoder = static_cast<Decoder*>(raw);
    de265_flush_data(decoder->context);
    *out = nullptr;
    int more = 0;
    do {
        more = 0;
        if (de265_decode(decoder->context, &more) != DE265_OK) break;
        if (const de265_image* picture = de265_get_next_picture(decoder->context)) {
            if (*out != nullptr) heif_image_release(*out);
            *out = nullptr;
            const heif_error error = toHeifImage(picture, out);
            de265_release_next_picture(decoder->context);
            if (error.code != heif_error_Ok) return error;
        }
    } while (more != 0);
    return ok;
}

void setStrictDecoding(void*, int) {}

const heif_decoder_plugin checkingDecoder{3,           pluginName,   initPlugin,    deinitPlugin,
                                          supportsFormat, newDecoder, freeDecoder,   pushData,
                                          decodeImage, setStrictDecoding, "velmo-check-libde265"};

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};

/// The plane that carries the picture's full size: luma, or green-red-blue's first plane for a
/// picture coded without a colour matrix (libheif then hands over planar RGB).
heif_channel mainChannel(const heif_image* image) {
    return heif_image_get_colorspace(image) == heif_colorspace_RGB ? heif_channel_R : heif_channel_Y;
}

/// Planes of 8 bits in one of the layouts every conversion to RGB takes.
bool isPlainPicture(const heif_image* image) {
    const heif_colorspace space = heif_image_get_colorspace(image);
    const heif_chroma chroma = heif_image_get_chroma_format(image);
    std::vector<heif_channel> channels;
    if (space == heif_colorspace_YCbCr &&
        (chroma == heif_chroma_420 || chroma == heif_chroma_422 || chroma == heif_chroma_444))
        channels = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    else if (space == heif_colorspace_RGB && chroma == heif_chroma_444)
        channels = {heif_channel_R, heif_channel_G, heif_channel_B};
    else if (space == heif_colorspace_monochrome && chroma == heif_chroma_monochrome)
        channels = {heif_channel_Y};
    else
        return false;
    if (heif_image_has_channel(image, heif_channel_Alpha)) channels.push_back(heif_channel_Alpha);
    for (const heif_channel channel : channels)
        if (!heif_image_has_channel(image, channel) || heif_image_get_bits_per_pixel_range(image, channel) != 8)
            return false;
    return true;
}

} // namespace

HeifCheck heifDecodesFully(const std::string& path) {
    if (!startVips()) return HeifCheck::unsure; // libvips starts libheif and its plugins
    // A 12-megapixel picture holds some 70 MB in decoder and libheif buffers. As many decodes
    // at once as there are cores, each on libde265's threads, keep the cores busy; the scan's
    // four workers would otherwise hold four of them.
    static std::counting_semaphore<8> decoders(
        static_cast<std::ptrdiff_t>(std::clamp(std::thread::hardware_concurrency(), 1U, 4U)));
    decoders.acquire();
    struct Release {
        std::counting_semaphore<8>& semaphore;
        ~Release() { semaphore.release(); }
    } release{decoders};
    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context) return HeifCheck::unsure;
    if (heif_register_decoder(context.get(), &checkingDecoder).code != heif_error_Ok) return HeifCheck::unsure;
    if (heif_context_read_from_file(context.get(), path.c_str(), nullptr).code != heif_error_Ok)
        return HeifCheck::unsure;
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        return HeifCheck::unsure;
    const std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    if (exceedsPixelBudget(width, height)) return HeifCheck::unsure;

    heif_image* rawImage = nullptr;
    const heif_error error =
        heif_decode_image(handle.get(), &rawImage, heif_colorspace_undefined, heif_chroma_undefined, nullptr);
    const std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
    if (error.code != heif_error_Ok || !image) return HeifCheck::unsure;
    // libvips refuses a decode whose size differs from the header's.
    if (heif_image_get_width(image.get(), mainChannel(image.get())) != width ||
        heif_image_get_height(image.get(), mainChannel(image.get())) != height)
        return HeifCheck::unsure;
    return isPlainPicture(image.get()) ? HeifCheck::complete : HeifCheck::unsure;
}

} // namespace vp::ImageDecoders
