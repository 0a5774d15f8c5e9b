// A photo library held in memory: items with resources of given types and bytes, hidden items,
// items whose data is elsewhere, and albums. It stands in for a real library wherever one is not
// wanted, and counts every read so that a caller can prove what it did not read.
#pragma once

#include "PhotoLibrary.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vp {

struct MemoryResource {
    int type = ResourceType::photo;
    std::string filename;
    std::string bytes;
    std::optional<std::string> uti;
    /// False: the bytes are elsewhere and only come with `download`.
    bool isLocal = true;
};

struct MemoryItem {
    enum class Kind { photo, video };

    std::string id;
    Kind kind = Kind::photo;
    std::vector<MemoryResource> resources;
    std::int64_t pixelWidth = 0;
    std::int64_t pixelHeight = 0;
    std::optional<Timestamp> created;
    std::optional<Timestamp> modified;
    bool isFavorite = false;
    bool isHidden = false;
    bool isLivePhoto = false;
    /// A picture file standing for the item's look; previews are made from it.
    std::optional<std::string> picturePath;
    /// A movie file standing for a video's original, handed out while its video resource is local.
    std::optional<std::string> moviePath;
};

class MemoryLibrary final : public PhotoLibraryMedia, public PhotoLibraryWriting, public PhotoLibraryReplacing {
public:
    struct Album {
        std::string title;
        std::vector<std::string> ids;
    };

    /// Bytes are handed over in chunks of at most `chunkSize`.
    explicit MemoryLibrary(std::vector<MemoryItem> items = {}, std::int64_t chunkSize = 64 * 1024);

    Listing items(const CancellationFlag& cancel) const override;
    LibraryHash hash(const std::string& id, bool download, const ByteCallback& onBytes) const override;
    std::optional<Bitmap> preview(const std::string& id, int maxPixels) const override;
    std::optional<std::optional<Timestamp>> currentModified(const std::string& id) const override;

    std::vector<std::string> addToAlbum(const std::string& name, const std::vector<std::string>& ids) override;

    std::vector<LibraryVideoInfo> videos(const CancellationFlag& cancel) const override;
    std::optional<std::string> localVideoURL(const std::string& id) const override;
    std::optional<std::int64_t> pairedMovieSize(const std::string& id) const override;
    std::optional<StillData> stillData(const std::string& id) const override;

    std::vector<std::string> replace(const std::vector<LibraryReplacement>& replacements) override;

    // What tests arrange and inspect.
    void add(MemoryItem item);
    void remove(const std::string& id);
    void setModified(const std::string& id, std::optional<Timestamp> modified);
    void addAlbum(std::string title, std::vector<std::string> ids = {});
    std::vector<Album> albums() const;
    /// The next change fails with this text and changes nothing.
    void failNextWrite(std::string message);
    /// The next change is refused as a person would refuse it when asked; it changes nothing.
    void declineNextChange();
    /// Resources whose data was asked for, since the library was made.
    std::int64_t dataRequests() const { return m_dataRequests; }
    /// Writes that changed the library.
    std::int64_t changes() const { return m_changes; }

private:
    const MemoryItem* find(const std::string& id) const; // m_mutex held
    void throwIfFailing();                               // m_mutex held

    mutable std::mutex m_mutex;
    std::vector<MemoryItem> m_items;
    std::vector<Album> m_albums;
    std::optional<LibraryWriteError> m_failure;
    const std::int64_t m_chunkSize;
    mutable std::atomic<std::int64_t> m_dataRequests{0};
    std::atomic<std::int64_t> m_changes{0};
};

} // namespace vp
