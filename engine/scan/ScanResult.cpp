#include "ScanResult.h"

#include <algorithm>

namespace vp {

std::int64_t DuplicateGroup::extraBytes() const {
    if (members.empty()) return 0;
    std::int64_t total = 0, largest = 0;
    for (const auto& member : members) {
        total += member.snapshot.size;
        largest = std::max(largest, member.snapshot.size);
    }
    return total - largest;
}

std::string_view title(SkipReason reason) {
    switch (reason) {
    case SkipReason::unsupportedFormat: return "Image types this version does not compare";
    case SkipReason::unreadable: return "Could not be read";
    case SkipReason::corrupt: return "Damaged or not really an image";
    case SkipReason::cloudPlaceholder: return "In the cloud, not downloaded";
    case SkipReason::empty: return "Empty files";
    case SkipReason::symbolicLink: return "Aliases (symbolic links), not followed";
    case SkipReason::changedDuringScan: return "Changed while being compared";
    }
    return {};
}

std::string_view explanation(SkipReason reason) {
    switch (reason) {
    case SkipReason::unsupportedFormat:
        return "GIF, WebP, PSD and other image types are not compared yet, nor RAW files from cameras this "
               "computer cannot read. JPEG, PNG, HEIC, TIFF and camera RAW are.";
    case SkipReason::unreadable: return "The system refused to open these, usually because of their permissions.";
    case SkipReason::corrupt:
        return "They have an image extension but the system cannot decode them, so they are never suggested for "
               "removal.";
    case SkipReason::cloudPlaceholder:
        return "Their contents are not on this computer. They were not downloaded to compare them.";
    case SkipReason::empty: return "Zero-byte files are never treated as photos.";
    case SkipReason::symbolicLink:
        return "A link points somewhere else; the scan never follows one, so nothing outside your folders is "
               "reached.";
    case SkipReason::changedDuringScan:
        return "The file changed between reading and comparing it, so it was left out rather than trusted.";
    }
    return {};
}

std::string_view heading(ExcludedItem::Kind kind) {
    switch (kind) {
    case ExcludedItem::Kind::managedLibrary: return "Photo libraries, left closed";
    case ExcludedItem::Kind::package: return "Packages, left closed";
    case ExcludedItem::Kind::unreadableFolder: return "Folders the system would not open";
    case ExcludedItem::Kind::refusedRoot: return "Folders that could not be scanned";
    case ExcludedItem::Kind::overlappingRoot: return "Folders already inside another chosen folder";
    case ExcludedItem::Kind::trash: return "The Trash, left alone";
    }
    return {};
}

std::int64_t ScanResult::matched() const {
    std::int64_t count = 0;
    for (const auto& group : groups) count += static_cast<std::int64_t>(group.members.size());
    return count;
}

bool ScanResult::isIncomplete() const {
    if (cancelled) return true;
    const bool unreadFile = std::any_of(skipped.begin(), skipped.end(), [](const SkippedFile& file) {
        return file.reason != SkipReason::symbolicLink;
    });
    const bool unreadFolder = std::any_of(excluded.begin(), excluded.end(), [](const ExcludedItem& item) {
        return item.kind == ExcludedItem::Kind::unreadableFolder || item.kind == ExcludedItem::Kind::refusedRoot;
    });
    return unreadFile || unreadFolder;
}

} // namespace vp
