// Reading a Capture One catalog (a ".cocatalog" package holding one SQLite database) strictly
// read-only: its layout is checked first, then every image is read with the facts that decide
// whether a copy may be tagged. The catalog is never written here.
#pragma once

#include "CatalogReadError.h"
#include "engine/scan/SourceReferences.h"

#include <optional>
#include <string>
#include <vector>

namespace vp {

struct CaptureOnePhoto {
    std::string path; ///< resolved when it exists
    bool exists = false;
    bool isTrashed = false; ///< in Capture One's own Trash
    CaptureOneRef ref;

    bool operator==(const CaptureOnePhoto&) const = default;
};

namespace CaptureOneCatalog {

inline constexpr std::string_view notACatalogText = "That is not a Capture One catalog (.cocatalog).";
inline constexpr std::string_view busyText = "Capture One is busy with it. Try again in a moment.";
inline const std::vector<std::string> testedSchemaVersions{"160800"};
/// The programs whose running means the catalog may be in use.
inline const std::vector<std::string> programNames{"CaptureOne.exe", "Capture One.exe", "CaptureOne"};

/// Table to the columns this system reads, checked in this order before any photo is read.
const std::vector<std::pair<std::string, std::vector<std::string>>>& requiredColumns();

struct Catalog {
    std::string url;         ///< the package
    std::string databaseURL; ///< the database inside it
    std::string schemaVersion;
    std::vector<CaptureOnePhoto> photos;  ///< in Z_PK order
    std::vector<std::string> rootFolders; ///< real paths of the photos' folders, sorted

    bool isTestedVersion() const;
    /// The package's real path followed by "/Originals"; absent when the package is not there.
    std::optional<std::string> originalsFolder() const;
    /// Photos whose file is gone and that are not in Capture One's Trash.
    std::vector<CaptureOnePhoto> missing() const;
    bool operator==(const Catalog&) const = default;
};

/// The one entry of the package whose extension is "cocatalogdb"; absent for none or several.
std::optional<std::string> database(const std::string& package);

/// A "writelock" file inside the package, or Capture One running.
bool isOpen(const std::string& package);

/// Throws CatalogReadError. Opened immutable unless Capture One is using the catalog.
Catalog read(const std::string& package);

/// The ".cocatalog" entries of `folder`, newest first.
std::vector<std::string> catalogsIn(const std::string& folder);
/// Those of the home folder's "Pictures".
std::vector<std::string> defaultCatalogs();

} // namespace CaptureOneCatalog
} // namespace vp
