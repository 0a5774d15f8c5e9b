// Where a picture from a managed collection lives in it, and what the person did to it there.
#pragma once

#include "engine/common/Json.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vp {

/// A picture of the system photo library.
struct LibraryRef {
    std::string id;
    std::string filename;
    bool isFavorite = false;
    bool isLivePhoto = false;
    bool hasRAWPair = false;
    bool isEdited = false;

    /// "Live Photo · RAW + JPEG · Edited" for the flags that are set; empty when none is.
    std::string kindText() const;

    VP_RECORD(id, filename, isFavorite, isLivePhoto, hasRAWPair, isEdited)
    bool operator==(const LibraryRef&) const = default;
};

/// A photo of a Lightroom Classic catalog.
struct LightroomRef {
    std::int64_t imageID = 0;
    int pick = 0; ///< 1 picked, 0 none, -1 rejected
    int rating = 0;
    bool isEdited = false;
    int virtualCopies = 0;
    int collections = 0;
    int keywords = 0;
    std::string colorLabel;
    std::vector<std::string> sidecarExtensions;

    bool workedOn() const;
    std::string workSummary() const;

    VP_RECORD(imageID, pick, rating, isEdited, virtualCopies, collections, keywords, colorLabel,
              sidecarExtensions)
    bool operator==(const LightroomRef&) const = default;
};

/// An image of a Capture One catalog.
struct CaptureOneRef {
    std::int64_t imageID = 0;
    std::int64_t variantID = 0;
    int variants = 0;
    int rating = 0;
    std::vector<int> colorTags; ///< one per variant, 0 = no tag
    bool isEdited = false;
    int albums = 0;
    int keywords = 0;

    bool isRed() const;
    int colorTag() const;
    bool workedOn() const;
    std::string workSummary() const;

    VP_RECORD(imageID, variantID, variants, rating, colorTags, isEdited, albums, keywords)
    bool operator==(const CaptureOneRef&) const = default;
};

namespace CaptureOneCatalog {
inline constexpr int red = 1;
/// "Red", "Orange", ... for the catalog's colour tag indices; "a colour" for any other.
std::string colorName(int index);
} // namespace CaptureOneCatalog

} // namespace vp
