#include "PhotoAsset.h"

#include "FolderSource.h"

#include "engine/common/Text.h"
#include "platform/TypeIdentifiers.h"

namespace vp {

std::string_view name(PhotoFormat format) {
    switch (format) {
    case PhotoFormat::jpeg: return "JPEG";
    case PhotoFormat::png: return "PNG";
    case PhotoFormat::heic: return "HEIC";
    case PhotoFormat::tiff: return "TIFF";
    case PhotoFormat::raw: return "RAW";
    case PhotoFormat::other: return "Other";
    }
    return "Other";
}

std::optional<PhotoFormat> formatFromExtension(std::string_view extension) {
    const std::string lower = lowercased(extension);
    if (lower == "jpg" || lower == "jpeg" || lower == "jpe") return PhotoFormat::jpeg;
    if (lower == "png") return PhotoFormat::png;
    if (lower == "heic" || lower == "heif") return PhotoFormat::heic;
    if (lower == "tif" || lower == "tiff") return PhotoFormat::tiff;
    if (FolderSource::rawExtensions.contains(lower)) return PhotoFormat::raw;
    return std::nullopt;
}

PhotoFormat formatFromTypeIdentifier(const std::optional<std::string>& identifier) {
    if (!identifier) return PhotoFormat::other;
    if (*identifier == "public.jpeg") return PhotoFormat::jpeg;
    if (*identifier == "public.png") return PhotoFormat::png;
    if (*identifier == "public.heic" || *identifier == "public.heif") return PhotoFormat::heic;
    if (*identifier == "public.tiff") return PhotoFormat::tiff;
    if (TypeIdentifiers::conformsToRawImage(*identifier)) return PhotoFormat::raw;
    return PhotoFormat::other;
}

std::string_view reason(Relationship relationship) {
    switch (relationship) {
    case Relationship::sidecar: return "Has a sidecar file (.xmp or .aae) beside it, so it is kept with it";
    case Relationship::livePhoto: return "Part of a Live Photo (a .mov with the same name), so it is kept";
    case Relationship::rawPair: return "Has a RAW file with the same name, so it is kept with it";
    case Relationship::editedOriginal: return "Part of an original and edited pair, so it is kept";
    }
    return {};
}

std::string PhotoAsset::name() const { return library ? library->filename : lastPathComponent(path); }

std::string PhotoAsset::folder() const { return library ? "Photos Library" : deletingLastPathComponent(path); }

std::optional<std::string> PhotoAsset::fixedKeepReason() const {
    if (library && library->isFavorite) return "A favourite in Photos, so it is kept";
    for (const Relationship relationship : relationships) {
        if (captureOne) {
            if (relationship == Relationship::sidecar) continue;
        } else if (lightroom) {
            if (relationship == Relationship::sidecar) continue;
            if (relationship == Relationship::rawPair && !lightroom->sidecarExtensions.empty()) continue;
        }
        return std::string(reason(relationship));
    }
    if (lightroom && lightroom->virtualCopies > 0)
        return "Has a virtual copy in Lightroom Classic, which is an edit of this very file, so it is kept";
    if (captureOne && captureOne->variants >= 2)
        return "Has a second variant in Capture One, which is another edit of this very file, so it is kept";
    if (snapshot.linkCount > 1 || !otherNames.empty())
        return "Has another name on disk (a hard link), so moving it to the Trash would free nothing";
    if (isReadOnlyVolume) return "On a volume this computer cannot change";
    return std::nullopt;
}

} // namespace vp
