#include "ShotwellLibrary.h"

#include "ItemHasher.h"
#include "ReviewAlbum.h"
#include "engine/catalogs/CatalogFiles.h"
#include "engine/catalogs/SQLite.h"
#include "engine/common/Text.h"
#include "platform/AtomicFile.h"
#include "platform/Home.h"
#include "platform/SystemError.h"
#include "platform/TypeIdentifiers.h"
#include "platform/UniqueFd.h"
#include "platform/media/Movies.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace vp {

namespace {

// Bits of PhotoTable.flags. Hidden is the flag of older versions; flagged is today's favourite.
constexpr std::int64_t hiddenFlag = 0x1;
constexpr std::int64_t favoriteFlag = 0x2;
constexpr std::int64_t trashFlag = 0x4;
constexpr std::int64_t flaggedFlag = 0x10;
constexpr std::int64_t rawFileFormat = 1;
// Bits of VideoTable.flags: a video has no hidden flag, and its flagged bit is its favourite.
constexpr std::int64_t videoTrashFlag = 0x1;
constexpr std::int64_t videoFlaggedFlag = 0x4;

constexpr std::size_t chunkSize = 1 << 20;

struct Resource {
    int type = ResourceType::photo;
    std::string filename;
    std::string path;                 ///< the file; empty for a resource held in the database
    std::optional<std::string> bytes; ///< the content of a resource held in the database
    std::int64_t videoRow = -1;       ///< a Live Photo's movie: its row of VideoTable
};

struct Photo {
    PhotoLibraryItem item;
    std::vector<Resource> resources;
    bool isHidden = false;
};

Timestamp fromSeconds(std::int64_t seconds) { return Timestamp{std::chrono::seconds(seconds)}; }

std::optional<Timestamp> modifiedOnDisk(const std::string& path) {
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0) return std::nullopt;
    return Timestamp{std::chrono::duration_cast<Timestamp::duration>(std::chrono::seconds(status.st_mtim.tv_sec) +
                                                                     std::chrono::nanoseconds(status.st_mtim.tv_nsec))};
}

// Live Photos. Shotwell imports a phone's Live Photo as two unrelated items, the still and its
// short movie. A video beside a still of the same name (letter case aside) that carries the
// pairing identifier and lasts at most 6 seconds is taken as that still's movie: the photo is a
// Live Photo with the movie among its resources, and the video is not listed on its own.
constexpr double longestLiveMovie = 6.0;

bool isStillName(const std::string& path) {
    const std::string extension = lowercased(pathExtension(path));
    return extension == "heic" || extension == "heif" || extension == "jpg" || extension == "jpeg" || extension == "png";
}

std::string folderOf(const std::string& path) { return path.substr(0, path.find_last_of('/') + 1); }

/// Folder and lower-cased base name: the two halves of a Live Photo share it.
std::string liveKey(const std::string& path) {
    return folderOf(path) + lowercased(deletingPathExtension(lastPathComponent(path)));
}

bool isLiveMovie(const std::string& path) {
    // Only a plain file is opened: a FIFO in a movie's place would hold the listing forever.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    const auto facts = Movies::read(path);
    return facts && facts->contentIdentifier && facts->duration <= longestLiveMovie;
}

struct LiveMovie {
    std::int64_t row = -1;
    std::string path;
};

/// The movies (videos not in Shotwell's trash) that pair with stills of `stillKeys`, by key;
/// only videos in `folder` are looked at when one is given. A movie is read only when a still
/// shares its name.
std::map<std::string, LiveMovie> liveMovies(const SQLiteReader& reader, const std::set<std::string>& stillKeys,
                                            const std::optional<std::string>& folder = std::nullopt) {
    std::map<std::string, LiveMovie> movies;
    if (stillKeys.empty()) return movies;
    std::string query = "SELECT id, filename, flags FROM VideoTable";
    if (folder)
        query += " WHERE substr(filename, 1, " + std::to_string(folder->size()) + ") = " + sqlText(*folder);
    for (const auto& row : reader.rows(query)) {
        const auto id = integerValue(row[0]);
        const auto path = textValue(row[1]);
        if (!id || !path || (integerValue(row[2]).value_or(0) & 0x1) != 0) continue;
        const std::string key = liveKey(*path);
        if (stillKeys.contains(key) && !movies.contains(key) && isLiveMovie(*path)) movies[key] = {*id, *path};
    }
    return movies;
}

// The photos of one query of PhotoTable, with their backing files looked up.
class Rows {
public:
    /// `everyBackingFile`: read them all at once, for listing the whole library; otherwise each
    /// is looked up when a photo needs it.
    Rows(const std::string& database, bool everyBackingFile)
        : m_reader(database, false, std::string(ShotwellLibrary::busyText)) {
        // Shotwell makes this table only once a photo needs it.
        m_hasBacking =
            !m_reader.rows("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'BackingPhotoTable'").empty();
        if (m_hasBacking && everyBackingFile) {
            for (const auto& row : m_reader.rows("SELECT id, filepath FROM BackingPhotoTable"))
                if (const auto id = integerValue(row[0]); id && textValue(row[1])) m_backing[*id] = *textValue(row[1]);
            m_complete = true;
        }
    }

    std::vector<Photo> photos(const std::string& where = {}) const {
        std::vector<Photo> photos;
        for (const auto& row : m_reader.rows("SELECT id, filename, width, height, timestamp, exposure_time, flags, "
                                             "file_format, editable_id, develop_camera_id, transformations "
                                             "FROM PhotoTable " +
                                             where))
            if (auto photo = photoOf(row)) photos.push_back(std::move(*photo));
        pairWithMovies(photos);
        return photos;
    }

    /// The movies that made some of the photos Live Photos, by key (filled by `photos`).
    const std::map<std::string, LiveMovie>& movies() const { return m_movies; }

    const SQLiteReader& reader() const { return m_reader; }

private:
    static const Resource* still(const Photo& photo) {
        for (const auto& resource : photo.resources)
            if (resource.type == ResourceType::photo) return isStillName(resource.path) ? &resource : nullptr;
        return nullptr;
    }

    void pairWithMovies(std::vector<Photo>& photos) const {
        std::set<std::string> keys;
        std::set<std::string> folders;
        for (const auto& photo : photos)
            if (const Resource* shown = still(photo); shown != nullptr && !photo.isHidden) {
                keys.insert(liveKey(shown->path));
                folders.insert(folderOf(shown->path));
            }
        // Listing the whole library reads the video table once; one photo, only its folder.
        m_movies = liveMovies(m_reader, keys, folders.size() == 1 && !m_complete ? std::optional(*folders.begin()) : std::nullopt);
        for (auto& photo : photos) {
            const Resource* shown = still(photo);
            if (shown == nullptr || photo.isHidden) continue;
            const auto movie = m_movies.find(liveKey(shown->path));
            if (movie == m_movies.end()) continue;
            photo.resources.push_back(
                {ResourceType::pairedVideo, lastPathComponent(movie->second.path), movie->second.path, {}, movie->second.row});
            photo.item.isLivePhoto = true;
            if (const auto modified = modifiedOnDisk(movie->second.path);
                modified && (!photo.item.modified || *modified > *photo.item.modified))
                photo.item.modified = modified;
        }
    }

    std::optional<std::string> backing(const SQLiteValue& id) const {
        const auto value = integerValue(id);
        if (!value || *value < 0 || !m_hasBacking) return std::nullopt;
        if (m_complete) {
            const auto found = m_backing.find(*value);
            return found == m_backing.end() ? std::nullopt : std::optional(found->second);
        }
        const auto rows = m_reader.rows("SELECT filepath FROM BackingPhotoTable WHERE id = " + std::to_string(*value));
        return rows.empty() ? std::nullopt : textValue(rows[0][0]);
    }

    std::optional<Photo> photoOf(const SQLiteRow& row) const {
        const auto id = integerValue(row[0]);
        const auto path = textValue(row[1]);
        if (!id || !path) return std::nullopt;
        const std::int64_t flags = integerValue(row[6]).value_or(0);
        const auto camera = backing(row[9]);
        const auto edit = backing(row[8]);
        const auto recipe = textValue(row[10]).value_or("");

        Photo photo;
        photo.isHidden = (flags & (hiddenFlag | trashFlag)) != 0;
        // A RAW with the camera's own JPEG is a RAW + JPEG pair: the JPEG is the photo, the RAW its
        // alternate, as a camera writes them.
        const bool isPair = integerValue(row[7]) == rawFileFormat && camera;
        photo.resources.push_back({isPair ? ResourceType::alternatePhoto : ResourceType::photo, lastPathComponent(*path), *path, {}});
        if (isPair) photo.resources.push_back({ResourceType::photo, lastPathComponent(*camera), *camera, {}});
        if (edit) photo.resources.push_back({ResourceType::fullSizePhoto, lastPathComponent(*edit), *edit, {}});
        // Shotwell keeps its own edits as a recipe in the row; hashing it tells an edited copy apart.
        if (!recipe.empty()) photo.resources.push_back({ResourceType::adjustmentData, "", "", recipe});

        const auto primary = std::find_if(photo.resources.begin(), photo.resources.end(),
                                          [](const Resource& r) { return r.type == ResourceType::photo; });
        auto& item = photo.item;
        item.id = ShotwellLibrary::photoID(*id);
        item.filename = primary->filename;
        item.uti = TypeIdentifiers::forExtension(pathExtension(primary->filename));
        item.pixelWidth = integerValue(row[2]).value_or(0);
        item.pixelHeight = integerValue(row[3]).value_or(0);
        const std::int64_t stored = integerValue(row[4]).value_or(0);
        const std::int64_t exposure = integerValue(row[5]).value_or(0);
        if (exposure > 0)
            item.created = fromSeconds(exposure);
        else if (stored > 0)
            item.created = fromSeconds(stored);
        // The newest file on disk dates the item, so a file changed behind Shotwell's back counts.
        for (const auto& resource : photo.resources)
            if (const auto modified = modifiedOnDisk(resource.path); modified && (!item.modified || *modified > *item.modified))
                item.modified = modified;
        if (!item.modified && stored > 0) item.modified = fromSeconds(stored);
        item.isFavorite = (flags & (favoriteFlag | flaggedFlag)) != 0;
        item.hasRAWPair = isPair;
        item.isEdited = edit.has_value() || !recipe.empty();
        return photo;
    }

    SQLiteReader m_reader;
    mutable std::map<std::string, LiveMovie> m_movies;
    bool m_hasBacking = false;
    bool m_complete = false;
    std::map<std::int64_t, std::string> m_backing;
};

std::optional<Photo> photoWithID(const std::string& database, std::string_view id) {
    const auto row = ShotwellLibrary::rowOf(id);
    if (!row) return std::nullopt;
    try {
        auto photos = Rows(database, false).photos("WHERE id = " + std::to_string(*row));
        if (photos.empty() || photos.front().isHidden) return std::nullopt;
        return std::move(photos.front());
    } catch (const CatalogReadError&) {
        return std::nullopt;
    }
}

std::string videoID(std::int64_t row) { return "video-" + ShotwellLibrary::photoID(row).substr(5); }

std::optional<std::int64_t> videoRowOf(std::string_view id) {
    if (!id.starts_with("video-")) return std::nullopt;
    return ShotwellLibrary::rowOf("thumb" + std::string(id.substr(6)));
}

struct Video {
    LibraryVideoInfo info;
    std::string path;
    bool isTrashed = false;
};

constexpr std::string_view videoColumns = "id, filename, exposure_time, timestamp, flags";

std::optional<Video> videoOf(const SQLiteRow& row) {
    const auto id = integerValue(row[0]);
    const auto path = textValue(row[1]);
    if (!id || !path) return std::nullopt;
    const std::int64_t flags = integerValue(row[4]).value_or(0);
    Video video;
    video.path = *path;
    video.isTrashed = (flags & videoTrashFlag) != 0;
    video.info.id = videoID(*id);
    video.info.filename = lastPathComponent(*path);
    const std::int64_t stored = integerValue(row[3]).value_or(0);
    if (const auto exposure = integerValue(row[2]).value_or(0); exposure > 0) video.info.created = fromSeconds(exposure);
    else if (stored > 0) video.info.created = fromSeconds(stored);
    // As for photos, the file on disk dates the video, so a file changed behind Shotwell's back counts.
    video.info.modified = modifiedOnDisk(*path);
    if (!video.info.modified && stored > 0) video.info.modified = fromSeconds(stored);
    video.info.isFavorite = (flags & videoFlaggedFlag) != 0;
    return video;
}

std::optional<Video> videoWithID(const std::string& database, std::string_view id) {
    const auto row = videoRowOf(id);
    if (!row) return std::nullopt;
    try {
        const SQLiteReader reader(database, false, std::string(ShotwellLibrary::busyText));
        const auto rows = reader.rows("SELECT " + std::string(videoColumns) + " FROM VideoTable WHERE id = " + std::to_string(*row));
        if (rows.empty()) return std::nullopt;
        auto video = videoOf(rows[0]);
        if (!video || video->isTrashed) return std::nullopt;
        return video;
    } catch (const CatalogReadError&) {
        return std::nullopt;
    }
}

// A drive that is not connected leaves its folders missing, or its mount point empty.
bool isOnAbsentDrive(const std::string& path) {
    const auto cut = path.find_last_of('/');
    const std::string folder = cut == std::string::npos || cut == 0 ? "/" : path.substr(0, cut);
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) return errno == ENOENT || errno == ENOTDIR;
    if (!S_ISDIR(status.st_mode)) return false;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return false;
    bool empty = true;
    while (const dirent* entry = ::readdir(dir))
        if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..") empty = false;
    ::closedir(dir);
    return empty;
}

// Hashes one file; absent when it was read to the end.
std::optional<LibraryHash> hashFile(const std::string& path, ItemHasher& hasher) {
    // Non-blocking, so a FIFO put in a photo's place cannot hold the scan.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        const int error = errno;
        if ((error == ENOENT || error == ENOTDIR) && isOnAbsentDrive(path)) return LibraryHash::notLocal();
        if (error == ENOENT || error == ENOTDIR) return LibraryHash::failed("Its file is no longer at " + path + ".");
        return LibraryHash::failed("Its file could not be read: " + systemErrorText(error) + ".");
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return LibraryHash::failed("Its file is not a plain file: " + path + ".");
    std::string buffer(chunkSize, '\0');
    while (true) {
        const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return LibraryHash::failed("Its file could not be read: " + systemErrorText(errno) + ".");
        if (got == 0) return std::nullopt;
        if (!hasher.add(std::string_view(buffer.data(), static_cast<std::size_t>(got)))) return LibraryHash::stopped();
    }
}

using CatalogFiles::readWhole;

// A process that has ended but not yet been waited for still shows in /proc; it holds nothing.
bool hasEnded(const std::string& process) {
    const std::string stat = readWhole(process + "/stat");
    const auto close = stat.rfind(") ");
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z' || stat[close + 2] == 'X';
}

// The data folder a running Shotwell uses: its -d argument, else its own environment's default.
std::optional<std::string> dataFolderOf(const std::string& process) {
    const auto arguments = split(readWhole(process + "/cmdline"), '\0');
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const auto& argument = arguments[i];
        if ((argument == "-d" || argument == "--datadir") && i + 1 < arguments.size()) return arguments[i + 1];
        if (argument.starts_with("--datadir=")) return argument.substr(10);
        if (argument.starts_with("-d") && argument.size() > 2) return argument.substr(2);
    }
    std::map<std::string, std::string> environment;
    for (const auto& entry : split(readWhole(process + "/environ"), '\0'))
        if (const auto equals = entry.find('='); equals != std::string::npos)
            environment[entry.substr(0, equals)] = entry.substr(equals + 1);
    if (const auto data = environment.find("XDG_DATA_HOME"); data != environment.end() && !data->second.empty())
        return data->second + "/shotwell/data";
    if (const auto home = environment.find("HOME"); home != environment.end() && !home->second.empty())
        return home->second + "/.local/share/shotwell/data";
    return std::nullopt;
}

} // namespace

ShotwellLibrary::ShotwellLibrary(std::string database, RunningProbe isRunning, std::shared_ptr<Trasher> trasher)
    : m_database(std::move(database)), m_isRunning(std::move(isRunning)),
      m_trasher(trasher ? std::move(trasher) : std::make_shared<FileManagerTrasher>()) {}

void ShotwellLibrary::backUp() const {
    try {
        const std::string folder = CatalogFiles::backupFolderBeside(m_database);
        copyDatabase(m_database, CatalogFiles::freeBackupPath(folder, "photo", std::chrono::system_clock::now(), ".db"));
    } catch (const std::exception& error) {
        throw LibraryWriteError(std::string("The library could not be backed up, so nothing was changed: ") + error.what());
    }
}

std::string ShotwellLibrary::defaultDatabase() {
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::string dataHome = data != nullptr && *data != '\0'
                                     ? data
                                     : (home != nullptr && *home != '\0' ? std::string(home) : realHomeFolder()) + "/.local/share";
    return dataHome + "/shotwell/data/photo.db";
}

Access ShotwellLibrary::access(const std::string& database) {
    struct stat status {};
    if (::stat(database.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return Access::notAsked;
    if (::access(database.c_str(), R_OK) != 0) return Access::denied;
    const auto cut = database.find_last_of('/');
    const std::string folder = cut == std::string::npos ? "." : database.substr(0, std::max<std::size_t>(cut, 1));
    // Writing needs the folder too: SQLite puts its journal beside the database.
    if (::access(database.c_str(), W_OK) != 0 || ::access(folder.c_str(), W_OK) != 0) return Access::restricted;
    return Access::granted;
}

std::optional<std::string> ShotwellLibrary::problem(const std::string& database) {
    try {
        const SQLiteReader reader(database, false, std::string(busyText));
        const auto tables = reader.rows("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                                        "('PhotoTable', 'TagTable', 'VersionTable')");
        if (tables.empty() || integerValue(tables[0][0]) != 3)
            return database + " is not a Shotwell library: it has no photo and tag tables.";
        reader.rows("SELECT id, filename, width, height, timestamp, exposure_time, flags, file_format, editable_id, "
                    "develop_camera_id, transformations FROM PhotoTable LIMIT 1");
        reader.rows("SELECT id, name, photo_id_list FROM TagTable LIMIT 1");
    } catch (const CatalogReadError& error) {
        return "The Shotwell library at " + database + " could not be read: " + error.detail();
    }
    return std::nullopt;
}

bool ShotwellLibrary::isShotwellRunning(const std::string& database) {
    const auto ours = CatalogFiles::realPath(database);
    for (const auto& process : CatalogFiles::runningProcesses({"shotwell"})) {
        // Only Shotwell itself: a command that merely names it ("clean --library shotwell") does not count.
        std::string name = readWhole(process + "/comm");
        if (!name.empty() && name.back() == '\n') name.pop_back();
        if (name != "shotwell" || hasEnded(process)) continue;
        const auto folder = dataFolderOf(process);
        if (!folder || !ours) return true;
        const auto theirs = CatalogFiles::realPath(*folder + "/photo.db");
        if (!theirs || *theirs == *ours) return true;
    }
    return false;
}

std::string ShotwellLibrary::photoID(std::int64_t row) {
    char text[32];
    std::snprintf(text, sizeof text, "thumb%016" PRIx64, static_cast<std::uint64_t>(row));
    return text;
}

std::optional<std::int64_t> ShotwellLibrary::rowOf(std::string_view id) {
    if (!id.starts_with("thumb") || id.size() != 21) return std::nullopt;
    std::uint64_t row = 0;
    for (const char c : id.substr(5)) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return std::nullopt;
        row = row * 16 + static_cast<std::uint64_t>(digit);
    }
    if (row > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<std::int64_t>(row);
}

PhotoLibraryReading::Listing ShotwellLibrary::items(const CancellationFlag& cancel) const {
    Listing listing;
    try {
        const Rows rows(m_database, true);
        auto photos = rows.photos("ORDER BY id");
        std::stable_sort(photos.begin(), photos.end(), [](const Photo& a, const Photo& b) {
            return a.item.created.value_or(Timestamp{}) < b.item.created.value_or(Timestamp{});
        });
        for (auto& photo : photos) {
            if (cancel.isCancelled()) return listing;
            if (!photo.isHidden) listing.photos.push_back(std::move(photo.item));
        }
        // The movies of Live Photos are parts of their photos, not videos of their own.
        const auto videos = rows.reader().rows("SELECT COUNT(*) FROM VideoTable WHERE (flags & 1) = 0");
        listing.videos = (videos.empty() ? 0 : integerValue(videos[0][0]).value_or(0)) -
                         static_cast<std::int64_t>(rows.movies().size());
    } catch (const CatalogReadError&) {
        // An unreadable library lists nothing; `access` and opening it say why.
    }
    return listing;
}

LibraryHash ShotwellLibrary::hash(const std::string& id, bool, const ByteCallback& onBytes) const {
    // Nothing can be fetched from a drive that is not connected, so `download` changes nothing.
    auto photo = photoWithID(m_database, id);
    if (!photo) return LibraryHash::failed("No longer in the library");
    ItemHasher::sortForHashing(photo->resources);
    ItemHasher hasher(onBytes);
    for (const auto& resource : photo->resources) {
        hasher.beginResource(resource.type);
        if (resource.bytes) {
            if (!hasher.add(*resource.bytes)) return LibraryHash::stopped();
        } else if (auto outcome = hashFile(resource.path, hasher)) {
            return *outcome;
        }
    }
    return hasher.finish();
}

std::optional<Bitmap> ShotwellLibrary::preview(const std::string& id, int maxPixels) const {
    const auto photo = photoWithID(m_database, id);
    if (!photo) return std::nullopt;
    // The edited file shows the photo as the person last saw it; else the photo itself.
    const Resource* shown = nullptr;
    for (const auto& resource : photo->resources)
        if (!resource.path.empty() && (shown == nullptr || resource.type == ResourceType::fullSizePhoto ||
                                       (resource.type == ResourceType::photo && shown->type != ResourceType::fullSizePhoto)))
            shown = &resource;
    if (shown == nullptr) return std::nullopt;
    auto bitmap = Images::thumbnail(shown->path, maxPixels);
    if (!bitmap) return std::nullopt;
    return std::move(bitmap.value());
}

std::optional<std::optional<Timestamp>> ShotwellLibrary::currentModified(const std::string& id) const {
    if (id.starts_with("video-")) {
        const auto video = videoWithID(m_database, id);
        if (!video) return std::nullopt;
        return video->info.modified;
    }
    const auto photo = photoWithID(m_database, id);
    if (!photo) return std::nullopt;
    return photo->item.modified;
}

std::vector<std::string> ShotwellLibrary::tagged(const std::string& name) const {
    std::vector<std::string> ids;
    try {
        const SQLiteReader reader(m_database, false, std::string(busyText));
        for (const auto& row : reader.rows("SELECT photo_id_list FROM TagTable WHERE name = " + sqlText(name) +
                                           " OR name = " + sqlText("/" + name)))
            for (const auto& entry : split(textValue(row[0]).value_or(""), ','))
                if (!entry.empty()) ids.push_back(entry);
    } catch (const CatalogReadError&) {
    }
    return ids;
}

namespace {

std::optional<std::int64_t> tagNamed(SQLiteWriter& writer, std::string_view name) {
    const auto rows = writer.rows("SELECT id FROM TagTable WHERE name = " + sqlText(name) + " OR name = " +
                                  sqlText("/" + std::string(name)) + " ORDER BY id LIMIT 1");
    if (rows.empty()) return std::nullopt;
    return integerValue(rows[0][0]);
}

std::int64_t reviewTag(SQLiteWriter& writer, const std::string& name) {
    if (const auto tag = tagNamed(writer, name)) return *tag;
    if (name == ReviewAlbum::name)
        for (const auto former : ReviewAlbum::formerNames)
            if (const auto tag = tagNamed(writer, former)) {
                writer.run("UPDATE TagTable SET name = " + sqlText(name) + " WHERE id = " + std::to_string(*tag));
                return *tag;
            }
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
    writer.run("INSERT INTO TagTable (name, photo_id_list, time_created) VALUES (" + sqlText(name) + ", '', " +
               std::to_string(now.count()) + ")");
    const auto rows = writer.rows("SELECT last_insert_rowid()");
    return integerValue(rows.at(0).at(0)).value_or(0);
}

} // namespace

std::vector<std::string> ShotwellLibrary::addToAlbum(const std::string& name, const std::vector<std::string>& ids) {
    if (m_isRunning(m_database)) throw LibraryWriteError(std::string(runningText));
    backUp();

    std::string rowList;
    for (const auto& id : ids)
        if (const auto row = rowOf(id)) rowList += (rowList.empty() ? "" : ", ") + std::to_string(*row);
    std::vector<std::string> added;
    try {
        inOneTransaction(m_database, [&](SQLiteWriter& writer) {
            added.clear();
            const std::int64_t tag = reviewTag(writer, name);
            if (!rowList.empty())
                for (const auto& row : writer.rows("SELECT id FROM PhotoTable WHERE id IN (" + rowList + ") AND (flags & " +
                                                   std::to_string(trashFlag) + ") = 0 ORDER BY id"))
                    if (const auto id = integerValue(row[0])) added.push_back(photoID(*id));
            const auto current = writer.rows("SELECT photo_id_list FROM TagTable WHERE id = " + std::to_string(tag));
            std::string list = current.empty() ? "" : textValue(current[0][0]).value_or("");
            if (!list.empty() && list.back() != ',') list += ',';
            const auto present = split(list, ',');
            for (const auto& id : added)
                if (std::find(present.begin(), present.end(), id) == present.end()) list += id + ",";
            writer.run("UPDATE TagTable SET photo_id_list = " + sqlText(list) + " WHERE id = " + std::to_string(tag));
        });
    } catch (const SQLiteWriter::Failure& failure) {
        throw LibraryWriteError(failure.description());
    }
    return added;
}

std::vector<LibraryVideoInfo> ShotwellLibrary::videos(const CancellationFlag& cancel) const {
    std::vector<LibraryVideoInfo> videos;
    try {
        const Rows rows(m_database, true);
        rows.photos(); // finds the movies that belong to Live Photos
        std::set<std::int64_t> liveMovieRows;
        for (const auto& [key, movie] : rows.movies()) liveMovieRows.insert(movie.row);
        for (const auto& row : rows.reader().rows("SELECT " + std::string(videoColumns) + " FROM VideoTable ORDER BY id")) {
            if (cancel.isCancelled()) break;
            if (liveMovieRows.contains(integerValue(row[0]).value_or(-1))) continue;
            if (auto video = videoOf(row); video && !video->isTrashed) videos.push_back(std::move(video->info));
        }
    } catch (const CatalogReadError&) {
    }
    std::stable_sort(videos.begin(), videos.end(), [](const LibraryVideoInfo& a, const LibraryVideoInfo& b) {
        return a.created.value_or(Timestamp{}) < b.created.value_or(Timestamp{});
    });
    return videos;
}

std::optional<std::string> ShotwellLibrary::localVideoURL(const std::string& id) const {
    const auto video = videoWithID(m_database, id);
    if (!video) return std::nullopt;
    struct stat status {};
    if (::stat(video->path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return video->path;
}

std::optional<std::int64_t> ShotwellLibrary::pairedMovieSize(const std::string& id) const {
    const auto photo = photoWithID(m_database, id);
    if (!photo) return std::nullopt;
    for (const auto& resource : photo->resources) {
        struct stat status {};
        if (resource.type == ResourceType::pairedVideo && ::stat(resource.path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
            return static_cast<std::int64_t>(status.st_size);
    }
    return std::nullopt;
}

std::optional<PhotoLibraryMedia::StillData> ShotwellLibrary::stillData(const std::string& id) const {
    const auto photo = photoWithID(m_database, id);
    if (!photo) return std::nullopt;
    for (const auto& resource : photo->resources) {
        if (resource.type != ResourceType::photo) continue;
        std::ifstream in(resource.path, std::ios::binary);
        if (!in) return std::nullopt;
        return StillData{{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}, photo->item.uti};
    }
    return std::nullopt;
}

namespace {

// A name beside `original` that nothing occupies: `filename`, else "stem 2.ext", "stem 3.ext", ...
std::string freePathBeside(const std::string& original, const std::string& filename) {
    const std::string folder = original.substr(0, original.find_last_of('/') + 1);
    const std::string name = lastPathComponent(filename.empty() ? original : filename);
    const std::string stem = deletingPathExtension(name);
    const std::string extension = name.substr(stem.size());
    std::string candidate = folder + name;
    struct stat status {};
    for (int number = 2; ::lstat(candidate.c_str(), &status) == 0; ++number)
        candidate = folder + stem + " " + std::to_string(number) + extension;
    return candidate;
}

// Puts the new content in place; the path it took. Throws LibraryWriteError.
std::string placeBeside(const std::string& original, const LibraryReplacement& replacement) {
    const std::string target = freePathBeside(original, replacement.filename);
    if (const auto* still = std::get_if<LibraryReplacement::Still>(&replacement.content)) {
        if (const auto failure = AtomicFile::write(target, still->data); !failure.empty())
            throw LibraryWriteError("The new file could not be written beside " + original + ": " + failure);
        return target;
    }
    // The finished movie is consumed: moved when it is on the same drive, else copied and removed.
    const auto& movie = std::get<LibraryReplacement::Video>(replacement.content).path;
    std::error_code error;
    std::filesystem::rename(movie, target, error);
    if (error) {
        std::filesystem::copy_file(movie, target, error);
        if (error) throw LibraryWriteError("The new file could not be put beside " + original + ": " + error.message());
        std::filesystem::remove(movie, error);
    }
    return target;
}

// The file keeps its original's date on disk, as people sort and back up by it.
void keepModificationTime(const std::string& original, const std::string& copy) {
    struct stat status {};
    if (::stat(original.c_str(), &status) != 0) return;
    const timespec times[2] = {{0, UTIME_OMIT}, status.st_mtim};
    ::utimensat(AT_FDCWD, copy.c_str(), times, 0);
}

std::string sqlValue(const SQLiteValue& value) {
    if (!value) return "NULL";
    if (const auto* integer = std::get_if<std::int64_t>(&*value)) return std::to_string(*integer);
    if (const auto* real = std::get_if<double>(&*value)) return CatalogFiles::sqlReal(*real);
    return sqlText(std::get<std::string>(*value));
}

struct Placed {
    std::string originalID;
    std::string originalPath;
    std::string newPath;
    std::int64_t originalRow = 0;
    bool isVideo = false;
    std::string wantedPath; ///< the name asked for, taken by the original while both exist
    std::int64_t newRow = -1;
    std::optional<LiveMovie> movie; ///< a Live Photo's movie, which goes with its original
};

// The new row: every column of the original's but the ones that describe its file.
std::int64_t insertReplacement(SQLiteWriter& writer, const Placed& placed) {
    const std::string table = placed.isVideo ? "VideoTable" : "PhotoTable";
    const auto columns = writer.rows("PRAGMA table_info(" + table + ")");
    const auto original = writer.rows("SELECT * FROM " + table + " WHERE id = " + std::to_string(placed.originalRow));
    if (original.empty()) return -1;
    struct stat status {};
    ::stat(placed.newPath.c_str(), &status);
    // A smaller copy of a video has its own picture size.
    const auto movie = placed.isVideo ? Movies::read(placed.newPath) : std::nullopt;
    std::string names, values;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const std::string name = textValue(columns[i][1]).value_or("");
        if (name == "id") continue;
        std::string value = sqlValue(original[0][i]);
        if (name == "filename") value = sqlText(placed.newPath);
        else if (name == "filesize") value = std::to_string(status.st_size);
        else if (movie && name == "width") value = std::to_string(movie->width);
        else if (movie && name == "height") value = std::to_string(movie->height);
        else if (movie && name == "clip_duration") value = CatalogFiles::sqlReal(movie->duration);
        else if (name == "timestamp") value = std::to_string(status.st_mtim.tv_sec);
        else if (name == "md5" || name == "thumbnail_md5" || name == "exif_md5" || name == "transformations" ||
                 name == "backlinks" || name == "developer")
            value = "NULL";
        else if (name == "editable_id" || name == "develop_shotwell_id" || name == "develop_camera_id" ||
                 name == "develop_embedded_id")
            value = "-1";
        else if (name == "file_format")
            value = std::to_string(pathExtension(placed.newPath) == "png" ? 2 : pathExtension(placed.newPath) == "tif" ||
                                                                             pathExtension(placed.newPath) == "tiff"
                                                                         ? 3
                                                                         : 0);
        names += (names.empty() ? "" : ", ") + name;
        values += (values.empty() ? "" : ", ") + value;
    }
    writer.run("INSERT INTO " + table + " (" + names + ") VALUES (" + values + ")");
    return integerValue(writer.rows("SELECT last_insert_rowid()").at(0).at(0)).value_or(-1);
}

void takeWantedName(const std::string& database, const Placed& item) {
    // With its original in the Trash, the new file may take the name it was given ("trip.mp4",
    // not "trip 2.mp4"); whatever fails here leaves it under the name it has, which the row holds.
    if (item.newRow < 0 || item.newPath == item.wantedPath) return;
    if (::renameat2(AT_FDCWD, item.newPath.c_str(), AT_FDCWD, item.wantedPath.c_str(), RENAME_NOREPLACE) != 0) return;
    try {
        inOneTransaction(database, [&](SQLiteWriter& writer) {
            writer.run(std::string("UPDATE ") + (item.isVideo ? "VideoTable" : "PhotoTable") + " SET filename = " +
                       sqlText(item.wantedPath) + " WHERE id = " + std::to_string(item.newRow));
        });
    } catch (const SQLiteWriter::Failure&) {
        ::renameat2(AT_FDCWD, item.wantedPath.c_str(), AT_FDCWD, item.newPath.c_str(), RENAME_NOREPLACE);
    }
}

} // namespace

std::vector<std::string> ShotwellLibrary::replace(const std::vector<LibraryReplacement>& replacements) {
    if (m_isRunning(m_database)) throw LibraryWriteError(std::string(runningText));
    // The originals, as the database has them now; identifiers not found are passed over.
    std::vector<Placed> placed;
    try {
        const SQLiteReader reader(m_database, false, std::string(busyText));
        for (const auto& replacement : replacements) {
            const bool isVideo = replacement.originalID.starts_with("video-");
            const auto row = isVideo ? videoRowOf(replacement.originalID) : rowOf(replacement.originalID);
            if (!row) continue;
            const auto rows = reader.rows(std::string("SELECT filename FROM ") + (isVideo ? "VideoTable" : "PhotoTable") +
                                          " WHERE id = " + std::to_string(*row));
            if (rows.empty() || !textValue(rows[0][0])) continue;
            placed.push_back({replacement.originalID, *textValue(rows[0][0]), {}, *row, isVideo, {}, -1, std::nullopt});
            // Keeping a Live Photo's still alone lets its movie go with the original.
            if (!isVideo && std::holds_alternative<LibraryReplacement::Still>(replacement.content))
                if (const auto photo = photoWithID(m_database, replacement.originalID))
                    for (const auto& resource : photo->resources)
                        if (resource.type == ResourceType::pairedVideo)
                            placed.back().movie = LiveMovie{resource.videoRow, resource.path};
        }
    } catch (const CatalogReadError& error) {
        throw LibraryWriteError(error.description());
    }
    if (placed.empty()) return {};
    backUp();

    const auto removeNewFiles = [&] {
        for (const auto& item : placed)
            if (!item.newPath.empty()) ::unlink(item.newPath.c_str());
    };
    try {
        for (auto& item : placed) {
            const auto replacement = std::find_if(replacements.begin(), replacements.end(), [&](const LibraryReplacement& r) {
                return r.originalID == item.originalID;
            });
            item.newPath = placeBeside(item.originalPath, *replacement);
            keepModificationTime(item.originalPath, item.newPath);
            item.wantedPath = item.originalPath.substr(0, item.originalPath.find_last_of('/') + 1) +
                              lastPathComponent(replacement->filename.empty() ? item.originalPath : replacement->filename);
        }
        inOneTransaction(m_database, [&](SQLiteWriter& writer) {
            for (auto& item : placed) {
                const std::int64_t row = insertReplacement(writer, item);
                item.newRow = row;
                const std::string oldID = item.isVideo ? videoID(item.originalRow) : photoID(item.originalRow);
                const std::string newID = item.isVideo ? videoID(row) : photoID(row);
                // Tags list their photos as "<id>,": the new one takes the original's place.
                writer.run("UPDATE TagTable SET photo_id_list = replace(photo_id_list, " + sqlText(oldID + ",") + ", " +
                           sqlText(newID + ",") + ") WHERE photo_id_list LIKE " + sqlText("%" + oldID + ",%"));
                writer.run("UPDATE EventTable SET primary_source_id = " + sqlText(newID) +
                           " WHERE primary_source_id = " + sqlText(oldID));
                writer.run(std::string("DELETE FROM ") + (item.isVideo ? "VideoTable" : "PhotoTable") +
                           " WHERE id = " + std::to_string(item.originalRow));
                if (item.movie) {
                    const std::string movieID = videoID(item.movie->row);
                    writer.run("UPDATE TagTable SET photo_id_list = replace(photo_id_list, " + sqlText(movieID + ",") +
                               ", '') WHERE photo_id_list LIKE " + sqlText("%" + movieID + ",%"));
                    writer.run("UPDATE EventTable SET primary_source_id = " + sqlText(newID) +
                               " WHERE primary_source_id = " + sqlText(movieID));
                    writer.run("DELETE FROM VideoTable WHERE id = " + std::to_string(item.movie->row));
                }
            }
        });
    } catch (const SQLiteWriter::Failure& failure) {
        removeNewFiles();
        throw LibraryWriteError(failure.description());
    } catch (const LibraryWriteError&) {
        removeNewFiles();
        throw;
    }

    std::vector<std::string> replaced;
    for (const auto& item : placed) {
        try {
            m_trasher->trash(item.originalPath);
            takeWantedName(m_database, item);
            if (item.movie) m_trasher->trash(item.movie->path);
        } catch (const std::exception&) {
            // The library holds the new file already; the original stays where it was, out of it.
        }
        replaced.push_back(item.originalID);
    }
    return replaced;
}

} // namespace vp
