// The desktop's shared thumbnail cache ($XDG_CACHE_HOME/thumbnails), kept the way the
// freedesktop.org Thumbnail Managing Standard describes, so thumbnails the file manager made are
// shown here without decoding a picture again, and the ones made here serve the file manager.
//
// A thumbnail is a PNG named after the MD5 of its picture's file URI, in the folder of its size.
// It is used only while its text chunks name that URI and the picture's current modification
// second (and byte size, when recorded). A PNG in the cache is read like any untrusted file:
// only a plain file, never through a link, within a size bound, every pixel checked; whatever
// fails is made again and replaced. Pictures that cannot be decoded leave a fail entry, so a
// scroll over them does not try again until they change.
//
// No state beyond the folder's path: every operation may run on several threads at once, and
// several processes may share the folder (each file is written beside its place and renamed in).
#pragma once

#include "Images.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vp {

/// The standard's sizes: the longest side of a thumbnail in each folder.
enum class ThumbnailSize { normal, large, xLarge, xxLarge };

/// 128, 256, 512 or 1024 pixels.
int pixels(ThumbnailSize size);
/// "normal", "large", "x-large" or "xx-large".
const char* folderName(ThumbnailSize size);
/// The smallest size whose side reaches `longestSide`; xxLarge above 1024.
ThumbnailSize thumbnailSizeFor(int longestSide);

/// What the cache keys on: the picture's state when its thumbnail was made.
struct PictureStamp {
    std::int64_t modificationSeconds = 0;
    std::int64_t byteSize = 0;

    bool operator==(const PictureStamp&) const = default;
};

/// What one look into the cache found.
struct CachedThumbnail {
    enum class Status {
        found,   ///< valid for the picture as it is now; `bitmap` holds it
        missing, ///< no file there
        stale,   ///< made for another URI, another modification time or another byte size
        damaged, ///< not a plain file, too large, not a PNG, broken pixels or oversized
    };
    Status status = Status::missing;
    Bitmap bitmap; ///< sRGB, 3 channels, alpha flattened on white; only for `found`
};

class SharedThumbnails {
public:
    /// $XDG_CACHE_HOME/thumbnails, else ~/.cache/thumbnails (read at each call, so a test may
    /// point it into a temporary home).
    static std::string defaultFolder();

    /// `folder` is the cache's root, holding normal/, large/, ... and fail/; it is created (mode
    /// 0700) when the first thumbnail is written.
    explicit SharedThumbnails(std::string folder = defaultFolder());

    const std::string& folder() const { return m_folder; }

    /// The thumbnail of the picture at `path` for a view that shows `longestSide` pixels: read
    /// from the cache at the smallest standard size that covers it (or from a larger one,
    /// shrunk), else decoded with Images::thumbnail and written to the cache. Pixels are 8-bit
    /// sRGB, 3 channels, orientation applied, longest side at most the standard size chosen
    /// (never enlarged, so the caller scales to fit). A picture that could not be decoded before
    /// and has not changed since answers damaged at once. Pictures inside the cache folder
    /// itself are decoded but never cached. Failing to write the cache (a read-only folder, a
    /// full disk) is not a failure: the thumbnail is still returned.
    Result<Bitmap, ImageFailure> get(const std::string& path, int longestSide) const;

    // ---- The pieces of `get`, for tests and tools

    /// "file://" and the absolute, lexically normalised path, its bytes percent-encoded except
    /// letters, digits and -._~!$&'()*+,=:@/ (as GLib writes file URIs, so the names match
    /// the file manager's). A relative path is taken from the working folder.
    static std::string fileUri(const std::string& path);
    /// The lower-case hexadecimal MD5 of `uri` and ".png".
    static std::string thumbnailFileName(const std::string& uri);
    /// Where the thumbnail of `path` at `size` lives.
    std::string thumbnailPath(const std::string& path, ThumbnailSize size) const;
    /// Where this program's fail entry for `path` lives (fail/velmo-pristel-VERSION/).
    std::string failurePath(const std::string& path) const;

    /// The picture's stamp, from its status without following a link; absent when no plain
    /// file stands there.
    static std::optional<PictureStamp> stampOf(const std::string& path);

    /// The cached thumbnail of `path` at `size`, checked against `stamp`.
    CachedThumbnail lookup(const std::string& path, ThumbnailSize size, const PictureStamp& stamp) const;
    /// Writes `thumbnail` (at most pixels(size) a side) as the thumbnail of `path` made from the
    /// picture in state `stamp`; `original` is the picture's pixel size when known. Empty on
    /// success, else what went wrong in the system's words.
    std::string store(const std::string& path, ThumbnailSize size, const Bitmap& thumbnail, const PictureStamp& stamp,
                      std::optional<std::pair<std::int64_t, std::int64_t>> original = std::nullopt) const;

    /// True when a fail entry for `path` was written while the picture was in state `stamp`.
    bool failedBefore(const std::string& path, const PictureStamp& stamp) const;
    /// Records that `path`, in state `stamp`, could not be decoded. Empty on success.
    std::string storeFailure(const std::string& path, const PictureStamp& stamp) const;

    /// True when `path` lies inside the cache folder (lexically, or once links are resolved).
    bool isInsideCache(const std::string& path) const;

private:
    std::string m_folder;
};

} // namespace vp
