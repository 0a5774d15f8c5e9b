// Real SQLite catalogs for the catalog tests, laid out as the two programs lay theirs out, and a
// second process that holds one locked the way a running program would.
#pragma once

#include "engine/catalogs/SQLite.h"
#include "engine/cleanup/CleanupPlan.h"
#include "engine/scan/ScanResult.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vp::testing {

/// Runs SQL on the database at `path` through a connection of its own; throws on any error.
void execute(const std::string& path, const std::string& sql);
/// The first column of the first row as an integer (a real is truncated), or -999 when NULL.
std::int64_t queryInteger(const std::string& path, const std::string& sql);
/// The SHA-256 of the file's bytes: what "unchanged" means for a catalog file.
std::string checksum(const std::string& path);
/// The plan a person gets by marking the suggested copies of every group (no locks, nothing
/// protected).
CleanupPlan planOfSuggested(const std::vector<DuplicateGroup>& groups, Timestamp now);
/// The names in a folder, sorted; none when it is not there.
std::vector<std::string> namesIn(const std::string& folder);

/// A Lightroom Classic catalog with the tables the reader needs plus some it ignores.
class LightroomCatalogFile {
public:
    /// Creates the file. An empty `version` leaves the version row out.
    explicit LightroomCatalogFile(std::string path, const std::string& version = "1504001");

    const std::string& path() const { return m_path; }
    std::int64_t addRoot(const std::string& absolutePath);
    std::int64_t addFolder(std::int64_t root, const std::string& pathFromRoot);
    /// A master photo and its file row, with what the person did to it; its id_local.
    std::int64_t addPhoto(std::int64_t folder, const std::string& filename, double pick = 0, int rating = 0,
                          const std::string& colorLabel = "", const std::string& sidecars = "");
    std::int64_t addVirtualCopy(std::int64_t master);
    void addDevelopAdjustments(std::int64_t image);
    void addToCollection(std::int64_t image);
    void addKeyword(std::int64_t image);
    /// Into the one collapsed stack: stacked photos stay separate masters.
    void addToStack(std::int64_t image, int position);
    double pick(std::int64_t image) const;

private:
    std::string m_path;
    std::int64_t m_next = 100; // id_local values are shared by every table, as in the real catalogs
};

/// A Capture One catalog package: its database with the tables the reader needs, an
/// "Originals" folder, and the entity numbers Capture One gives albums (2) and the groups that
/// hold smart albums (8).
class CaptureOneCatalogFile {
public:
    /// Creates the package and its database. An empty `version` leaves ZVERSIONINFO empty.
    explicit CaptureOneCatalogFile(std::string package, const std::string& version = "160800");

    const std::string& package() const { return m_package; }
    std::string database() const { return m_package + "/Main.cocatalogdb"; }
    /// A location: a volume root (or none) and a path, or a path relative to the package.
    std::int64_t addLocation(const std::string& root, const std::string& relativePath, bool relativeToPackage = false,
                             bool rootIsNull = false);
    std::int64_t addImage(std::int64_t location, const std::string& filename, bool trashed = false);
    struct Variant {
        std::int64_t id = 0;
        std::int64_t adjustmentMetadata = 0;
        std::int64_t combinedMetadata = 0;
    };
    /// A variant with its adjustment layer and combined settings, each with metadata carrying
    /// the same rating and colour tag (`colorTag` -1 writes NULL). Without `bothLayers`, only the
    /// combined settings exist.
    Variant addVariant(std::int64_t image, bool modified = false, int rating = 0, int colorTag = 0,
                       const std::string& keywords = "", bool bothLayers = true);
    void addToAlbum(std::int64_t image, bool insideSmartGroup = false);
    /// The colour tag of a metadata row, -1 for NULL.
    std::int64_t colorTag(std::int64_t metadata) const;

private:
    std::string m_package;
    std::int64_t m_next = 100;
};

/// A second process holding a lock on a database, as its program would while writing. The
/// statements run at start; the process ends, releasing everything, when this is released.
class LockingProcess {
public:
    LockingProcess(const std::string& path, const std::vector<std::string>& statements);
    ~LockingProcess();
    LockingProcess(const LockingProcess&) = delete;
    LockingProcess& operator=(const LockingProcess&) = delete;

private:
    pid_t m_pid = -1;
    int m_release = -1;
};

/// A process whose command line names `programName`, as Wine shows a Windows program.
class NamedProcess {
public:
    explicit NamedProcess(const std::string& programName);
    ~NamedProcess();
    NamedProcess(const NamedProcess&) = delete;
    NamedProcess& operator=(const NamedProcess&) = delete;

private:
    pid_t m_pid = -1;
};

} // namespace vp::testing
