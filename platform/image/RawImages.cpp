// LibRaw: camera RAW files, their camera, orientation and sensor data.

#include "Decoders.h"

#include "engine/common/Text.h"
#include "platform/TypeIdentifiers.h"

#include <libraw/libraw.h>

#include <ctime>
#include <memory>

namespace vp::ImageDecoders {

namespace {

ImageFailure failure(ImageFailure::Kind kind, std::string detail) { return {kind, std::move(detail)}; }

// A LibRaw processor per call: the object holds the whole decoding state, so one instance per
// thread is what makes the reentrant build safe to use from several threads.
class RawFile {
public:
    RawFile() : m_processor(std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE)) {
        // Bad sensor data is counted, not printed: it is what makes a RAW damaged.
        m_processor->set_dataerror_handler(&RawFile::countDataError, this);
    }

    /// Opens the file and reads its header. notDecodable when LibRaw does not take it as a RAW.
    std::optional<ImageFailure> open(const std::string& path) {
        const int status = m_processor->open_file(path.c_str());
        if (status == LIBRAW_SUCCESS) return std::nullopt;
        if (status == LIBRAW_FILE_UNSUPPORTED) return failure(ImageFailure::Kind::notDecodable, libraw_strerror(status));
        if (status == LIBRAW_IO_ERROR) return failure(ImageFailure::Kind::cannotOpen, libraw_strerror(status));
        if (status == LIBRAW_TOO_BIG) return failure(ImageFailure::Kind::tooLarge, libraw_strerror(status));
        return failure(ImageFailure::Kind::damaged, libraw_strerror(status));
    }

    /// Refuses sensors whose size would make unpacking allocate beyond the pixel budget.
    std::optional<ImageFailure> checkSize() const {
        const auto& sizes = m_processor->imgdata.sizes;
        if (exceedsPixelBudget(sizes.raw_width, sizes.raw_height))
            return failure(ImageFailure::Kind::tooLarge, std::to_string(sizes.raw_width) + " × " +
                                                             std::to_string(sizes.raw_height) +
                                                             " sensor pixels is more than this computer decodes.");
        return std::nullopt;
    }

    /// Reads every byte of the sensor data.
    std::optional<ImageFailure> unpack() {
        if (auto tooBig = checkSize()) return tooBig;
        if (const int status = m_processor->unpack(); status != LIBRAW_SUCCESS)
            return failure(ImageFailure::Kind::damaged, libraw_strerror(status));
        if (m_dataErrors > 0) return failure(ImageFailure::Kind::damaged, "The sensor data ends early or is corrupt.");
        return std::nullopt;
    }

    LibRaw& processor() { return *m_processor; }

private:
    static void countDataError(void* self, const char*, const int) { ++static_cast<RawFile*>(self)->m_dataErrors; }

    std::unique_ptr<LibRaw> m_processor;
    int m_dataErrors = 0;
};

// LibRaw keeps dcraw's flip code; the EXIF orientation is what the rest of the system speaks.
std::optional<int> orientationOfFlip(int flip) {
    constexpr int byFlip[8] = {1, 2, 4, 3, 5, 8, 6, 7};
    if (flip < 0 || flip > 7) return std::nullopt;
    return byFlip[flip];
}

std::optional<std::string> nonEmpty(const char* text) {
    std::string value = trimmed(text);
    if (value.empty()) return std::nullopt;
    return value;
}

// LibRaw turned the EXIF wall-clock text into a time with mktime, so localtime gives the
// same wall-clock text back.
std::optional<std::string> exifDate(std::time_t timestamp) {
    if (timestamp <= 0) return std::nullopt;
    std::tm parts{};
    if (::localtime_r(&timestamp, &parts) == nullptr) return std::nullopt;
    char text[32];
    if (std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &parts) == 0) return std::nullopt;
    return std::string(text);
}

std::string typeIdentifier(LibRaw& processor, const std::string& path) {
    if (processor.imgdata.idata.dng_version != 0) return "com.adobe.raw-image";
    const auto byExtension = TypeIdentifiers::forExtension(pathExtension(lastPathComponent(path)));
    if (byExtension && TypeIdentifiers::conformsToRawImage(*byExtension)) return *byExtension;
    return std::string(TypeIdentifiers::rawImage);
}

struct ProcessedImageDeleter {
    void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};

} // namespace

Result<ImageProperties, ImageFailure> rawProperties(const std::string& path, const std::string& name) {
    RawFile file;
    if (auto failed = file.open(path)) return Unexpected{*failed};
    auto& data = file.processor().imgdata;
    ImageProperties properties;
    properties.typeIdentifier = typeIdentifier(file.processor(), name);
    if (data.sizes.width > 0 && data.sizes.height > 0) {
        properties.pixelWidth = data.sizes.width;
        properties.pixelHeight = data.sizes.height;
    }
    properties.orientation = orientationOfFlip(data.sizes.flip);
    properties.dateTimeOriginal = exifDate(data.other.timestamp);
    properties.make = nonEmpty(data.idata.make);
    properties.model = nonEmpty(data.idata.model);
    properties.imageCount = std::max(1, static_cast<int>(data.idata.raw_count));
    return properties;
}

Result<Bitmap, ImageFailure> rawThumbnail(const std::string& path, int longestSide) {
    RawFile file;
    if (auto failed = file.open(path)) return Unexpected{*failed};
    auto& processor = file.processor();
    // Half size skips demosaicing (each 2×2 block becomes one pixel): four times fewer pixels
    // and still far more than any thumbnail needs. Never the embedded JPEG preview.
    processor.imgdata.params.half_size = 1;
    processor.imgdata.params.use_camera_wb = 1;
    processor.imgdata.params.output_bps = 8;
    if (auto failed = file.unpack()) return Unexpected{*failed};
    if (const int status = processor.dcraw_process(); status != LIBRAW_SUCCESS)
        return Unexpected{failure(ImageFailure::Kind::damaged, libraw_strerror(status))};
    int status = LIBRAW_SUCCESS;
    // The memory image is already turned by the file's flip.
    const std::unique_ptr<libraw_processed_image_t, ProcessedImageDeleter> image(
        processor.dcraw_make_mem_image(&status));
    if (!image || status != LIBRAW_SUCCESS || image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8)
        return Unexpected{failure(ImageFailure::Kind::damaged, libraw_strerror(status))};
    return shrinkPixels(image->data, image->width, image->height, image->colors, longestSide);
}

RawDecoding rawDecodeFully(const std::string& path) {
    RawFile file;
    if (auto failed = file.open(path))
        return failed->kind == ImageFailure::Kind::notDecodable ? RawDecoding::notRaw : RawDecoding::damaged;
    return file.unpack() ? RawDecoding::damaged : RawDecoding::complete;
}

std::set<std::string> rawDecodableTypes() {
    // LibRaw reads every one of these containers (CR3 since 0.20); whether it knows the
    // camera inside is a separate question, answered by the camera list.
    std::set<std::string> types{std::string(TypeIdentifiers::rawImage)};
    for (const char* extension : {"dng", "cr2", "cr3", "crw", "nef", "nrw", "arw", "srf", "sr2", "raf", "orf", "rw2",
                                  "pef", "srw", "raw", "rwl", "3fr", "fff", "iiq", "mos", "mrw", "x3f", "erf", "kdc",
                                  "dcr"})
        if (auto identifier = TypeIdentifiers::forExtension(extension)) types.insert(*identifier);
    return types;
}

std::vector<std::string> rawCameraList() {
    std::vector<std::string> cameras;
    for (const char** name = LibRaw::cameraList(); name != nullptr && *name != nullptr; ++name)
        cameras.emplace_back(*name);
    return cameras;
}

std::string rawRevision() { return std::string("libraw ") + LibRaw::version(); }

} // namespace vp::ImageDecoders
