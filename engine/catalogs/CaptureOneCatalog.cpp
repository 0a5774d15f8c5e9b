#include "CaptureOneCatalog.h"

#include "CatalogFiles.h"
#include "SQLite.h"
#include "engine/common/Text.h"
#include "platform/Home.h"

#include <algorithm>
#include <charconv>
#include <dirent.h>
#include <set>
#include <sys/stat.h>

namespace vp::CaptureOneCatalog {

const std::vector<std::pair<std::string, std::vector<std::string>>>& requiredColumns() {
    static const std::vector<std::pair<std::string, std::vector<std::string>>> columns{
        {"ZIMAGE", {"Z_PK", "ZIMAGEFILENAME", "ZIMAGELOCATION", "ZISTRASHED"}},
        {"ZPATHLOCATION", {"Z_PK", "ZMACROOT", "ZRELATIVEPATH", "ZISRELATIVE"}},
        {"ZVARIANT", {"Z_PK", "ZIMAGE", "ZISMODIFIED", "ZADJUSTMENTLAYER", "ZCOMBINEDSETTINGS",
                      "ZLASTMETADATAMODIFICATIONDATE"}},
        {"ZVARIANTLAYER", {"Z_PK", "ZMETADATA"}},
        {"ZVARIANTMETADATA", {"Z_PK", "ZBASIC_RATING", "ZCOLOR_TAG_INDEX", "ZCONTENT_KEYWORDS"}},
        {"ZCOLLECTION", {"Z_PK", "Z_ENT", "ZPARENT"}},
        {"ZIMAGEINCOLLECTION", {"ZIMAGE", "ZCOLLECTION"}},
        {"ZVARIANTINCOLLECTION", {"ZVARIANT", "ZCOLLECTION"}},
        {"ZVERSIONINFO", {"Z_PK", "ZVERSION"}},
    };
    return columns;
}

bool Catalog::isTestedVersion() const {
    return std::find(testedSchemaVersions.begin(), testedSchemaVersions.end(), schemaVersion) !=
           testedSchemaVersions.end();
}

std::optional<std::string> Catalog::originalsFolder() const {
    const auto real = CatalogFiles::realPath(url);
    if (!real) return std::nullopt;
    return *real + "/Originals";
}

std::vector<CaptureOnePhoto> Catalog::missing() const {
    std::vector<CaptureOnePhoto> gone;
    std::copy_if(photos.begin(), photos.end(), std::back_inserter(gone),
                 [](const auto& photo) { return !photo.exists && !photo.isTrashed; });
    return gone;
}

std::optional<std::string> database(const std::string& package) {
    std::vector<std::string> found;
    if (DIR* dir = ::opendir(package.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && lowercased(pathExtension(name)) == "cocatalogdb")
                found.push_back(CatalogFiles::join(package, name));
        }
        ::closedir(dir);
    }
    if (found.size() != 1) return std::nullopt;
    return found.front();
}

bool isOpen(const std::string& package) {
    struct stat status {};
    if (::lstat(CatalogFiles::join(package, "writelock").c_str(), &status) == 0) return true;
    return CatalogFiles::isProgramRunning(programNames);
}

namespace {

const std::string metadataJoin = "FROM ZVARIANT v JOIN ZVARIANTLAYER l ON l.Z_PK = v.ZCOMBINEDSETTINGS\n"
                                 "JOIN ZVARIANTMETADATA m ON m.Z_PK = l.ZMETADATA WHERE v.ZIMAGE = i.Z_PK";
// Collections of entity 2 are albums, except those inside a collection of entity 8.
const std::string albumFilter =
    "JOIN ZCOLLECTION c ON c.Z_PK = x.ZCOLLECTION LEFT JOIN ZCOLLECTION parent ON parent.Z_PK = c.ZPARENT\n"
    "WHERE c.Z_ENT = " + std::string("2") + " AND COALESCE(parent.Z_ENT, 0) != " + std::string("8");

const std::string photoQuery =
    "SELECT i.Z_PK, p.ZMACROOT, p.ZRELATIVEPATH, COALESCE(p.ZISRELATIVE, 0), i.ZIMAGEFILENAME, "
    "COALESCE(i.ZISTRASHED, 0),\n"
    "       (SELECT MIN(v.Z_PK) FROM ZVARIANT v WHERE v.ZIMAGE = i.Z_PK),\n"
    "       (SELECT COUNT(*) FROM ZVARIANT v WHERE v.ZIMAGE = i.Z_PK),\n"
    "       (SELECT COUNT(*) FROM ZVARIANT v WHERE v.ZIMAGE = i.Z_PK AND v.ZISMODIFIED = 1),\n"
    "       (SELECT MAX(COALESCE(m.ZBASIC_RATING, 0)) " + metadataJoin + "),\n"
    "       (SELECT group_concat(COALESCE(m.ZCOLOR_TAG_INDEX, 0)) " + metadataJoin + "),\n"
    "       (SELECT COUNT(*) " + metadataJoin + " AND length(COALESCE(m.ZCONTENT_KEYWORDS, '')) > 0),\n"
    "       (SELECT COUNT(*) FROM ZIMAGEINCOLLECTION x " + albumFilter + " AND x.ZIMAGE = i.Z_PK)\n"
    "     + (SELECT COUNT(*) FROM ZVARIANTINCOLLECTION x " + albumFilter + "\n"
    "          AND x.ZVARIANT IN (SELECT v.Z_PK FROM ZVARIANT v WHERE v.ZIMAGE = i.Z_PK))\n"
    "FROM ZIMAGE i JOIN ZPATHLOCATION p ON p.Z_PK = i.ZIMAGELOCATION\n"
    "ORDER BY i.Z_PK";

void checkLayout(const SQLiteReader& reader) {
    for (const auto& [table, columns] : requiredColumns()) {
        std::set<std::string> present;
        const auto rows = reader.rows("PRAGMA table_info(" + table + ")");
        if (rows.empty()) throw CatalogReadError::unknownLayout("no " + table);
        for (const auto& row : rows)
            if (row.size() > 1)
                if (auto name = textValue(row[1])) present.insert(*name);
        for (const auto& column : columns)
            if (!present.contains(column)) throw CatalogReadError::unknownLayout("no " + table + "." + column);
    }
}

std::string schemaVersionOf(const SQLiteReader& reader) {
    const auto rows = reader.rows("SELECT ZVERSION FROM ZVERSIONINFO ORDER BY Z_PK DESC LIMIT 1");
    if (rows.empty() || rows.front().empty() || !rows.front().front()) return "unknown";
    const auto& value = *rows.front().front();
    if (const auto* integer = std::get_if<std::int64_t>(&value)) return std::to_string(*integer);
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    return "unknown";
}

int count(const SQLiteValue& value) {
    return static_cast<int>(std::clamp<std::int64_t>(integerValue(value).value_or(0), INT32_MIN, INT32_MAX));
}

std::vector<int> colorTags(const std::string& list) {
    std::vector<int> tags;
    for (const auto& piece : split(list, ',')) {
        int tag = 0;
        const auto* end = piece.data() + piece.size();
        const auto [at, error] = std::from_chars(piece.data(), end, tag);
        if (!piece.empty() && error == std::errc() && at == end) tags.push_back(tag);
    }
    return tags;
}

} // namespace

Catalog read(const std::string& package) {
    if (lowercased(pathExtension(package)) != "cocatalog")
        throw CatalogReadError::notACatalog(std::string(notACatalogText));
    const auto databasePath = database(package);
    if (!databasePath) throw CatalogReadError::notACatalog(std::string(notACatalogText));
    SQLiteReader reader(*databasePath, !isOpen(package), std::string(busyText));
    checkLayout(reader);

    Catalog catalog;
    catalog.url = package;
    catalog.databaseURL = *databasePath;
    catalog.schemaVersion = schemaVersionOf(reader);
    std::set<std::string> roots;
    for (const auto& row : reader.rows(photoQuery)) {
        const auto* imageID = row[0] ? std::get_if<std::int64_t>(&*row[0]) : nullptr;
        const auto* filename = row[4] ? std::get_if<std::string>(&*row[4]) : nullptr;
        const auto* variantID = row[6] ? std::get_if<std::int64_t>(&*row[6]) : nullptr;
        if (imageID == nullptr || filename == nullptr || variantID == nullptr) continue;

        const bool relative = integerValue(row[3]).value_or(0) == 1;
        const std::string base = relative ? package : textValue(row[1]).value_or("/");
        const std::string folder = CatalogFiles::join(base, textValue(row[2]).value_or(""));
        const std::string joinedPath = CatalogFiles::join(folder, *filename);
        const auto resolved = CatalogFiles::realPath(joinedPath);

        CaptureOnePhoto photo;
        photo.path = resolved.value_or(joinedPath);
        photo.exists = resolved.has_value();
        photo.isTrashed = integerValue(row[5]).value_or(0) != 0;
        photo.ref.imageID = *imageID;
        photo.ref.variantID = *variantID;
        photo.ref.variants = count(row[7]);
        photo.ref.isEdited = count(row[8]) > 0;
        photo.ref.rating = count(row[9]);
        photo.ref.colorTags = colorTags(textValue(row[10]).value_or(""));
        photo.ref.keywords = count(row[11]);
        photo.ref.albums = count(row[12]);
        catalog.photos.push_back(std::move(photo));
        if (const auto realFolder = CatalogFiles::realPath(folder)) roots.insert(*realFolder);
    }
    catalog.rootFolders.assign(roots.begin(), roots.end());
    return catalog;
}

std::vector<std::string> catalogsIn(const std::string& folder) {
    return CatalogFiles::entriesWithExtension(folder, "cocatalog");
}

std::vector<std::string> defaultCatalogs() { return catalogsIn(CatalogFiles::join(realHomeFolder(), "Pictures")); }

} // namespace vp::CaptureOneCatalog
