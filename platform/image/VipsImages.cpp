// libvips: JPEG, PNG, HEIC/HEIF, TIFF and the other everyday formats.

#include "Decoders.h"
#include "VipsBitmap.h"

#include <vips/vips8>
#include <vips/vector.h>

#include <libde265/de265.h>
#include <libheif/heif.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <unistd.h>

namespace vp::ImageDecoders {

namespace {

using vips::VError;
using vips::VImage;


void discardLogMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// A progressive JPEG keeps every DCT coefficient of the picture in memory until its last
// scan, and a few kilobytes of file can claim tens of thousands of pixels a side. libjpeg
// reads this ceiling per decoder and fails the file when it needs more. 512 MB still lets a
// 100-megapixel progressive JPEG through (it takes about 330 MB with the usual halved colour
// resolution); baseline JPEGs stream and never come near it. Set before main, while no other
// thread can be reading the environment; a value the user set wins.
[[maybe_unused]] const bool jpegMemoryCeilingSet = ::setenv("JPEGMEM", "512M", 0) == 0;

bool startOnce() {
    if (VIPS_INIT("velmo-pristel") != 0) return false;
    // Every picture is opened once per stage and files may change between scans: a cache of
    // open images would only hold memory and could answer with an older version of a file.
    vips_cache_set_max(0);
    // Only the photo formats are wanted; the untrusted loaders (ImageMagick, PDF, SVG, FITS,
    // ...) would take any garbage with a picture extension as something to parse.
    vips_block_untrusted_set(TRUE);
    // libvips's run-time vector code (liborc) frees its compiled programs unsafely when many
    // pictures are decoded on several threads at once: a scan of 50,000 pictures crashed in
    // orc_code_free. The plain C paths give the same pixels.
    vips_vector_set_enabled(FALSE);
    // The engine decodes up to four pictures at once on its own workers. libvips's threads
    // per picture would only compete with them for the same cores; measured on two cores,
    // four workers make thumbnails about a third faster with one libvips thread each.
    if (std::getenv("VIPS_CONCURRENCY") == nullptr) vips_concurrency_set(1);
    // A damaged file is an outcome the caller reports, not a message for the terminal.
    g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
                      discardLogMessage, nullptr);
    return true;
}

std::optional<std::string> text(const VImage& image, const char* field) {
    if (image.get_typeof(field) == 0) return std::nullopt;
    try {
        return std::string(image.get_string(field));
    } catch (const VError&) {
        return std::nullopt;
    }
}

// libvips hands EXIF entries over as "value (value, Format, N components, M bytes)"; the
// value is what libexif printed and may itself hold " (", so the split is found where the
// text in parentheses starts with the same value again.
std::optional<std::string> exifValue(const VImage& image, const char* field) {
    const auto whole = text(image, field);
    if (!whole) return std::nullopt;
    for (auto open = whole->find(" ("); open != std::string::npos; open = whole->find(" (", open + 1)) {
        const std::string_view value(whole->data(), open);
        const std::string_view rest = std::string_view(*whole).substr(open + 2);
        if (rest.starts_with(value) && rest.substr(value.size()).starts_with(",")) {
            std::string trimmedValue(value);
            while (!trimmedValue.empty() && trimmedValue.back() == ' ') trimmedValue.pop_back();
            if (trimmedValue.empty()) return std::nullopt;
            return trimmedValue;
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> exifNumber(const VImage& image, const char* field) {
    const auto value = exifValue(image, field);
    if (!value) return std::nullopt;
    char* end = nullptr;
    const long long number = std::strtoll(value->c_str(), &end, 10);
    if (end == value->c_str() || number <= 0) return std::nullopt;
    return number;
}

std::optional<int> integer(const VImage& image, const char* field) {
    if (image.get_typeof(field) != G_TYPE_INT) return std::nullopt;
    return image.get_int(field);
}

std::string typeIdentifier(const VImage& image, std::string_view loader) {
    if (loader.starts_with("jpegload")) return "public.jpeg";
    if (loader.starts_with("pngload")) return "public.png";
    if (loader.starts_with("tiffload")) return "public.tiff";
    if (loader.starts_with("gifload")) return "com.compuserve.gif";
    if (loader.starts_with("webpload")) return "org.webmproject.webp";
    if (loader.starts_with("jp2kload")) return "public.jpeg-2000";
    if (loader.starts_with("heifload")) {
        const auto compression = text(image, "heif-compression");
        if (compression == "hevc") return "public.heic";
        if (compression == "av1") return "public.avif";
        return "public.heif";
    }
    return "public.image";
}

// What libvips would load the file with, found from its first bytes; absent when the file
// cannot be opened or no trusted loader knows the content.
Result<std::string, ImageFailure> findLoader(const std::string& path) {
    if (!startVips()) return Unexpected{failure(ImageFailure::Kind::cannotOpen, "The image library did not start.")};
    if (::access(path.c_str(), R_OK) != 0)
        return Unexpected{failure(ImageFailure::Kind::cannotOpen, "The file cannot be read.")};
    const char* loader = vips_foreign_find_load(path.c_str());
    if (loader == nullptr) vips_error_clear();
    // Only photo formats count. Finding a loader does not skip blocked ones, and a trusted
    // loader for an odd format (CSV, PPM, Radiance) has no business reading a photo folder.
    constexpr std::string_view photoLoaders[] = {"VipsForeignLoadJpeg", "VipsForeignLoadPng",  "VipsForeignLoadTiff",
                                                 "VipsForeignLoadHeif", "VipsForeignLoadNsgif", "VipsForeignLoadWebp"};
    if (loader != nullptr)
        for (const auto photoLoader : photoLoaders)
            if (std::string_view(loader).starts_with(photoLoader)) return std::string(loader);
    return Unexpected{failure(ImageFailure::Kind::notDecodable, "Not a picture format this computer reads.")};
}

VImage openHeader(const std::string& path) {
    return VImage::new_from_file(path.c_str(), VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
}

} // namespace

ImageFailure failure(ImageFailure::Kind kind, std::string detail) { return {kind, std::move(detail)}; }

ImageFailure failure(const VError& error) {
    // libvips collects messages in one process-wide buffer; emptied here, the next failure
    // does not carry this one's text.
    vips_error_clear();
    std::string detail = error.what();
    while (!detail.empty() && detail.back() == '\n') detail.pop_back();
    return {ImageFailure::Kind::damaged, std::move(detail)};
}

Bitmap toBitmap(VImage image) {
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB || image.format() != VIPS_FORMAT_UCHAR)
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    if (image.has_alpha()) image = image.flatten(VImage::option()->set("background", std::vector<double>{255.0}));
    if (image.format() != VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_UCHAR);
    if (image.bands() > 3) image = image.extract_band(0, VImage::option()->set("n", 3));
    if (image.bands() < 3) image = image.extract_band(0).bandjoin({image.extract_band(0), image.extract_band(0)});

    Bitmap bitmap{image.width(), image.height(), 3, {}};
    std::size_t size = 0;
    std::unique_ptr<void, decltype(&g_free)> memory(image.write_to_memory(&size), &g_free);
    const auto* bytes = static_cast<const std::uint8_t*>(memory.get());
    bitmap.pixels.assign(bytes, bytes + size);
    return bitmap;
}

bool isHeif(const std::string& path) {
    const auto loader = findLoader(path);
    return loader && loader->starts_with("VipsForeignLoadHeif");
}

std::string vipsRevision() {
    std::string revision = std::string("vips ") + vips_version_string() + "; heif " + heif_get_version();
    revision += std::string("; de265 ") + de265_get_version();
    revision += std::string("; ") + TIFFGetVersion();
    for (char& c : revision)
        if (c == '\n') c = ' ';
    return revision;
}

bool exceedsPixelBudget(std::int64_t width, std::int64_t height) {
    return width <= 0 || height <= 0 || width > maximumPixels / height;
}

bool startVips() {
    static const bool started = startOnce();
    return started;
}

Result<ImageProperties, ImageFailure> vipsProperties(const std::string& path) {
    auto loader = findLoader(path);
    if (!loader) return Unexpected{loader.error()};
    try {
        const VImage image = openHeader(path);
        ImageProperties properties;
        properties.typeIdentifier = typeIdentifier(image, text(image, "vips-loader").value_or(""));
        properties.pixelWidth = image.width();
        properties.pixelHeight = image.height();
        properties.exifPixelX = exifNumber(image, "exif-ifd2-PixelXDimension");
        properties.exifPixelY = exifNumber(image, "exif-ifd2-PixelYDimension");
        if (const auto orientation = integer(image, VIPS_META_ORIENTATION); orientation >= 1 && orientation <= 8)
            properties.orientation = orientation;
        properties.dateTimeOriginal = exifValue(image, "exif-ifd2-DateTimeOriginal");
        properties.make = exifValue(image, "exif-ifd0-Make");
        properties.model = exifValue(image, "exif-ifd0-Model");
        properties.imageCount = std::max(1, integer(image, VIPS_META_N_PAGES).value_or(1));
        if (properties.typeIdentifier == "public.tiff") {
            auto tags = readTiffTags(path);
            if (!properties.make) properties.make = std::move(tags.make);
            if (!properties.model) properties.model = std::move(tags.model);
            if (!properties.dateTimeOriginal) properties.dateTimeOriginal = std::move(tags.dateTimeOriginal);
            if (!properties.exifPixelX) properties.exifPixelX = tags.exifPixelX;
            if (!properties.exifPixelY) properties.exifPixelY = tags.exifPixelY;
        }
        return properties;
    } catch (const VError& error) {
        return Unexpected{failure(error)};
    }
}

Result<Bitmap, ImageFailure> vipsThumbnail(const std::string& path, int longestSide, Strictness strictness) {
    auto loader = findLoader(path);
    if (!loader) return Unexpected{loader.error()};
    const VipsFailOn failOn = strictness == Strictness::tolerant ? VIPS_FAIL_ON_NONE : VIPS_FAIL_ON_TRUNCATED;
    try {
        const VImage header = openHeader(path);
        if (exceedsPixelBudget(header.width(), header.height()))
            return Unexpected{failure(ImageFailure::Kind::tooLarge,
                                      std::to_string(header.width()) + " × " + std::to_string(header.height()) +
                                          " pixels is more than this computer decodes.")};
        // size=down: a thumbnail never enlarges a small picture.
        auto fit = [&] {
            return VImage::option()->set("height", longestSide)->set("size", VIPS_SIZE_DOWN);
        };
        VImage thumbnail;
        if (loader->starts_with("VipsForeignLoadHeif")) {
            // The thumbnail operation would take a HEIC's embedded preview whenever it is big
            // enough; loading the primary image explicitly makes every thumbnail come from
            // the full picture. libheif has already applied the file's rotation.
            thumbnail = VImage::heifload(path.c_str(), VImage::option()
                                                           ->set("thumbnail", false)
                                                           ->set("access", VIPS_ACCESS_SEQUENTIAL)
                                                           ->set("fail_on", failOn))
                            .thumbnail_image(longestSide, fit());
        } else {
            // Opening by file name lets the loader shrink while decoding (JPEG DCT scaling,
            // TIFF pyramids), so full-size pixels are never held.
            thumbnail = VImage::thumbnail(path.c_str(), longestSide, fit()->set("fail_on", failOn));
        }
        return toBitmap(thumbnail);
    } catch (const VError& error) {
        return Unexpected{failure(error)};
    }
}

Result<Bitmap, ImageFailure> shrinkPixels(const std::uint8_t* pixels, int width, int height, int channels,
                                          int longestSide) {
    if (!startVips()) return Unexpected{failure(ImageFailure::Kind::cannotOpen, "The image library did not start.")};
    try {
        VImage image = VImage::new_from_memory(const_cast<std::uint8_t*>(pixels),
                                               static_cast<std::size_t>(width) * height * channels, width, height,
                                               channels, VIPS_FORMAT_UCHAR);
        image = image.copy(VImage::option()->set(
            "interpretation", channels >= 3 ? VIPS_INTERPRETATION_sRGB : VIPS_INTERPRETATION_B_W));
        return toBitmap(image.thumbnail_image(
            longestSide, VImage::option()->set("height", longestSide)->set("size", VIPS_SIZE_DOWN)->set("no_rotate", true)));
    } catch (const VError& error) {
        return Unexpected{failure(error)};
    }
}

Result<Bitmap, ImageFailure> vipsGreySquare(const Bitmap& bitmap, int side) {
    if (!startVips()) return Unexpected{failure(ImageFailure::Kind::cannotOpen, "The image library did not start.")};
    if (bitmap.width < 1 || bitmap.height < 1 || side < 1 || (bitmap.channels != 1 && bitmap.channels != 3) ||
        bitmap.pixels.size() != static_cast<std::size_t>(bitmap.width) * bitmap.height * bitmap.channels)
        return Unexpected{failure(ImageFailure::Kind::damaged, "The bitmap's size and pixels do not agree.")};
    try {
        VImage image = VImage::new_from_memory(const_cast<std::uint8_t*>(bitmap.pixels.data()), bitmap.pixels.size(),
                                               bitmap.width, bitmap.height, bitmap.channels, VIPS_FORMAT_UCHAR);
        if (bitmap.channels == 3)
            image = image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
                        .colourspace(VIPS_INTERPRETATION_B_W);
        // Separate horizontal and vertical scales stretch to the square; Lanczos keeps the
        // reduction smooth, and resize interpolates when a side has to grow.
        const double horizontal = static_cast<double>(side) / bitmap.width;
        const double vertical = static_cast<double>(side) / bitmap.height;
        image = image.resize(horizontal, VImage::option()->set("vscale", vertical)->set("kernel", VIPS_KERNEL_LANCZOS3));
        // Rounding inside resize may leave a side one pixel off; the edge is repeated or cut.
        if (image.width() != side || image.height() != side)
            image = image.embed(0, 0, side, side, VImage::option()->set("extend", VIPS_EXTEND_COPY));
        image = image.cast(VIPS_FORMAT_UCHAR);

        Bitmap grey{side, side, 1, {}};
        std::size_t size = 0;
        std::unique_ptr<void, decltype(&g_free)> memory(image.write_to_memory(&size), &g_free);
        const auto* bytes = static_cast<const std::uint8_t*>(memory.get());
        grey.pixels.assign(bytes, bytes + size);
        return grey;
    } catch (const VError& error) {
        return Unexpected{failure(error)};
    }
}

std::set<std::string> vipsDecodableTypes() {
    std::set<std::string> types;
    if (!startVips()) return types;
    const std::pair<const char*, std::vector<const char*>> byLoader[] = {
        {"jpegload", {"public.jpeg"}},
        {"pngload", {"public.png"}},
        {"tiffload", {"public.tiff"}},
        {"gifload", {"com.compuserve.gif"}},
        {"webpload", {"org.webmproject.webp"}},
    };
    for (const auto& [loader, identifiers] : byLoader)
        if (vips_type_find("VipsOperation", loader) != 0) types.insert(identifiers.begin(), identifiers.end());
    // The HEIF loader is a module that loads whatever libheif offers; which codecs libheif
    // has plugged in decides whether HEIC (HEVC) or AVIF (AV1) files really decode.
    if (vips_type_find("VipsOperation", "heifload") != 0 && heif_init(nullptr).code == heif_error_Ok) {
        if (heif_have_decoder_for_format(heif_compression_HEVC) != 0) types.insert({"public.heic", "public.heif"});
        if (heif_have_decoder_for_format(heif_compression_AV1) != 0) types.insert("public.avif");
    }
    return types;
}

} // namespace vp::ImageDecoders
