#include "MemoryLibrary.h"

#include "ItemHasher.h"
#include "ReviewAlbum.h"

#include <algorithm>
#include <fstream>

namespace vp {

MemoryLibrary::MemoryLibrary(std::vector<MemoryItem> items, std::int64_t chunkSize)
    : m_items(std::move(items)), m_chunkSize(std::max<std::int64_t>(chunkSize, 1)) {}

const MemoryItem* MemoryLibrary::find(const std::string& id) const {
    const auto found = std::find_if(m_items.begin(), m_items.end(), [&](const MemoryItem& i) { return i.id == id; });
    return found == m_items.end() ? nullptr : &*found;
}

namespace {

// Oldest first; items without a date first, as the system sorts absent dates.
template <class Item>
void sortByCreation(std::vector<Item>& items) {
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        return a.created.value_or(Timestamp{}) < b.created.value_or(Timestamp{});
    });
}

const MemoryResource* firstOfType(const MemoryItem& item, int type) {
    for (const auto& resource : item.resources)
        if (resource.type == type) return &resource;
    return item.resources.empty() ? nullptr : &item.resources.front();
}

bool hasType(const MemoryItem& item, int type) {
    return std::any_of(item.resources.begin(), item.resources.end(), [&](const MemoryResource& r) { return r.type == type; });
}

PhotoLibraryItem listed(const MemoryItem& item) {
    PhotoLibraryItem photo;
    photo.id = item.id;
    const auto* primary = firstOfType(item, ResourceType::photo);
    photo.filename = primary != nullptr ? primary->filename : "Photo";
    if (primary != nullptr) photo.uti = primary->uti;
    photo.pixelWidth = item.pixelWidth;
    photo.pixelHeight = item.pixelHeight;
    photo.created = item.created;
    photo.modified = item.modified;
    photo.isFavorite = item.isFavorite;
    photo.isLivePhoto = item.isLivePhoto;
    photo.hasRAWPair = hasType(item, ResourceType::alternatePhoto);
    photo.isEdited = hasType(item, ResourceType::fullSizePhoto) || hasType(item, ResourceType::adjustmentData);
    return photo;
}

} // namespace

PhotoLibraryReading::Listing MemoryLibrary::items(const CancellationFlag& cancel) const {
    std::vector<MemoryItem> items;
    {
        std::lock_guard lock(m_mutex);
        items = m_items;
    }
    sortByCreation(items);
    Listing listing;
    for (const auto& item : items) {
        if (cancel.isCancelled()) break;
        if (item.isHidden) continue;
        if (item.kind == MemoryItem::Kind::video)
            ++listing.videos;
        else
            listing.photos.push_back(listed(item));
    }
    return listing;
}

LibraryHash MemoryLibrary::hash(const std::string& id, bool download, const ByteCallback& onBytes) const {
    std::vector<MemoryResource> resources;
    {
        std::lock_guard lock(m_mutex);
        const auto* item = find(id);
        if (item == nullptr) return LibraryHash::failed("No longer in the library");
        resources = item->resources;
    }
    if (resources.empty()) return LibraryHash::failed("Photos reported no data for it");
    ItemHasher::sortForHashing(resources);
    ItemHasher hasher(onBytes);
    for (const auto& resource : resources) {
        hasher.beginResource(resource.type);
        ++m_dataRequests;
        if (!resource.isLocal && !download) return LibraryHash::notLocal();
        for (std::size_t at = 0; at < resource.bytes.size(); at += static_cast<std::size_t>(m_chunkSize))
            if (!hasher.add(std::string_view(resource.bytes).substr(at, static_cast<std::size_t>(m_chunkSize)))) break;
        if (hasher.isStopped()) return LibraryHash::stopped();
    }
    return hasher.finish();
}

std::optional<Bitmap> MemoryLibrary::preview(const std::string& id, int maxPixels) const {
    std::optional<std::string> picture;
    {
        std::lock_guard lock(m_mutex);
        const auto* item = find(id);
        if (item == nullptr) return std::nullopt;
        picture = item->picturePath;
    }
    if (!picture) return std::nullopt;
    auto bitmap = Images::thumbnail(*picture, maxPixels);
    if (!bitmap) return std::nullopt;
    return std::move(bitmap.value());
}

std::optional<std::optional<Timestamp>> MemoryLibrary::currentModified(const std::string& id) const {
    std::lock_guard lock(m_mutex);
    const auto* item = find(id);
    if (item == nullptr) return std::nullopt;
    return item->modified;
}

void MemoryLibrary::throwIfFailing() {
    if (!m_failure) return;
    const LibraryWriteError failure = *m_failure;
    m_failure.reset();
    throw failure;
}

std::vector<std::string> MemoryLibrary::addToAlbum(const std::string& name, const std::vector<std::string>& ids) {
    std::lock_guard lock(m_mutex);
    throwIfFailing();
    const auto titled = [&](std::string_view title) {
        return std::find_if(m_albums.begin(), m_albums.end(), [&](const Album& a) { return a.title == title; });
    };
    auto album = titled(name);
    if (album == m_albums.end() && name == ReviewAlbum::name)
        for (const auto former : ReviewAlbum::formerNames)
            if ((album = titled(former)) != m_albums.end()) {
                album->title = name;
                break;
            }
    if (album == m_albums.end()) album = m_albums.insert(m_albums.end(), Album{name, {}});

    std::vector<std::string> added;
    for (const auto& item : m_items)
        if (std::find(ids.begin(), ids.end(), item.id) != ids.end()) added.push_back(item.id);
    for (const auto& id : added)
        if (std::find(album->ids.begin(), album->ids.end(), id) == album->ids.end()) album->ids.push_back(id);
    ++m_changes;
    return added;
}

std::vector<LibraryVideoInfo> MemoryLibrary::videos(const CancellationFlag& cancel) const {
    std::vector<MemoryItem> items;
    {
        std::lock_guard lock(m_mutex);
        items = m_items;
    }
    sortByCreation(items);
    std::vector<LibraryVideoInfo> videos;
    for (const auto& item : items) {
        if (cancel.isCancelled()) break;
        if (item.isHidden || item.kind != MemoryItem::Kind::video) continue;
        const auto* first = firstOfType(item, ResourceType::video);
        videos.push_back({item.id, first != nullptr ? first->filename : "Video", item.created, item.modified, item.isFavorite});
    }
    return videos;
}

std::optional<std::string> MemoryLibrary::localVideoURL(const std::string& id) const {
    std::lock_guard lock(m_mutex);
    const auto* item = find(id);
    if (item == nullptr || item->kind != MemoryItem::Kind::video || !item->moviePath) return std::nullopt;
    const auto* movie = firstOfType(*item, ResourceType::video);
    if (movie != nullptr && !movie->isLocal) return std::nullopt;
    return item->moviePath;
}

std::optional<std::int64_t> MemoryLibrary::pairedMovieSize(const std::string& id) const {
    std::lock_guard lock(m_mutex);
    const auto* item = find(id);
    if (item == nullptr) return std::nullopt;
    for (const auto& resource : item->resources)
        if (resource.type == ResourceType::pairedVideo && resource.isLocal)
            return static_cast<std::int64_t>(resource.bytes.size());
    return std::nullopt;
}

std::optional<PhotoLibraryMedia::StillData> MemoryLibrary::stillData(const std::string& id) const {
    std::lock_guard lock(m_mutex);
    const auto* item = find(id);
    if (item == nullptr) return std::nullopt;
    for (const auto& resource : item->resources)
        if (resource.type == ResourceType::photo && resource.isLocal) return StillData{resource.bytes, resource.uti};
    return std::nullopt;
}

std::vector<std::string> MemoryLibrary::replace(const std::vector<LibraryReplacement>& replacements) {
    std::lock_guard lock(m_mutex);
    throwIfFailing();
    std::vector<std::string> replaced;
    std::vector<MemoryItem> made;
    for (const auto& replacement : replacements) {
        const auto* original = find(replacement.originalID);
        if (original == nullptr) continue;
        MemoryItem item = *original;
        item.id = original->id + "-replacement";
        item.modified = std::nullopt;
        if (const auto* still = std::get_if<LibraryReplacement::Still>(&replacement.content)) {
            item.resources = {{ResourceType::photo, replacement.filename, still->data, still->uti, true}};
            item.isLivePhoto = false; // the still alone
        } else {
            const auto& video = std::get<LibraryReplacement::Video>(replacement.content);
            std::ifstream file(video.path, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            item.resources = {{ResourceType::video, replacement.filename, std::move(bytes), std::nullopt, true}};
            item.moviePath = video.path; // the finished movie is the library's now
        }
        for (auto& album : m_albums)
            if (std::find(album.ids.begin(), album.ids.end(), original->id) != album.ids.end()) album.ids.push_back(item.id);
        made.push_back(std::move(item));
        replaced.push_back(replacement.originalID);
    }
    for (const auto& id : replaced) {
        std::erase_if(m_items, [&](const MemoryItem& i) { return i.id == id; });
        for (auto& album : m_albums) std::erase(album.ids, id);
    }
    m_items.insert(m_items.end(), made.begin(), made.end());
    if (!replaced.empty()) ++m_changes;
    return replaced;
}

void MemoryLibrary::add(MemoryItem item) {
    std::lock_guard lock(m_mutex);
    m_items.push_back(std::move(item));
}

void MemoryLibrary::remove(const std::string& id) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_items, [&](const MemoryItem& i) { return i.id == id; });
}

void MemoryLibrary::setModified(const std::string& id, std::optional<Timestamp> modified) {
    std::lock_guard lock(m_mutex);
    for (auto& item : m_items)
        if (item.id == id) item.modified = modified;
}

void MemoryLibrary::addAlbum(std::string title, std::vector<std::string> ids) {
    std::lock_guard lock(m_mutex);
    m_albums.push_back({std::move(title), std::move(ids)});
}

std::vector<MemoryLibrary::Album> MemoryLibrary::albums() const {
    std::lock_guard lock(m_mutex);
    return m_albums;
}

void MemoryLibrary::failNextWrite(std::string message) {
    std::lock_guard lock(m_mutex);
    m_failure = LibraryWriteError(message);
}

void MemoryLibrary::declineNextChange() {
    std::lock_guard lock(m_mutex);
    m_failure = LibraryWriteError("The change was not allowed.", LibraryWriteError::Kind::declined);
}

} // namespace vp
