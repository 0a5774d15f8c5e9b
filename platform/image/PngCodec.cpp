// PNG in memory for the shared thumbnail cache: libvips encodes and decodes the pixels, and the
// text chunks the cache keys on are written here, byte for byte. libvips 8.14 would write them
// itself from "png-comment-N-key" fields, but only as compressed zTXt chunks, while the
// thumbnail standard and its readers expect plain tEXt; it does read all three kinds back.

#include "Decoders.h"
#include "VipsBitmap.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace vp::ImageDecoders {

namespace {

using vips::VError;
using vips::VImage;

constexpr std::string_view pngSignature = "\x89PNG\r\n\x1a\n";
// The signature, then the header chunk: length, "IHDR", 13 bytes of fields and a CRC.
constexpr std::size_t afterHeaderChunk = 8 + 4 + 4 + 13 + 4;
constexpr std::string_view commentPrefix = "png-comment-";


void appendBigEndian(std::string& bytes, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
}

bool isValidKeyword(std::string_view keyword) {
    if (keyword.empty() || keyword.size() > 79 || keyword.front() == ' ' || keyword.back() == ' ') return false;
    return std::all_of(keyword.begin(), keyword.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

std::string textChunk(const PngText& text) {
    std::string data = text.keyword;
    data.push_back('\0');
    data += text.text;
    std::string chunk;
    appendBigEndian(chunk, static_cast<std::uint32_t>(data.size()));
    chunk += "tEXt";
    chunk += data;
    // The CRC covers the chunk type and its data, not the length.
    uLong crc = ::crc32(0L, Z_NULL, 0);
    crc = ::crc32(crc, reinterpret_cast<const Bytef*>(chunk.data() + 4), static_cast<uInt>(chunk.size() - 4));
    appendBigEndian(chunk, static_cast<std::uint32_t>(crc));
    return chunk;
}

bool looksLikePng(std::string_view bytes) {
    return bytes.size() >= afterHeaderChunk && bytes.starts_with(pngSignature) && bytes.substr(12, 4) == "IHDR";
}

// libvips reads from the caller's memory without copying it; `bytes` outlives the image.
VImage openPng(std::string_view bytes, VipsFailOn failOn) {
    return VImage::new_from_buffer(bytes.data(), bytes.size(), "",
                                   VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL)->set("fail_on", failOn));
}

} // namespace

Result<std::string, ImageFailure> encodePng(const Bitmap& image, const std::vector<PngText>& texts) {
    if (!startVips()) return Unexpected{failure(ImageFailure::Kind::cannotOpen, "The image library did not start.")};
    if (image.width < 1 || image.height < 1 || (image.channels != 1 && image.channels != 3) ||
        image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * image.channels)
        return Unexpected{failure(ImageFailure::Kind::damaged, "The bitmap's size and pixels do not agree.")};
    for (const auto& text : texts)
        if (!isValidKeyword(text.keyword) || text.text.find('\0') != std::string::npos)
            return Unexpected{failure(ImageFailure::Kind::damaged, "A PNG text entry is not plain text.")};

    std::string encoded;
    try {
        VImage pixels = VImage::new_from_memory(const_cast<std::uint8_t*>(image.pixels.data()), image.pixels.size(),
                                                image.width, image.height, image.channels, VIPS_FORMAT_UCHAR);
        if (image.channels == 1) pixels = pixels.bandjoin({pixels, pixels});
        // The standard asks for RGBA; a photo's thumbnail is opaque everywhere.
        pixels = pixels.bandjoin_const({255.0}).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        VipsBlob* blob = pixels.pngsave_buffer(
            VImage::option()
                ->set("strip", true)
                ->set("interlace", false)
                // Adaptive row filters make a photo's thumbnail about a fifth smaller than none;
                // with them, zlib's level 1 is within 6% of level 6 in size and over ten times
                // faster (a 256-pixel thumbnail: about 5 ms against 100).
                ->set("filter", VIPS_FOREIGN_PNG_FILTER_ALL)
                ->set("compression", 1));
        const auto release = [](VipsBlob* owned) { vips_area_unref(VIPS_AREA(owned)); };
        const std::unique_ptr<VipsBlob, decltype(release)> owner(blob, release);
        std::size_t size = 0;
        const auto* data = static_cast<const char*>(vips_blob_get(blob, &size));
        encoded.assign(data, size);
    } catch (const VError& error) {
        return Unexpected{failure(error)};
    }
    if (!looksLikePng(encoded))
        return Unexpected{failure(ImageFailure::Kind::damaged, "The image library wrote no PNG header.")};

    std::string chunks;
    for (const auto& text : texts) chunks += textChunk(text);
    encoded.insert(afterHeaderChunk, chunks);
    return encoded;
}

Result<PngHeader, ImageFailure> readPngHeader(std::string_view bytes) {
    if (!looksLikePng(bytes)) return Unexpected{failure(ImageFailure::Kind::notDecodable, "It is not a PNG.")};
    if (!startVips()) return Unexpected{failure(ImageFailure::Kind::cannotOpen, "The image library did not start.")};
    try {
        const VImage image = openPng(bytes, VIPS_FAIL_ON_ERROR);
        PngHeader header{image.width(), image.height(), {}};
        std::unique_ptr<gchar*, decltype(&g_strfreev)> fields(vips_image_get_fields(image.get_image()), &g_strfreev);
        for (gchar** field = fields.get(); *field != nullptr; ++field) {
            // "png-comment-3-Thumb::MTime": a counter, a dash, then the keyword as written.
            const std::string_view name(*field);
            if (!name.starts_with(commentPrefix)) continue;
            const auto dash = name.find('-', commentPrefix.size());
            const GType type = image.get_typeof(*field);
            if (dash == std::string_view::npos || (type != VIPS_TYPE_REF_STRING && type != G_TYPE_STRING)) continue;
            header.texts.push_back({std::string(name.substr(dash + 1)), image.get_string(*field)});
        }
        return header;
    } catch (const VError& error) {
        return Unexpected{failure(error)};
    }
}

Result<Bitmap, ImageFailure> decodePng(std::string_view bytes) {
    if (!looksLikePng(bytes)) return Unexpected{failure(ImageFailure::Kind::notDecodable, "It is not a PNG.")};
    if (!startVips()) return Unexpected{failure(ImageFailure::Kind::cannotOpen, "The image library did not start.")};
    try {
        const VImage image = openPng(bytes, VIPS_FAIL_ON_ERROR);
        // The standard's own format, 8-bit RGBA, is flattened here in integers: libvips would
        // go through floating point and take half as long again as the decoding.
        if (image.bands() != 4 || image.format() != VIPS_FORMAT_UCHAR ||
            image.interpretation() != VIPS_INTERPRETATION_sRGB)
            return toBitmap(image);
        std::size_t size = 0;
        const std::unique_ptr<void, decltype(&g_free)> memory(image.write_to_memory(&size), &g_free);
        const auto* rgba = static_cast<const std::uint8_t*>(memory.get());
        Bitmap bitmap{image.width(), image.height(), 3, std::vector<std::uint8_t>(size / 4 * 3)};
        for (std::size_t from = 0, to = 0; from + 3 < size; from += 4, to += 3) {
            const unsigned alpha = rgba[from + 3];
            for (int channel = 0; channel < 3; ++channel)
                bitmap.pixels[to + channel] =
                    static_cast<std::uint8_t>((rgba[from + channel] * alpha + 255 * (255 - alpha) + 127) / 255);
        }
        return bitmap;
    } catch (const VError& error) {
        return Unexpected{failure(error)};
    }
}

} // namespace vp::ImageDecoders
