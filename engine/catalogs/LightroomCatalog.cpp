#include "LightroomCatalog.h"

#include "CatalogFiles.h"
#include "SQLite.h"
#include "engine/common/Text.h"
#include "platform/Home.h"

#include <algorithm>
#include <set>
#include <sys/stat.h>

namespace vp::LightroomCatalog {

const std::vector<std::pair<std::string, std::vector<std::string>>>& requiredColumns() {
    static const std::vector<std::pair<std::string, std::vector<std::string>>> columns{
        {"Adobe_images", {"id_local", "rootFile", "masterImage", "pick", "rating", "colorLabels"}},
        {"AgLibraryFile", {"id_local", "folder", "idx_filename", "sidecarExtensions"}},
        {"AgLibraryFolder", {"id_local", "rootFolder", "pathFromRoot"}},
        {"AgLibraryRootFolder", {"id_local", "absolutePath"}},
        {"Adobe_imageDevelopSettings", {"image", "hasDevelopAdjustmentsEx"}},
        {"AgLibraryCollectionImage", {"image", "collection"}},
        {"AgLibraryKeywordImage", {"image", "tag"}},
        {"Adobe_variablesTable", {"name", "value"}},
    };
    return columns;
}

std::vector<LightroomPhoto> Catalog::missing() const {
    std::vector<LightroomPhoto> gone;
    std::copy_if(photos.begin(), photos.end(), std::back_inserter(gone),
                 [](const auto& photo) { return !photo.exists; });
    return gone;
}

bool Catalog::isTestedVersion() const {
    return std::find(testedSchemaVersions.begin(), testedSchemaVersions.end(), schemaVersion) !=
           testedSchemaVersions.end();
}

namespace {

constexpr std::string_view photoQuery =
    "SELECT i.id_local, r.absolutePath, f.pathFromRoot, lf.idx_filename,\n"
    "       COALESCE(i.pick, 0), COALESCE(i.rating, 0), COALESCE(i.colorLabels, ''),\n"
    "       (SELECT COUNT(*) FROM Adobe_images v WHERE v.masterImage = i.id_local),\n"
    "       (SELECT COUNT(*) FROM Adobe_imageDevelopSettings d\n"
    "          WHERE d.hasDevelopAdjustmentsEx > 0\n"
    "            AND (d.image = i.id_local OR d.image IN (SELECT v.id_local FROM Adobe_images v WHERE v.masterImage = "
    "i.id_local))),\n"
    "       (SELECT COUNT(*) FROM AgLibraryCollectionImage c\n"
    "          WHERE c.image = i.id_local OR c.image IN (SELECT v.id_local FROM Adobe_images v WHERE v.masterImage = "
    "i.id_local)),\n"
    "       (SELECT COUNT(*) FROM AgLibraryKeywordImage k\n"
    "          WHERE k.image = i.id_local OR k.image IN (SELECT v.id_local FROM Adobe_images v WHERE v.masterImage = "
    "i.id_local)),\n"
    "       COALESCE(lf.sidecarExtensions, '')\n"
    "FROM Adobe_images i\n"
    "JOIN AgLibraryFile lf ON lf.id_local = i.rootFile\n"
    "JOIN AgLibraryFolder f ON f.id_local = lf.folder\n"
    "JOIN AgLibraryRootFolder r ON r.id_local = f.rootFolder\n"
    "WHERE i.masterImage IS NULL\n"
    "ORDER BY i.id_local";

void checkLayout(const SQLiteReader& reader) {
    std::vector<std::string> missing;
    for (const auto& [table, columns] : requiredColumns()) {
        std::set<std::string> present;
        for (const auto& row : reader.rows("PRAGMA table_info(" + table + ")"))
            if (row.size() > 1)
                if (auto name = textValue(row[1])) present.insert(*name);
        for (const auto& column : columns)
            if (!present.contains(column)) missing.push_back(table + "." + column);
    }
    if (!missing.empty()) throw CatalogReadError::unknownLayout(joined(missing, ", "));
}

std::string schemaVersionOf(const SQLiteReader& reader) {
    const auto rows = reader.rows("SELECT value FROM Adobe_variablesTable WHERE name = 'Adobe_DBVersion'");
    if (rows.empty() || rows.front().empty() || !rows.front().front()) return "unknown";
    const auto& value = *rows.front().front();
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* integer = std::get_if<std::int64_t>(&value)) return std::to_string(*integer);
    return CatalogFiles::sqlReal(std::get<double>(value));
}

int integerColumn(const SQLiteRow& row, std::size_t column) {
    const auto value = integerValue(row[column]).value_or(0);
    return static_cast<int>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

} // namespace

Catalog read(const std::string& path) {
    if (lowercased(pathExtension(path)) != "lrcat") throw CatalogReadError::notACatalog(std::string(notACatalogText));
    SQLiteReader reader(path, std::nullopt, std::string(busyText));
    checkLayout(reader);

    Catalog catalog;
    catalog.url = path;
    catalog.schemaVersion = schemaVersionOf(reader);
    std::set<std::string> roots;
    for (const auto& row : reader.rows(std::string(photoQuery))) {
        const auto imageID = integerValue(row[0]);
        const auto root = textValue(row[1]);
        const auto folder = textValue(row[2]);
        const auto filename = textValue(row[3]);
        if (!imageID || !root || !filename) continue; // a row without a place cannot be a file
        const std::string joinedPath =
            CatalogFiles::join(CatalogFiles::join(*root, folder.value_or("")), *filename);
        const auto resolved = CatalogFiles::realPath(joinedPath);

        LightroomPhoto photo;
        photo.path = resolved.value_or(joinedPath);
        photo.exists = resolved.has_value();
        photo.ref.imageID = *imageID;
        photo.ref.pick = integerColumn(row, 4);
        photo.ref.rating = integerColumn(row, 5);
        photo.ref.colorLabel = textValue(row[6]).value_or("");
        photo.ref.virtualCopies = integerColumn(row, 7);
        photo.ref.isEdited = integerColumn(row, 8) > 0;
        photo.ref.collections = integerColumn(row, 9);
        photo.ref.keywords = integerColumn(row, 10);
        const auto sidecars = textValue(row[11]).value_or("");
        if (!sidecars.empty()) photo.ref.sidecarExtensions = split(sidecars, ',');
        catalog.photos.push_back(std::move(photo));
        roots.insert(CatalogFiles::realPath(*root).value_or(*root));
    }
    catalog.rootFolders.assign(roots.begin(), roots.end());
    return catalog;
}

bool isOpen(const std::string& path) {
    struct stat status {};
    if (::lstat((path + ".lock").c_str(), &status) == 0) return true;
    return CatalogFiles::isProgramRunning(programNames);
}

std::vector<std::string> catalogsIn(const std::string& folder) {
    return CatalogFiles::entriesWithExtension(folder, "lrcat");
}

std::vector<std::string> defaultCatalogs() {
    return catalogsIn(CatalogFiles::join(realHomeFolder(), "Pictures/Lightroom"));
}

std::string noCatalogNotice(const std::string& folder) {
    return "No Lightroom Classic catalog (.lrcat) in " + folder + ". Choose the folder it is in.";
}

} // namespace vp::LightroomCatalog
