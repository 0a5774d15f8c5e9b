// Decides which chosen folders may be scanned, walks them without ever following a link or
// opening a managed library, and sorts every file met into picture candidates, skipped files
// and things passed over. The walk reads no file contents: status calls and a read-permission
// check only.
#pragma once

#include "CancellationFlag.h"
#include "FileSnapshot.h"
#include "PhotoAsset.h"
#include "ScanResult.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vp {

struct PreparedRoots {
    std::vector<std::string> roots;    ///< accepted real paths, parents before anything inside them
    std::vector<ExcludedItem> refused; ///< refusedRoot and overlappingRoot items, in decision order

    bool operator==(const PreparedRoots&) const = default;
};

namespace FolderSource {

using NameSet = std::set<std::string, std::less<>>;

inline const NameSet rawExtensions{"dng", "cr2", "cr3", "crw", "nef", "nrw", "arw", "srf", "sr2",
                                   "raf", "orf", "rw2", "pef", "srw", "raw", "rwl", "3fr", "fff",
                                   "iiq", "mos", "mrw", "x3f", "erf", "kdc", "dcr"};
inline const NameSet rawPartnerExtensions{"jpg", "jpeg", "heic", "heif", "tif", "tiff"};
inline const NameSet sidecarExtensions{"xmp", "aae"};
inline const NameSet livePhotoExtensions{"mov"};
/// Movies the media scan looks at; the picture scan only counts them among other files.
inline const NameSet movieExtensions{"mov", "mp4", "m4v"};
inline const NameSet managedLibraryExtensions{"photoslibrary", "photolibrary", "migratedphotolibrary",
                                              "aplibrary",     "lrdata",       "lrlibrary",
                                              "cocatalog",     "cocatalogdb",  "cosessiondb"};
inline const NameSet managedFolderNames{"CaptureOne"};
/// Linux has no packages; folders with these bundle extensions are treated as one thing.
inline const NameSet packageExtensions{"app", "bundle", "framework", "plugin", "kext", "pkg"};

/// One picture candidate.
struct Found {
    std::string path;
    std::string root;
    FileSnapshot snapshot;
    PhotoFormat format = PhotoFormat::other;
    /// The status change time the walk saw (ctime). No program can set it back, so with the
    /// snapshot it tells a file whose content may have been rewritten under an old mtime.
    std::int64_t changedSeconds = 0;
    std::int64_t changedNanoseconds = 0;

    bool operator==(const Found&) const = default;
};

struct Walk {
    std::vector<Found> found;
    /// Plain files with a movie extension, for the media scan (`format` is `other`).
    std::vector<Found> movies;
    std::vector<SkippedFile> skipped;
    std::vector<ExcludedItem> excluded;
    std::vector<std::string> hidden; ///< hidden folders and hidden files with a picture's extension, passed by
    std::int64_t discovered = 0;
    std::int64_t otherFiles = 0;
    std::int64_t hardLinksFolded = 0;
    std::map<FileIdentity, std::vector<std::string>> otherNames;
    std::map<std::string, NameSet> namesByFolder; ///< lower-case file names met in each folder
    bool cancelled = false;
};

/// Called with the number of directory entries seen so far, every 1,000 entries.
using WalkProgress = std::function<void(std::int64_t)>;

/// Resolves, checks and de-overlaps the chosen roots. Never fails: each refusal is an item.
PreparedRoots prepare(const std::vector<std::string>& roots);

/// Walks the prepared roots in order, then the `listed` paths. `only`, when present, limits which
/// walked files are considered. Stops with `cancelled` set when the flag is raised.
Walk walk(const std::vector<std::string>& roots, const std::optional<NameSet>& only,
          const std::vector<std::string>& listed, const CancellationFlag& cancel, const WalkProgress& progress);

/// The ties of one file to the names of its folder, in detection order.
std::vector<Relationship> relationships(const std::string& path, const NameSet& names, const NameSet& stems);

/// The names with their extensions removed.
NameSet stems(const NameSet& names);

// ---- Inspection: whether the image decoders of this computer can read a candidate.

struct Inspection {
    /// changed: no longer a plain file (a FIFO, device or link was put in its place).
    enum class Outcome { readable, cameraNotSupported, notDecodableHere, damaged, changed };
    Outcome outcome = Outcome::damaged;
    std::optional<std::int64_t> pixelWidth;
    std::optional<std::int64_t> pixelHeight;

    bool operator==(const Inspection&) const = default;
};

/// Decodes the picture's header and properties (never the whole image).
Inspection inspect(const std::string& path, PhotoFormat format);
/// Decodes the whole image, which catches files cut off after a readable header.
bool decodesFully(const std::string& path);
/// Whether the RAW decoder of this computer supports the camera (names normalised first).
bool isSupportedCamera(std::string_view make, std::string_view model);

} // namespace FolderSource
} // namespace vp
