// Inspection of picture candidates: whether this computer's decoders can read each one, and
// whether a camera RAW comes from a camera the RAW decoder supports.

#include "CameraNames.h"
#include "FolderSource.h"

#include "platform/TypeIdentifiers.h"
#include "platform/image/Images.h"

#include <unordered_set>

namespace vp::FolderSource {

namespace {

using Outcome = Inspection::Outcome;

std::string_view expectedType(PhotoFormat format) {
    switch (format) {
    case PhotoFormat::jpeg: return "public.jpeg";
    case PhotoFormat::png: return "public.png";
    case PhotoFormat::heic: return "public.heic";
    case PhotoFormat::tiff: return "public.tiff";
    case PhotoFormat::raw: return TypeIdentifiers::rawImage;
    case PhotoFormat::other: return "public.image";
    }
    return "public.image";
}

bool isDecodable(std::string_view type) { return Images::decodableTypes().contains(std::string(type)); }

Inspection withSizes(Outcome outcome, const ImageProperties& properties) {
    // The header's own size first; some writers leave it out and only EXIF carries one.
    return {outcome, properties.pixelWidth ? properties.pixelWidth : properties.exifPixelX,
            properties.pixelHeight ? properties.pixelHeight : properties.exifPixelY};
}

const std::unordered_set<std::string>& supportedCameraKeys() {
    static const std::unordered_set<std::string> keys = [] {
        std::unordered_set<std::string> all;
        for (const auto& entry : Images::supportedCameras())
            for (auto& key : CameraNames::listKeys(entry)) all.insert(std::move(key));
        return all;
    }();
    return keys;
}

} // namespace

Inspection inspect(const std::string& path, PhotoFormat format) {
    if (format != PhotoFormat::raw) {
        if (!isDecodable(expectedType(format))) return {Outcome::notDecodableHere, {}, {}};
        // The content decides how the file is read, not its extension: a PNG named .jpg is a
        // readable picture. What no decoder can open is damaged, since its type is one we read.
        const auto properties = Images::properties(path);
        if (!properties && properties.error().kind == ImageFailure::Kind::notAFile) return {Outcome::changed, {}, {}};
        if (!properties || properties->imageCount < 1) return {Outcome::damaged, {}, {}};
        return withSizes(Outcome::readable, *properties);
    }
    // A RAW is only a RAW when the RAW decoder takes it as one; a JPEG renamed .nef is not.
    // One it takes but cannot read through is damaged.
    const auto properties = Images::properties(path);
    if (!properties) {
        const auto kind = properties.error().kind;
        if (kind == ImageFailure::Kind::notAFile) return {Outcome::changed, {}, {}};
        const bool recognised = kind == ImageFailure::Kind::damaged || kind == ImageFailure::Kind::tooLarge;
        return {recognised ? Outcome::damaged : Outcome::notDecodableHere, {}, {}};
    }
    if (!TypeIdentifiers::conformsToRawImage(properties->typeIdentifier) || !isDecodable(properties->typeIdentifier))
        return {Outcome::notDecodableHere, {}, {}};
    // DNG is the one RAW format the decoder reads whatever camera wrote it.
    if (properties->typeIdentifier != "com.adobe.raw-image" &&
        !isSupportedCamera(properties->make.value_or(""), properties->model.value_or("")))
        return withSizes(Outcome::cameraNotSupported, *properties);
    return withSizes(Outcome::readable, *properties);
}

bool decodesFully(const std::string& path) { return Images::decodesFully(path); }

bool isSupportedCamera(std::string_view make, std::string_view model) {
    return CameraNames::isListed(supportedCameraKeys(), make, model);
}

} // namespace vp::FolderSource
