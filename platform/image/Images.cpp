#include "Images.h"

#include "Decoders.h"

#include "engine/common/Text.h"
#include "platform/TypeIdentifiers.h"

#include <algorithm>

namespace vp::Images {

namespace {

using ImageDecoders::RawDecoding;

// The extension only chooses which decoder tries first. The content decides in the end: a
// JPEG named .nef is read by libvips and reported as the JPEG it is.
bool hasRawExtension(const std::string& path) {
    const auto identifier = TypeIdentifiers::forExtension(pathExtension(lastPathComponent(path)));
    return identifier && TypeIdentifiers::conformsToRawImage(*identifier);
}

bool notRaw(const ImageFailure& failure) { return failure.kind == ImageFailure::Kind::notDecodable; }

} // namespace

const std::set<std::string>& decodableTypes() {
    static const std::set<std::string> types = [] {
        auto all = ImageDecoders::vipsDecodableTypes();
        all.merge(ImageDecoders::rawDecodableTypes());
        return all;
    }();
    return types;
}

const std::vector<std::string>& supportedCameras() {
    static const std::vector<std::string> cameras = ImageDecoders::rawCameraList();
    return cameras;
}

Result<ImageProperties, ImageFailure> properties(const std::string& path) {
    if (hasRawExtension(path)) {
        auto raw = ImageDecoders::rawProperties(path);
        if (raw || !notRaw(raw.error())) return raw;
        if (auto other = ImageDecoders::vipsProperties(path)) return other;
        return raw;
    }
    return ImageDecoders::vipsProperties(path);
}

Result<Bitmap, ImageFailure> thumbnail(const std::string& path, int longestSide) {
    longestSide = std::max(longestSide, 1);
    if (hasRawExtension(path)) {
        auto raw = ImageDecoders::rawThumbnail(path, longestSide);
        if (raw || !notRaw(raw.error())) return raw;
        if (auto other = ImageDecoders::vipsThumbnail(path, longestSide, ImageDecoders::Strictness::tolerant))
            return other;
        return raw;
    }
    return ImageDecoders::vipsThumbnail(path, longestSide, ImageDecoders::Strictness::tolerant);
}

bool decodesFully(const std::string& path) {
    if (hasRawExtension(path)) {
        switch (ImageDecoders::rawDecodeFully(path)) {
        case RawDecoding::complete: return true;
        case RawDecoding::damaged: return false;
        case RawDecoding::notRaw: break;
        }
    }
    // 64 pixels is enough: reaching any size means every row of the source was decoded, and
    // shrink-on-load still runs the whole entropy-coded stream of a JPEG.
    return ImageDecoders::vipsThumbnail(path, 64, ImageDecoders::Strictness::failOnTruncation).hasValue();
}

Result<Bitmap, ImageFailure> greySquare(const Bitmap& image, int side) {
    return ImageDecoders::vipsGreySquare(image, side);
}

} // namespace vp::Images
