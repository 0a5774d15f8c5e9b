// Finds byte-identical copies inside a photo library. Only photos that share pixel size and type
// with another photo are hashed; hashes are kept between scans of one run; items whose data is
// elsewhere are fetched only on request and only within a byte budget, those most likely to
// pair with a local photo first.
#pragma once

#include "PhotoLibrary.h"
#include "engine/scan/ScanProgress.h"
#include "engine/scan/ScanResult.h"
#include "engine/similarity/FaceReading.h"
#include "engine/similarity/ImageFeatures.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace vp {

/// Hashes of library items for the whole run of the application, never written to disk. An
/// item is found again only while its modification date is unchanged. Thread-safe.
class LibraryHashCache {
public:
    /// The cached `hashed` result of the item, if any.
    std::optional<LibraryHash> lookup(const PhotoLibraryItem& item) const;
    /// Keeps only `hashed` results; every other result is ignored.
    void store(const LibraryHash& hash, const PhotoLibraryItem& item);

    /// "<id>@<seconds since 1970>" of the modification date, else the creation date, else 0.
    static std::string key(const PhotoLibraryItem& item);

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::pair<std::string, std::int64_t>> m_hashes;
};

/// Bytes fetched against a limit. Thread-safe.
class DownloadBudget {
public:
    explicit DownloadBudget(std::int64_t limit) : m_limit(limit) {}

    /// False, changing nothing, once the limit is reached; otherwise counts the bytes and says
    /// whether the total is still within the limit (the chunk that crosses it is counted and refused).
    bool take(std::int64_t bytes);
    std::int64_t used() const;
    std::int64_t limit() const { return m_limit; }
    bool isUsedUp() const { return used() >= m_limit; }

private:
    const std::int64_t m_limit;
    mutable std::mutex m_mutex;
    std::int64_t m_spent = 0;
};

namespace LibraryScanner {

/// Called from worker threads too, one call at a time.
using Progress = std::function<void(const ScanProgress&)>;

/// Never throws. Items that were not hashed are listed among the skipped files; a cancelled
/// scan returns what it has with `cancelled` set. `download` absent: nothing is fetched.
ScanResult scan(const PhotoLibraryReading& reader, bool keepPictures, DownloadBudget* download, LibraryHashCache* cache,
                const CancellationFlag& cancel, const Progress& progress);

/// "<width>x<height>|<type identifier>": photos in different buckets can never be copies.
std::string bucketKey(const PhotoLibraryItem& item);

/// Indices of the `notLocal` results in the order they are fetched: those whose bucket holds a
/// photo hashed here first, then the rest, each part in library order.
std::vector<std::size_t> downloadOrder(const std::vector<PhotoLibraryItem>& candidates,
                                       const std::vector<LibraryHash>& firstPass);

/// Previews of 512 pixels measured like decoded pictures; nothing for assets outside the library.
std::function<std::optional<ImageFeatures>(const PhotoAsset&)> featureReader(const PhotoLibraryReading& reader);
/// Previews of 1600 pixels passed to the face check.
std::function<std::optional<FaceReading>(const PhotoAsset&)> faceReader(const PhotoLibraryReading& reader);

/// The words after a file name for an item whose data was not reached in time.
inline constexpr std::string_view notReachedDetail = "in the cloud; not reached before the download limit or a stop";

} // namespace LibraryScanner
} // namespace vp
