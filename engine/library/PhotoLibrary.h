// The photo library as the rest of the system sees it: what an item is, what hashing one yields,
// and the four small interfaces every library (the in-memory one of the tests, a Shotwell
// library) is reached through. Nothing outside this folder talks to a library directly.
#pragma once

#include "engine/common/Json.h"
#include "engine/scan/CancellationFlag.h"
#include "platform/image/Images.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace vp {

/// Whether the library may be read and changed.
enum class Access { granted, notAsked, denied, restricted };

template <>
struct EnumStrings<Access> {
    static constexpr std::array cases{
        std::pair{Access::granted, std::string_view("granted")},
        std::pair{Access::notAsked, std::string_view("notAsked")},
        std::pair{Access::denied, std::string_view("denied")},
        std::pair{Access::restricted, std::string_view("restricted")},
    };
};

/// Kinds of resource an item is stored as; the numbers are part of every item's hash.
namespace ResourceType {
inline constexpr int photo = 1;
inline constexpr int video = 2;
inline constexpr int alternatePhoto = 4; ///< the RAW of a RAW + JPEG pair
inline constexpr int fullSizePhoto = 5;  ///< an edited rendition
inline constexpr int adjustmentData = 7; ///< the recipe of an edit
inline constexpr int pairedVideo = 9;    ///< the movie of a Live Photo
} // namespace ResourceType

/// One picture of the library.
struct PhotoLibraryItem {
    std::string id{};
    std::string filename{}; ///< of the primary resource; "Photo" when there is none
    std::optional<std::string> uti{};
    std::int64_t pixelWidth = 0;
    std::int64_t pixelHeight = 0;
    std::optional<Timestamp> created{};
    std::optional<Timestamp> modified{};
    bool isFavorite = false;
    bool isLivePhoto = false;
    bool hasRAWPair = false;
    bool isEdited = false;

    bool operator==(const PhotoLibraryItem&) const = default;
};

/// One video of the library.
struct LibraryVideoInfo {
    std::string id;
    std::string filename; ///< "Video" when it has no resource
    std::optional<Timestamp> created;
    std::optional<Timestamp> modified;
    bool isFavorite = false;

    bool operator==(const LibraryVideoInfo&) const = default;
};

/// The outcome of hashing every resource of one item.
struct LibraryHash {
    enum class Kind { hashed, failed, notLocal, stopped };

    Kind kind = Kind::failed;
    std::string digest;     ///< hashed: 64 lower-case hexadecimal characters
    std::int64_t bytes = 0; ///< hashed: bytes read
    std::string reason;     ///< failed: why, as a sentence

    static LibraryHash hashed(std::string digest, std::int64_t bytes) { return {Kind::hashed, std::move(digest), bytes, {}}; }
    static LibraryHash failed(std::string reason) { return {Kind::failed, {}, 0, std::move(reason)}; }
    static LibraryHash notLocal() { return {Kind::notLocal, {}, 0, {}}; }
    static LibraryHash stopped() { return {Kind::stopped, {}, 0, {}}; }

    bool operator==(const LibraryHash&) const = default;
};

/// What replaces one item: a finished movie on disk, or the bytes of a still.
struct LibraryReplacement {
    struct Video {
        std::string path;
        bool operator==(const Video&) const = default;
    };
    struct Still {
        std::string data;
        std::optional<std::string> uti;
        bool operator==(const Still&) const = default;
    };

    std::string originalID;
    std::string filename;
    std::variant<Video, Still> content;

    bool operator==(const LibraryReplacement&) const = default;
};

/// A change the library refused; nothing of that change was made. The text is the library's own.
class LibraryWriteError : public std::runtime_error {
public:
    /// `declined`: the person was asked to allow the change and said no.
    enum class Kind { failed, declined };

    explicit LibraryWriteError(const std::string& description, Kind kind = Kind::failed)
        : std::runtime_error(description), m_kind(kind) {}
    std::string description() const { return what(); }
    bool wasDeclined() const { return m_kind == Kind::declined; }

private:
    Kind m_kind;
};

/// Listing, hashing and previewing. Every operation may be called from several threads at once
/// and none of them throws: a vanished item is a failed hash, an absent preview or date.
class PhotoLibraryReading {
public:
    struct Listing {
        std::vector<PhotoLibraryItem> photos;
        std::int64_t videos = 0;
    };
    /// Called with the size of each chunk as it arrives; false asks to stop.
    using ByteCallback = std::function<bool(std::int64_t bytes)>;

    virtual ~PhotoLibraryReading() = default;

    /// Every photo that is not hidden, oldest first, and the number of videos. Stops early,
    /// returning what it has, once `cancel` is set.
    virtual Listing items(const CancellationFlag& cancel) const = 0;
    /// SHA-256 over every resource in order of type then file name, each preceded by its type
    /// number and "|". With `download` false nothing is fetched from elsewhere.
    virtual LibraryHash hash(const std::string& id, bool download, const ByteCallback& onBytes) const = 0;
    /// The picture at most `maxPixels` on its long side; absent when the item is gone or unreadable.
    virtual std::optional<Bitmap> preview(const std::string& id, int maxPixels) const = 0;
    /// Outer absence: no such item any more. Inner absence: the item has no modification date.
    virtual std::optional<std::optional<Timestamp>> currentModified(const std::string& id) const = 0;

    /// What a person reads after the file name of an item whose data is not here.
    virtual std::string notLocalDetail() const { return "in the cloud, not on this computer"; }
};

/// Adding existing items to an album.
class PhotoLibraryWriting {
public:
    virtual ~PhotoLibraryWriting() = default;
    /// Adds the items found among `ids` to the album titled `name`, made (or, for the review
    /// album, renamed from a former title) when missing. Returns the identifiers found, in the
    /// library's order. Throws LibraryWriteError; then nothing changed.
    virtual std::vector<std::string> addToAlbum(const std::string& name, const std::vector<std::string>& ids) = 0;
};

/// Videos and the parts of Live Photos, for shrinking them.
class PhotoLibraryMedia : public PhotoLibraryReading {
public:
    struct StillData {
        std::string data;
        std::optional<std::string> uti;
        bool operator==(const StillData&) const = default;
    };

    /// Every video that is not hidden, oldest first; stops early once `cancel` is set.
    virtual std::vector<LibraryVideoInfo> videos(const CancellationFlag& cancel) const = 0;
    /// The original movie file when it is on this computer.
    virtual std::optional<std::string> localVideoURL(const std::string& id) const = 0;
    /// Bytes of a Live Photo's movie, read here; absent without one or when unreadable.
    virtual std::optional<std::int64_t> pairedMovieSize(const std::string& id) const = 0;
    /// The photo resource's bytes and type, read here.
    virtual std::optional<StillData> stillData(const std::string& id) const = 0;
};

/// Putting smaller versions in place of items, in one change.
class PhotoLibraryReplacing {
public:
    virtual ~PhotoLibraryReplacing() = default;
    /// The originals replaced, in the order given; originals not found are passed over.
    /// Throws LibraryWriteError; then nothing changed.
    virtual std::vector<std::string> replace(const std::vector<LibraryReplacement>& replacements) = 0;
};

} // namespace vp
