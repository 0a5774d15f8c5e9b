#include "CatalogFixtures.h"

#include "engine/cleanup/CleanupPlanner.h"
#include "engine/common/Digest.h"
#include "engine/review/ReviewSession.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <optional>
#include <sqlite3.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace vp::testing {

namespace {

struct Connection {
    explicit Connection(const std::string& path) {
        if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db));
    }
    ~Connection() { sqlite3_close(db); }
    void run(const std::string& sql) const {
        char* error = nullptr;
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::string message = error != nullptr ? error : "failed";
            sqlite3_free(error);
            throw std::runtime_error(message + " in: " + sql);
        }
    }
    sqlite3* db = nullptr;
};

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) result += c == '\'' ? std::string("''") : std::string(1, c);
    return result + "'";
}

} // namespace

void execute(const std::string& path, const std::string& sql) { Connection(path).run(sql); }

std::int64_t queryInteger(const std::string& path, const std::string& sql) {
    Connection connection(path);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(connection.db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(connection.db));
    std::int64_t value = -999;
    if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL)
        value = sqlite3_column_type(statement, 0) == SQLITE_FLOAT
                    ? static_cast<std::int64_t>(sqlite3_column_double(statement, 0))
                    : sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return value;
}

std::string checksum(const std::string& path) { return sha256Hex(readFile(path)); }

LightroomCatalogFile::LightroomCatalogFile(std::string path, const std::string& version) : m_path(std::move(path)) {
    // The columns this system reads, with the types and defaults Lightroom Classic gives them,
    // and a few it does not read, so that nothing depends on column positions.
    execute(m_path, R"(
        CREATE TABLE Adobe_variablesTable (id_local INTEGER PRIMARY KEY, id_global UNIQUE NOT NULL, name, type, value NOT NULL DEFAULT '');
        CREATE TABLE AgLibraryRootFolder (id_local INTEGER PRIMARY KEY, id_global UNIQUE NOT NULL, absolutePath UNIQUE NOT NULL DEFAULT '', name NOT NULL DEFAULT '', relativePathFromCatalog);
        CREATE TABLE AgLibraryFolder (id_local INTEGER PRIMARY KEY, id_global UNIQUE NOT NULL, parentId INTEGER, pathFromRoot NOT NULL DEFAULT '', rootFolder INTEGER NOT NULL DEFAULT 0, visibility INTEGER);
        CREATE TABLE AgLibraryFile (id_local INTEGER PRIMARY KEY, id_global UNIQUE NOT NULL, baseName NOT NULL DEFAULT '', errorMessage, extension NOT NULL DEFAULT '', folder INTEGER NOT NULL DEFAULT 0, idx_filename NOT NULL DEFAULT '', importHash, lc_idx_filename NOT NULL DEFAULT '', md5, modTime, sidecarExtensions);
        CREATE TABLE Adobe_images (id_local INTEGER PRIMARY KEY, id_global UNIQUE NOT NULL, captureTime, colorLabels NOT NULL DEFAULT '', fileFormat NOT NULL DEFAULT 'unset', fileHeight, fileWidth, masterImage INTEGER, orientation, pick NOT NULL DEFAULT 0, rating, rootFile INTEGER NOT NULL DEFAULT 0, touchTime NOT NULL DEFAULT 0);
        CREATE TABLE Adobe_imageDevelopSettings (id_local INTEGER PRIMARY KEY, croppedHeight, croppedWidth, digest, hasDevelopAdjustments, hasDevelopAdjustmentsEx, image INTEGER, text);
        CREATE TABLE AgLibraryCollection (id_local INTEGER PRIMARY KEY, creationId NOT NULL DEFAULT '', name NOT NULL DEFAULT '', parent INTEGER);
        CREATE TABLE AgLibraryCollectionImage (id_local INTEGER PRIMARY KEY, collection INTEGER NOT NULL DEFAULT 0, image INTEGER NOT NULL DEFAULT 0, pick NOT NULL DEFAULT 0, positionInCollection);
        CREATE TABLE AgLibraryKeyword (id_local INTEGER PRIMARY KEY, id_global UNIQUE NOT NULL, name, parent INTEGER);
        CREATE TABLE AgLibraryKeywordImage (id_local INTEGER PRIMARY KEY, image INTEGER NOT NULL DEFAULT 0, tag INTEGER NOT NULL DEFAULT 0);
        CREATE TABLE AgLibraryFolderStack (id_local INTEGER PRIMARY KEY, id_global UNIQUE NOT NULL, collapsed INTEGER NOT NULL DEFAULT 0, text NOT NULL DEFAULT '');
        CREATE TABLE AgLibraryFolderStackImage (id_local INTEGER PRIMARY KEY, collapsed INTEGER NOT NULL DEFAULT 0, image INTEGER NOT NULL DEFAULT 0, position NOT NULL DEFAULT '', stack INTEGER NOT NULL DEFAULT 0);
        INSERT INTO AgLibraryFolderStack (id_local, id_global, collapsed) VALUES (3, 'S3', 1);
        INSERT INTO AgLibraryCollection (id_local, name) VALUES (1, 'Portfolio');
        INSERT INTO AgLibraryKeyword (id_local, id_global, name) VALUES (2, 'K2', 'beach');
        INSERT INTO Adobe_variablesTable (id_global, name, value) VALUES ('V1', 'AgLibraryKeyword_rootTagID', '2');
    )");
    if (!version.empty())
        execute(m_path, "INSERT INTO Adobe_variablesTable (id_global, name, type, value) VALUES ('V2', "
                        "'Adobe_DBVersion', NULL, " + quoted(version) + ")");
}

std::int64_t LightroomCatalogFile::addRoot(const std::string& absolutePath) {
    const auto id = m_next++;
    execute(m_path, "INSERT INTO AgLibraryRootFolder (id_local, id_global, absolutePath, name) VALUES (" +
                        std::to_string(id) + ", 'R" + std::to_string(id) + "', " + quoted(absolutePath) + ", 'root')");
    return id;
}

std::int64_t LightroomCatalogFile::addFolder(std::int64_t root, const std::string& pathFromRoot) {
    const auto id = m_next++;
    execute(m_path, "INSERT INTO AgLibraryFolder (id_local, id_global, pathFromRoot, rootFolder) VALUES (" +
                        std::to_string(id) + ", 'F" + std::to_string(id) + "', " + quoted(pathFromRoot) + ", " +
                        std::to_string(root) + ")");
    return id;
}

std::int64_t LightroomCatalogFile::addPhoto(std::int64_t folder, const std::string& filename, double pick, int rating,
                                            const std::string& colorLabel, const std::string& sidecars) {
    const auto file = m_next++;
    const auto image = m_next++;
    execute(m_path, "INSERT INTO AgLibraryFile (id_local, id_global, folder, idx_filename, lc_idx_filename, "
                    "sidecarExtensions) VALUES (" + std::to_string(file) + ", 'L" + std::to_string(file) + "', " +
                        std::to_string(folder) + ", " + quoted(filename) + ", " + quoted(filename) + ", " +
                        (sidecars.empty() ? std::string("NULL") : quoted(sidecars)) + ")");
    execute(m_path, "INSERT INTO Adobe_images (id_local, id_global, colorLabels, pick, rating, rootFile) VALUES (" +
                        std::to_string(image) + ", 'I" + std::to_string(image) + "', " + quoted(colorLabel) +
                        ", " + std::to_string(pick) + ", " +
                        (rating == 0 ? std::string("NULL") : std::to_string(rating)) + ", " +
                        std::to_string(file) + ")");
    return image;
}

std::int64_t LightroomCatalogFile::addVirtualCopy(std::int64_t master) {
    const auto image = m_next++;
    execute(m_path, "INSERT INTO Adobe_images (id_local, id_global, masterImage, pick, rootFile) SELECT " +
                        std::to_string(image) + ", 'I" + std::to_string(image) + "', " + std::to_string(master) +
                        ", 0, rootFile FROM Adobe_images WHERE id_local = " + std::to_string(master));
    return image;
}

void LightroomCatalogFile::addDevelopAdjustments(std::int64_t image) {
    execute(m_path, "INSERT INTO Adobe_imageDevelopSettings (hasDevelopAdjustments, hasDevelopAdjustmentsEx, image) "
                    "VALUES (1, 1.0, " + std::to_string(image) + ")");
}

void LightroomCatalogFile::addToCollection(std::int64_t image) {
    execute(m_path, "INSERT INTO AgLibraryCollectionImage (collection, image) VALUES (1, " + std::to_string(image) + ")");
}

void LightroomCatalogFile::addToStack(std::int64_t image, int position) {
    execute(m_path, "INSERT INTO AgLibraryFolderStackImage (collapsed, image, position, stack) VALUES (1, " +
                        std::to_string(image) + ", " + std::to_string(position) + ", 3)");
}

void LightroomCatalogFile::addKeyword(std::int64_t image) {
    execute(m_path, "INSERT INTO AgLibraryKeywordImage (image, tag) VALUES (" + std::to_string(image) + ", 2)");
}

double LightroomCatalogFile::pick(std::int64_t image) const {
    return static_cast<double>(queryInteger(m_path, "SELECT pick FROM Adobe_images WHERE id_local = " + std::to_string(image)));
}

CaptureOneCatalogFile::CaptureOneCatalogFile(std::string package, const std::string& version)
    : m_package(std::move(package)) {
    std::filesystem::create_directories(m_package + "/Originals");
    execute(database(), R"(
        CREATE TABLE ZIMAGE (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZIMAGELOCATION INTEGER, ZISTRASHED INTEGER, ZIMAGEFILENAME VARCHAR, ZIMAGEUUID VARCHAR);
        CREATE TABLE ZPATHLOCATION (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, ZISRELATIVE INTEGER, ZMACROOT VARCHAR, ZRELATIVEPATH VARCHAR, ZWINROOT VARCHAR);
        CREATE TABLE ZVARIANT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, ZIMAGE INTEGER, ZISMODIFIED INTEGER, ZADJUSTMENTLAYER INTEGER, ZCOMBINEDSETTINGS INTEGER, ZLASTMETADATAMODIFICATIONDATE TIMESTAMP);
        CREATE TABLE ZVARIANTLAYER (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, ZMETADATA INTEGER, ZNAME VARCHAR);
        CREATE TABLE ZVARIANTMETADATA (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, ZBASIC_RATING INTEGER, ZCOLOR_TAG_INDEX INTEGER, ZCONTENT_KEYWORDS VARCHAR);
        CREATE TABLE ZCOLLECTION (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, ZPARENT INTEGER, ZNAME VARCHAR);
        CREATE TABLE ZIMAGEINCOLLECTION (Z_PK INTEGER PRIMARY KEY, ZIMAGE INTEGER, ZCOLLECTION INTEGER);
        CREATE TABLE ZVARIANTINCOLLECTION (Z_PK INTEGER PRIMARY KEY, ZVARIANT INTEGER, ZCOLLECTION INTEGER);
        CREATE TABLE ZVERSIONINFO (Z_PK INTEGER PRIMARY KEY, ZVERSION INTEGER, ZAPPLICATIONVERSION VARCHAR);
        INSERT INTO ZCOLLECTION (Z_PK, Z_ENT, ZPARENT, ZNAME) VALUES (1, 2, NULL, 'Selects');
        INSERT INTO ZCOLLECTION (Z_PK, Z_ENT, ZPARENT, ZNAME) VALUES (2, 8, NULL, 'Catalog Collections');
        INSERT INTO ZCOLLECTION (Z_PK, Z_ENT, ZPARENT, ZNAME) VALUES (3, 2, 2, 'Recent Imports');
    )");
    if (!version.empty())
        execute(database(), "INSERT INTO ZVERSIONINFO (Z_PK, ZVERSION, ZAPPLICATIONVERSION) VALUES (1, 150000, "
                            "'15.0'), (2, " + version + ", '16.0')");
}

std::int64_t CaptureOneCatalogFile::addLocation(const std::string& root, const std::string& relativePath,
                                                bool relativeToPackage, bool rootIsNull) {
    const auto id = m_next++;
    execute(database(), "INSERT INTO ZPATHLOCATION (Z_PK, Z_ENT, ZISRELATIVE, ZMACROOT, ZRELATIVEPATH) VALUES (" +
                            std::to_string(id) + ", 5, " + (relativeToPackage ? "1" : "0") + ", " +
                            (rootIsNull ? std::string("NULL") : quoted(root)) + ", " + quoted(relativePath) + ")");
    return id;
}

std::int64_t CaptureOneCatalogFile::addImage(std::int64_t location, const std::string& filename, bool trashed) {
    const auto id = m_next++;
    execute(database(), "INSERT INTO ZIMAGE (Z_PK, Z_ENT, ZIMAGELOCATION, ZISTRASHED, ZIMAGEFILENAME) VALUES (" +
                            std::to_string(id) + ", 3, " + std::to_string(location) + ", " + (trashed ? "1" : "0") +
                            ", " + quoted(filename) + ")");
    return id;
}

CaptureOneCatalogFile::Variant CaptureOneCatalogFile::addVariant(std::int64_t image, bool modified, int rating,
                                                                 int colorTag, const std::string& keywords,
                                                                 bool bothLayers) {
    const auto tag = colorTag < 0 ? std::string("NULL") : std::to_string(colorTag);
    const auto metadata = [&] {
        const auto id = m_next++;
        execute(database(), "INSERT INTO ZVARIANTMETADATA (Z_PK, Z_ENT, ZBASIC_RATING, ZCOLOR_TAG_INDEX, "
                            "ZCONTENT_KEYWORDS) VALUES (" + std::to_string(id) + ", 12, " + std::to_string(rating) +
                                ", " + tag + ", " + (keywords.empty() ? std::string("NULL") : quoted(keywords)) + ")");
        return id;
    };
    const auto layer = [&](std::int64_t metadataID) {
        const auto id = m_next++;
        execute(database(), "INSERT INTO ZVARIANTLAYER (Z_PK, Z_ENT, ZMETADATA) VALUES (" + std::to_string(id) +
                                ", 11, " + std::to_string(metadataID) + ")");
        return id;
    };
    Variant variant;
    std::int64_t adjustmentLayer = 0;
    if (bothLayers) {
        variant.adjustmentMetadata = metadata();
        adjustmentLayer = layer(variant.adjustmentMetadata);
    }
    variant.combinedMetadata = metadata();
    const auto combinedLayer = layer(variant.combinedMetadata);
    variant.id = m_next++;
    execute(database(), "INSERT INTO ZVARIANT (Z_PK, Z_ENT, ZIMAGE, ZISMODIFIED, ZADJUSTMENTLAYER, ZCOMBINEDSETTINGS, "
                        "ZLASTMETADATAMODIFICATIONDATE) VALUES (" + std::to_string(variant.id) + ", 10, " +
                            std::to_string(image) + ", " + (modified ? "1" : "0") + ", " +
                            (bothLayers ? std::to_string(adjustmentLayer) : std::string("NULL")) + ", " +
                            std::to_string(combinedLayer) + ", 700000000.5)");
    return variant;
}

void CaptureOneCatalogFile::addToAlbum(std::int64_t image, bool insideSmartGroup) {
    execute(database(), "INSERT INTO ZIMAGEINCOLLECTION (ZIMAGE, ZCOLLECTION) VALUES (" + std::to_string(image) + ", " +
                            (insideSmartGroup ? "3" : "1") + ")");
}

std::int64_t CaptureOneCatalogFile::colorTag(std::int64_t metadata) const {
    const auto tag = queryInteger(database(), "SELECT ZCOLOR_TAG_INDEX FROM ZVARIANTMETADATA WHERE Z_PK = " +
                                                  std::to_string(metadata));
    return tag == -999 ? -1 : tag;
}

LockingProcess::LockingProcess(const std::string& path, const std::vector<std::string>& statements) {
    int ready[2], release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0) throw std::runtime_error("pipe failed");
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        int status = 0;
        std::optional<Connection> connection; // open until the process ends: it holds the lock
        try {
            connection.emplace(path);
            for (const auto& sql : statements) connection->run(sql);
        } catch (...) {
            status = 1;
        }
        const char answer = status == 0 ? 'y' : 'n';
        [[maybe_unused]] auto written = ::write(ready[1], &answer, 1);
        char byte = 0;
        [[maybe_unused]] auto got = ::read(release[0], &byte, 1); // until the parent lets go
        ::_exit(status);
    }
    ::close(ready[1]);
    ::close(release[0]);
    m_release = release[1];
    char answer = 'n';
    const auto got = ::read(ready[0], &answer, 1);
    ::close(ready[0]);
    if (got != 1 || answer != 'y') throw std::runtime_error("the locking process could not take its lock");
}

LockingProcess::~LockingProcess() {
    ::close(m_release);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
}

NamedProcess::NamedProcess(const std::string& programName) {
    m_pid = ::fork();
    if (m_pid == 0) {
        const std::string argument = "C:\\Program Files\\Vendor\\" + programName;
        // Its first argument, the program's own name, is the Windows path Wine would show.
        ::execl("/bin/sleep", argument.c_str(), "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::usleep(100000); // until exec has replaced the command line
}

NamedProcess::~NamedProcess() {
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
}

CleanupPlan planOfSuggested(const std::vector<DuplicateGroup>& groups, Timestamp now) {
    ReviewSession session(groups, std::make_shared<LockStore>(), {}, {});
    session.markAllSuggested();
    auto plan = CleanupPlanner::plan(session, now);
    if (!plan) throw std::runtime_error(plan.error().description());
    return plan.value();
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace vp::testing
