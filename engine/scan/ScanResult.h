// The groups, skipped files and left-out folders of one scan, with the words a person reads.
#pragma once

#include "PhotoAsset.h"

#include "engine/common/Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vp {

/// How the members of a group match.
enum class MatchKind { identical, similar, series, liveMovie };

template <>
struct EnumStrings<MatchKind> {
    static constexpr std::array cases{
        std::pair{MatchKind::identical, std::string_view("identical")},
        std::pair{MatchKind::similar, std::string_view("similar")},
        std::pair{MatchKind::series, std::string_view("series")},
        std::pair{MatchKind::liveMovie, std::string_view("liveMovie")},
    };
};

struct DuplicateGroup {
    /// For identical groups the lower-case hexadecimal SHA-256 of the shared content.
    std::string id;
    /// For identical groups the byte size of the shared content.
    std::int64_t size = 0;
    std::vector<PhotoAsset> members;
    MatchKind kind = MatchKind::identical;
    std::optional<float> spread;

    /// What removing all but the biggest copy would free.
    std::int64_t extraBytes() const;

    VP_RECORD(id, size, members, kind, spread)
    bool operator==(const DuplicateGroup&) const = default;
};

enum class SkipReason { unsupportedFormat, unreadable, corrupt, cloudPlaceholder, empty, symbolicLink, changedDuringScan };

template <>
struct EnumStrings<SkipReason> {
    static constexpr std::array cases{
        std::pair{SkipReason::unsupportedFormat, std::string_view("unsupportedFormat")},
        std::pair{SkipReason::unreadable, std::string_view("unreadable")},
        std::pair{SkipReason::corrupt, std::string_view("corrupt")},
        std::pair{SkipReason::cloudPlaceholder, std::string_view("cloudPlaceholder")},
        std::pair{SkipReason::empty, std::string_view("empty")},
        std::pair{SkipReason::symbolicLink, std::string_view("symbolicLink")},
        std::pair{SkipReason::changedDuringScan, std::string_view("changedDuringScan")},
    };
};

std::string_view title(SkipReason reason);
std::string_view explanation(SkipReason reason);

/// A file that was seen but not compared.
struct SkippedFile {
    std::string path;
    SkipReason reason = SkipReason::unreadable;
    std::optional<std::string> detail;

    VP_RECORD(path, reason, detail)
    bool operator==(const SkippedFile&) const = default;
};

/// A folder the scan did not enter by rule, or a chosen folder it refused.
struct ExcludedItem {
    enum class Kind { managedLibrary, package, unreadableFolder, refusedRoot, overlappingRoot, trash };

    std::string path;
    Kind kind = Kind::refusedRoot;
    std::string detail;

    VP_RECORD(path, kind, detail)
    bool operator==(const ExcludedItem&) const = default;
};

template <>
struct EnumStrings<ExcludedItem::Kind> {
    static constexpr std::array cases{
        std::pair{ExcludedItem::Kind::managedLibrary, std::string_view("managedLibrary")},
        std::pair{ExcludedItem::Kind::package, std::string_view("package")},
        std::pair{ExcludedItem::Kind::unreadableFolder, std::string_view("unreadableFolder")},
        std::pair{ExcludedItem::Kind::refusedRoot, std::string_view("refusedRoot")},
        std::pair{ExcludedItem::Kind::overlappingRoot, std::string_view("overlappingRoot")},
        std::pair{ExcludedItem::Kind::trash, std::string_view("trash")},
    };
};

/// The heading under which the scan's coverage lists items of this kind.
std::string_view heading(ExcludedItem::Kind kind);

struct ScanResult {
    std::vector<std::string> roots;
    std::vector<DuplicateGroup> groups;
    std::int64_t discovered = 0;
    std::int64_t examined = 0;
    std::int64_t otherFiles = 0;
    std::vector<SkippedFile> skipped;
    std::vector<ExcludedItem> excluded;
    /// Hidden folders and hidden files with a picture's extension: never walked or compared.
    std::vector<std::string> hidden;
    bool cancelled = false;
    Timestamp started = std::chrono::system_clock::now();
    Timestamp finished = started;
    std::int64_t hardLinksFolded = 0;
    std::vector<PhotoAsset> pictures;
    std::int64_t downloadedBytes = 0;
    std::int64_t lightroomRejected = 0;
    std::int64_t captureOneRed = 0;

    /// Pictures in groups, counted once per group they are in.
    std::int64_t matched() const;
    /// Cancelled, or something that should have been looked at was not. Symbolic links,
    /// managed libraries, packages and overlapping roots alone never make a result incomplete.
    bool isIncomplete() const;

    VP_RECORD(roots, groups, discovered, examined, otherFiles, skipped, excluded, hidden, cancelled, started, finished,
              hardLinksFolded, pictures, downloadedBytes, lightroomRejected, captureOneRed)
    bool operator==(const ScanResult&) const = default;
};

} // namespace vp
