// What every terminal command shares: reading options ("--name", "--name=value", "--"),
// refusing a folder argument that is not a folder, telling what a scan left out and why, and
// the header and dates of the JSON documents scripts read.
#pragma once

#include "engine/common/Json.h"
#include "engine/scan/ScanResult.h"
#include "engine/similarity/SimilarityIndex.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp::CommandLine {

/// The version of the JSON documents' layout; raised when a key changes meaning or goes away.
inline constexpr std::int64_t schemaVersion = 1;

/// An argument that is an option: "--name" or "--name=value" (value kept as given), or "-x".
/// A lone "-" and anything not starting with '-' are operands, and so is everything after "--".
struct Option {
    std::string name;
    std::optional<std::string> value;
};
std::optional<Option> option(const std::string& argument);

/// An argument exactly as it was given, escaped; an empty one is said to be empty.
std::string asGiven(const std::string& argument);

/// The path as an absolute one: relative paths are taken from the working folder, and the
/// result is lexically standardized ("." and ".." resolved, repeated slashes removed).
std::string absolutePath(const std::string& path);

/// Why `given` cannot be scanned as a folder, in one line naming it as given ("No such folder:
/// photos/2019"); none when it can. `resolved` receives the folder's real path.
std::optional<std::string> folderRefusal(const std::string& given, std::string& resolved);

/// One file or folder a scan did not compare, and why.
struct LeftOut {
    enum class Reason {
        corrupt,           ///< damaged, or not really a picture
        notDecodable,      ///< a picture type this computer does not decode
        tooLarge,          ///< more pixels than are ever decoded
        unmeasured,        ///< read, but could not be measured for look-alikes
        unreadable,        ///< the system refused to read it
        empty,
        symbolicLink,
        cloudPlaceholder,
        changedDuringScan,
        hidden,            ///< a hidden folder, or a hidden file with a picture's extension
        package,           ///< a package folder, one thing rather than a folder of photos
        managedLibrary,    ///< a photo library or catalogue, left to its own application
        unreadableFolder,
        trash,
        notScanned,        ///< a chosen folder that could not be scanned
    };

    std::string path;
    Reason reason = Reason::unreadable;
    std::optional<std::string> detail;

    VP_RECORD(path, reason, detail)
    bool operator==(const LeftOut&) const = default;
};

/// The words a person reads for `count` items left out for a reason: "damaged", "too large",
/// "links", "package folder", ...
std::string words(LeftOut::Reason reason, std::size_t count);

/// Everything the scan (and, when given, the measuring) left out, in a stable order: by reason,
/// then by path. Folders inside another chosen folder are not left out (they are scanned once).
std::vector<LeftOut> leftOut(const ScanResult& scan, const SimilarityIndex* measured);

/// The counted summary, one line: "Left out: 3 damaged, 1 too large, 2 hidden." (empty when
/// nothing was left out). `listed` says whether the list follows; otherwise the line says how
/// to get it.
std::string leftOutSummary(const std::vector<LeftOut>& items, bool listed);

/// "damaged: ~/photos/a.jpg" or with its detail "not decodable here: ~/b.gif (GIF)", escaped.
std::string leftOutLine(const LeftOut& item);

/// Prints the summary and, when `list`, one line per item, to `out` (standard error).
void tellLeftOut(std::FILE* out, const std::vector<LeftOut>& items, bool list);

/// The start of every JSON document: tool, version, schemaVersion and command.
Json header(std::string_view command);

/// ISO 8601 in local time with its offset from UTC, to the second: "2026-05-12T17:15:04+02:00".
std::string localTimestamp(Timestamp time);
std::string localTimestamp(std::int64_t seconds);

/// For people: "2026-05-12 17:15:04", the local date and time in ISO 8601's order.
std::string localDateTime(std::int64_t seconds);

/// A camera's own date and time, kept as if it were UTC, written without a zone:
/// "2021-06-12T09:14:03".
std::string wallClockTimestamp(Timestamp time);

/// JSON for scripts, in ASCII alone: no byte of it can act on a terminal it is printed to.
std::string jsonText(const Json& json);

/// "1 picture", "2 pictures".
std::string pictures(std::size_t count);
/// "1 group", "2 groups".
std::string groups(std::size_t count);
/// "512 bytes", "76.9 KB", "1.2 GB" (powers of 1000).
std::string bytesText(std::int64_t bytes);

/// The program's version, as --version prints it.
std::string_view version();

} // namespace vp::CommandLine

template <>
struct vp::EnumStrings<vp::CommandLine::LeftOut::Reason> {
    using R = vp::CommandLine::LeftOut::Reason;
    static constexpr std::array cases{
        std::pair{R::corrupt, std::string_view("corrupt")},
        std::pair{R::notDecodable, std::string_view("notDecodable")},
        std::pair{R::tooLarge, std::string_view("tooLarge")},
        std::pair{R::unmeasured, std::string_view("unmeasured")},
        std::pair{R::unreadable, std::string_view("unreadable")},
        std::pair{R::empty, std::string_view("empty")},
        std::pair{R::symbolicLink, std::string_view("symbolicLink")},
        std::pair{R::cloudPlaceholder, std::string_view("cloudPlaceholder")},
        std::pair{R::changedDuringScan, std::string_view("changedDuringScan")},
        std::pair{R::hidden, std::string_view("hidden")},
        std::pair{R::package, std::string_view("package")},
        std::pair{R::managedLibrary, std::string_view("managedLibrary")},
        std::pair{R::unreadableFolder, std::string_view("unreadableFolder")},
        std::pair{R::trash, std::string_view("trash")},
        std::pair{R::notScanned, std::string_view("notScanned")},
    };
};
