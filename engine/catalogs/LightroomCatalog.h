// Reading a Lightroom Classic catalog (one SQLite file, ".lrcat") strictly read-only: its
// layout is checked first, then every master photo is read with what the person did to it there.
// The catalog is never written here.
#pragma once

#include "CatalogReadError.h"
#include "engine/scan/SourceReferences.h"

#include <map>
#include <string>
#include <vector>

namespace vp {

struct LightroomPhoto {
    std::string path; ///< the master file, resolved when it exists
    bool exists = false;
    LightroomRef ref;

    bool operator==(const LightroomPhoto&) const = default;
};

namespace LightroomCatalog {

/// Both catalog kinds throw the same error.
using ReadError = CatalogReadError;

inline constexpr std::string_view notACatalogText = "That is not a Lightroom Classic catalog (.lrcat).";
inline constexpr std::string_view busyText = "Lightroom Classic is busy with it. Try again in a moment.";
inline constexpr std::string_view untestedScanNotice =
    "This Lightroom version is new to Velmo Pristel: it can find duplicates but not mark them.";
inline const std::vector<std::string> testedSchemaVersions{"1504001"};
/// The programs whose running means the catalog may be open.
inline const std::vector<std::string> programNames{"Lightroom.exe", "lightroomclassic.exe"};

/// Table to the columns this system reads, checked before any photo is.
const std::vector<std::pair<std::string, std::vector<std::string>>>& requiredColumns();

struct Catalog {
    std::string url;
    std::string schemaVersion;
    std::vector<LightroomPhoto> photos; ///< in id_local order
    std::vector<std::string> rootFolders; ///< sorted

    std::vector<LightroomPhoto> missing() const;
    bool isTestedVersion() const;
    bool operator==(const Catalog&) const = default;
};

/// Throws CatalogReadError. A catalog Lightroom Classic is writing to gives the busy sentence
/// after the busy time-out.
Catalog read(const std::string& path);

/// A ".lock" file beside the catalog, or Lightroom Classic running.
bool isOpen(const std::string& path);

/// The ".lrcat" files of `folder`, most recently changed first.
std::vector<std::string> catalogsIn(const std::string& folder);
/// Those of the home folder's "Pictures/Lightroom".
std::vector<std::string> defaultCatalogs();

/// What the source picker says when a chosen folder holds no catalog or several.
std::string noCatalogNotice(const std::string& folder);

} // namespace LightroomCatalog
} // namespace vp
