// The full-decode check of a HEIC/HEIF picture, faster than a libvips load and never more lenient.
//
// libvips decodes a HEIC through libheif into interleaved RGB: libheif reads and checks the
// container (boxes, item extents, grid tiles, alpha plane, rotation and crop) and hands each
// coded picture to libde265, whose entropy decoding reads every coded byte. Here libheif still
// does all of its part, but each coded picture goes to FFmpeg's HEVC decoder instead, which
// decodes the same stream in about 55 % of libde265's time. What costs without checking anything
// is skipped:
//   - the in-loop filters (deblocking), which smooth reconstructed pixels after the fact and
//     read no bytes;
//   - the colour conversion to RGB: libheif is handed the luma plane alone, so it has no
//     chroma to convert (the decoded picture's own layout is checked here instead); a tile grid
//     is still pasted into planar RGB, from the luma;
//   - the shrinking libvips does after the decode.
// A tile grid's tiles are decoded one after another on the calling thread: the scan already
// decodes a picture per core.
//
// The decoder is deterministic, so what it makes of a coded picture is a property of the coded
// bytes: a stream identical to one already decoded in this process (the same picture in a file
// whose metadata was edited, or copied into another container) is known by its SHA-256 and not
// decoded again. libheif still reads and checks the file's own container and extents.
//
// Only what libvips is sure to accept is called complete: 8-bit 4:2:0 pictures of the Main
// profiles, decoded without a single error (FFmpeg is told to stop at the first one). Anything
// else (a refusal, another codec, a layout the libde265 build or the conversion to RGB might
// refuse) is unsure, and the caller asks libvips, so no picture is refused that libvips accepts
// and none is accepted that this check has not decoded through.

#include "Decoders.h"

#include "engine/common/Digest.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <thread>
#include <vector>

namespace vp::ImageDecoders {

namespace {

constexpr heif_error ok{heif_error_Ok, heif_suberror_Unspecified, "Success"};
constexpr heif_error failed{heif_error_Decoder_plugin_error, heif_suberror_Unspecified, "The HEVC data does not decode."};
constexpr heif_error cut{heif_error_Decoder_plugin_error, heif_suberror_End_of_data, "The HEVC data ends early."};

/// What the check's decoder saw of the pictures of the file being checked on this thread.
struct DecodedPictures {
    int count = 0;
    bool allPlain = true; ///< every one 8-bit 4:2:0 Main, decoded without an error
};
thread_local DecodedPictures decodedHere;

/// What decoding one coded stream gave: one picture of this size, plain or not.
struct DecodedStream {
    int width = 0;
    int height = 0;
    bool plain = false;
};

/// The streams already decoded through, by the SHA-256 of their bytes. Bounded: forgotten all at
/// once when full, which costs only decodes.
class DecodedStreams {
public:
    std::optional<DecodedStream> find(const std::string& digest) {
        const std::lock_guard lock(m_mutex);
        const auto found = m_streams.find(digest);
        if (found == m_streams.end()) return std::nullopt;
        return found->second;
    }
    void remember(const std::string& digest, const DecodedStream& stream) {
        const std::lock_guard lock(m_mutex);
        if (m_streams.size() >= 4096) m_streams.clear();
        m_streams.insert_or_assign(digest, stream);
    }

private:
    std::mutex m_mutex;
    std::map<std::string, DecodedStream> m_streams;
};

DecodedStreams& decodedStreams() {
    static DecodedStreams streams;
    return streams;
}

// ---- an HEVC decoder for libheif on FFmpeg. Registered on the check's own contexts only, so
// thumbnails and every other libvips load keep libheif's own decoder.

struct Decoder {
    std::vector<std::uint8_t> stream; ///< Annex B: each NAL unit after a start code
};

const char* pluginName() { return "FFmpeg HEVC decoder, check only"; }
void initPlugin() {}
void deinitPlugin() {}
// Above libheif's own decoders, so that this one is chosen on the contexts it is registered on.
int supportsFormat(heif_compression_format format) { return format == heif_compression_HEVC ? 1000 : 0; }

heif_error newDecoder(void** out) {
    *out = new Decoder;
    return ok;
}

void freeDecoder(void* raw) { delete static_cast<Decoder*>(raw); }

// libheif hands over the configuration's and the item's NAL units, each after a 4-byte length;
// FFmpeg takes them after start codes.
heif_error pushData(void* raw, const void* data, std::size_t size) {
    auto& stream = static_cast<Decoder*>(raw)->stream;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    static constexpr std::uint8_t startCode[] = {0, 0, 0, 1};
    std::size_t at = 0;
    while (at < size) {
        if (size - at < 4) return cut;
        const std::uint32_t length = static_cast<std::uint32_t>(bytes[at]) << 24 |
                                     static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
                                     static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
        at += 4;
        if (length > size - at) return cut;
        stream.insert(stream.end(), std::begin(startCode), std::end(startCode));
        stream.insert(stream.end(), bytes + at, bytes + at + length);
        at += length;
    }
    return ok;
}

struct CodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

bool isPlainFrame(const AVCodecContext& codec, const AVFrame& frame) {
    const bool main = codec.profile == FF_PROFILE_HEVC_MAIN || codec.profile == FF_PROFILE_HEVC_MAIN_STILL_PICTURE;
    const bool layout = frame.format == AV_PIX_FMT_YUV420P || frame.format == AV_PIX_FMT_YUVJ420P;
    return main && layout && frame.decode_error_flags == 0 && (frame.flags & AV_FRAME_FLAG_CORRUPT) == 0;
}

/// A one-plane libheif image of the luma of `frame`, or blank for a stream decoded before (its
/// pixels are only rotated or cropped by libheif, never judged).
heif_error toLumaImage(int width, int height, const AVFrame* frame, heif_image** out) {
    heif_error error = heif_image_create(width, height, heif_colorspace_monochrome, heif_chroma_monochrome, out);
    if (error.code != heif_error_Ok) return error;
    error = heif_image_add_plane(*out, heif_channel_Y, width, height, 8);
    if (error.code != heif_error_Ok) {
        heif_image_release(*out);
        *out = nullptr;
        return error;
    }
    int stride = 0;
    std::uint8_t* target = heif_image_get_plane(*out, heif_channel_Y, &stride);
    for (int row = 0; row < height; ++row) {
        std::uint8_t* line = target + static_cast<std::ptrdiff_t>(row) * stride;
        if (frame != nullptr)
            std::memcpy(line, frame->data[0] + static_cast<std::ptrdiff_t>(row) * frame->linesize[0],
                        static_cast<std::size_t>(width));
        else
            std::memset(line, 0, static_cast<std::size_t>(width));
    }
    return ok;
}

/// Decodes `stream` through, one picture expected, and hands its luma to libheif.
heif_error decodeStream(std::vector<std::uint8_t>& stream, heif_image** out, DecodedStream& decoded) {
    const AVCodec* hevc = avcodec_find_decoder(AV_CODEC_ID_HEVC);
    if (hevc == nullptr) return failed;
    const std::unique_ptr<AVCodecContext, CodecDeleter> codec(avcodec_alloc_context3(hevc));
    const std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    const std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    if (!codec || !packet || !frame) return failed;
    codec->thread_count = 1;
    // A stream's own header may claim more than the container's: refused before any allocation.
    codec->max_pixels = maximumPixels;
    codec->skip_loop_filter = AVDISCARD_ALL; // deblocking only: every coded byte is still decoded
    codec->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER | AV_EF_CRCCHECK;
    if (avcodec_open2(codec.get(), hevc, nullptr) < 0) return failed;

    const std::size_t size = stream.size();
    stream.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0); // FFmpeg's readers may look past the end
    packet->data = stream.data();
    packet->size = static_cast<int>(size);
    if (size > static_cast<std::size_t>(INT32_MAX) || avcodec_send_packet(codec.get(), packet.get()) < 0 ||
        avcodec_send_packet(codec.get(), nullptr) < 0)
        return failed;
    int pictures = 0;
    int received = 0;
    while ((received = avcodec_receive_frame(codec.get(), frame.get())) == 0) {
        if (++pictures > 1) break;
        decoded = {frame->width, frame->height, isPlainFrame(*codec, *frame)};
        const heif_error error = toLumaImage(frame->width, frame->height, frame.get(), out);
        av_frame_unref(frame.get());
        if (error.code != heif_error_Ok) return error;
    }
    return received == AVERROR_EOF && pictures == 1 ? ok : failed;
}

heif_error decodeImage(void* raw, heif_image** out) {
    *out = nullptr;
    auto& stream = static_cast<Decoder*>(raw)->stream;
    const std::string digest =
        sha256Hex(std::string_view(reinterpret_cast<const char*>(stream.data()), stream.size()));
    heif_error error = ok;
    std::optional<DecodedStream> decoded = decodedStreams().find(digest);
    if (decoded) {
        error = toLumaImage(decoded->width, decoded->height, nullptr, out);
    } else {
        decoded.emplace();
        error = decodeStream(stream, out, *decoded);
        if (error.code == heif_error_Ok) decodedStreams().remember(digest, *decoded);
    }
    if (error.code != heif_error_Ok) {
        if (*out != nullptr) heif_image_release(*out);
        *out = nullptr;
        return error;
    }
    ++decodedHere.count;
    decodedHere.allPlain = decodedHere.allPlain && decoded->plain;
    return ok;
}

void setStrictDecoding(void*, int) {}

const heif_decoder_plugin checkingDecoder{3,           pluginName,   initPlugin,    deinitPlugin,
                                          supportsFormat, newDecoder, freeDecoder,   pushData,
                                          decodeImage, setStrictDecoding, "velmo-check-ffmpeg-hevc"};

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};

/// The plane that carries the picture's full size: the luma handed over above, or the first of
/// the planar RGB libheif pastes a tile grid into.
heif_channel mainChannel(const heif_image* image) {
    return heif_image_has_channel(image, heif_channel_Y) != 0 ? heif_channel_Y : heif_channel_R;
}

bool quietFfmpeg() {
    // A damaged picture is an outcome the caller reports, not a message for the terminal.
    av_log_set_level(AV_LOG_QUIET);
    return true;
}

} // namespace

std::string heifCheckRevision() { return std::string("lavc ") + LIBAVCODEC_IDENT; }

HeifCheck heifDecodesFully(const std::string& path) {
    if (!startVips()) return HeifCheck::unsure; // libvips starts libheif and its plugins
    static const bool quiet = quietFfmpeg();
    (void)quiet;
    // A 12-megapixel picture holds some 40 MB in decoder and libheif buffers: as many decodes at
    // once as there are cores keep the cores busy and bound the memory.
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
    // Tiles are decoded on this thread, where the decoder records what it saw.
    heif_context_set_max_decoding_threads(context.get(), 0);
    if (heif_context_read_from_file(context.get(), path.c_str(), nullptr).code != heif_error_Ok)
        return HeifCheck::unsure;
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        return HeifCheck::unsure;
    const std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    if (exceedsPixelBudget(width, height)) return HeifCheck::unsure;

    decodedHere = {};
    heif_image* rawImage = nullptr;
    const heif_error error =
        heif_decode_image(handle.get(), &rawImage, heif_colorspace_undefined, heif_chroma_undefined, nullptr);
    const std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
    // At least one coded picture went through the decoder above, every one of them plain.
    if (error.code != heif_error_Ok || !image || decodedHere.count == 0 || !decodedHere.allPlain)
        return HeifCheck::unsure;
    // libvips refuses a decode whose size differs from the header's.
    if (heif_image_get_width(image.get(), mainChannel(image.get())) != width ||
        heif_image_get_height(image.get(), mainChannel(image.get())) != height)
        return HeifCheck::unsure;
    return HeifCheck::complete;
}

} // namespace vp::ImageDecoders
