// What a scan did not compare and why, as a person reads it: the terminal counts and lists it,
// the window shows it under the results.
#pragma once

#include "engine/common/Json.h"
#include "engine/scan/ScanResult.h"
#include "engine/similarity/SimilarityIndex.h"

#include <optional>
#include <string>
#include <vector>

namespace vp {

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

/// The counts by reason, as `leftOut` orders them: "3 damaged, 1 too large, 2 hidden".
std::string leftOutCounts(const std::vector<LeftOut>& items);

} // namespace vp

template <>
struct vp::EnumStrings<vp::LeftOut::Reason> {
    using R = vp::LeftOut::Reason;
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
