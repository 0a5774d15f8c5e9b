// One picture as scanned, its format and its ties to the files beside it.
#pragma once

#include "FileSnapshot.h"
#include "SourceReferences.h"

#include "engine/common/Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp {

enum class PhotoFormat { jpeg, png, heic, tiff, raw, other };

template <>
struct EnumStrings<PhotoFormat> {
    static constexpr std::array cases{
        std::pair{PhotoFormat::jpeg, std::string_view("jpeg")}, std::pair{PhotoFormat::png, std::string_view("png")},
        std::pair{PhotoFormat::heic, std::string_view("heic")}, std::pair{PhotoFormat::tiff, std::string_view("tiff")},
        std::pair{PhotoFormat::raw, std::string_view("raw")},   std::pair{PhotoFormat::other, std::string_view("other")},
    };
};

/// "JPEG", "PNG", "HEIC", "TIFF", "RAW", "Other".
std::string_view name(PhotoFormat format);
/// The format of a file-name extension (any case); absent when the file is not a picture. Never other.
std::optional<PhotoFormat> formatFromExtension(std::string_view extension);
/// The format of a type identifier ("public.jpeg", ...): other when absent or unknown.
PhotoFormat formatFromTypeIdentifier(const std::optional<std::string>& identifier);

enum class Relationship { sidecar, livePhoto, rawPair, editedOriginal };

template <>
struct EnumStrings<Relationship> {
    static constexpr std::array cases{
        std::pair{Relationship::sidecar, std::string_view("sidecar")},
        std::pair{Relationship::livePhoto, std::string_view("livePhoto")},
        std::pair{Relationship::rawPair, std::string_view("rawPair")},
        std::pair{Relationship::editedOriginal, std::string_view("editedOriginal")},
    };
};

/// Why a picture with this tie is kept, as the person reads it.
std::string_view reason(Relationship relationship);

struct PhotoAsset {
    std::string path;
    std::string root;
    FileSnapshot snapshot;
    PhotoFormat format = PhotoFormat::other;
    std::optional<std::int64_t> pixelWidth;
    std::optional<std::int64_t> pixelHeight;
    std::vector<std::string> otherNames; ///< hard links folded into this picture
    std::vector<Relationship> relationships;
    bool isCloudSynced = false;
    bool isReadOnlyVolume = false;
    std::optional<std::string> volumeName;
    bool isExternalVolume = false;
    std::optional<LibraryRef> library;
    std::optional<LightroomRef> lightroom;
    std::optional<CaptureOneRef> captureOne;
    bool rendersHere = true;

    /// The library item's file name, else the last component of the path.
    std::string name() const;
    /// "Photos Library" for library items, else the path without its last component.
    std::string folder() const;
    /// Why this picture must never be proposed for removal; absent when nothing forbids it.
    std::optional<std::string> fixedKeepReason() const;

    VP_RECORD(path, root, snapshot, format, pixelWidth, pixelHeight, otherNames, relationships, isCloudSynced,
              isReadOnlyVolume, volumeName, isExternalVolume, library, lightroom, captureOne, rendersHere)
    bool operator==(const PhotoAsset&) const = default;
};

} // namespace vp
