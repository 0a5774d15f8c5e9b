#include "LeftOut.h"

#include "platform/image/Images.h"

#include <algorithm>
#include <map>

namespace vp {

std::string words(LeftOut::Reason reason, std::size_t count) {
    using R = LeftOut::Reason;
    const bool one = count == 1;
    switch (reason) {
    case R::corrupt: return "damaged";
    case R::notDecodable: return "not decodable here";
    case R::tooLarge: return "too large";
    case R::unmeasured: return "not measurable";
    case R::unreadable: return "unreadable";
    case R::empty: return "empty";
    case R::symbolicLink: return one ? "link" : "links";
    case R::cloudPlaceholder: return "not downloaded";
    case R::changedDuringScan: return "changed while scanned";
    case R::hidden: return "hidden";
    case R::package: return one ? "package folder" : "package folders";
    case R::managedLibrary: return one ? "photo library" : "photo libraries";
    case R::unreadableFolder: return one ? "unreadable folder" : "unreadable folders";
    case R::trash: return one ? "Trash folder" : "Trash folders";
    case R::notScanned: return one ? "folder not scanned" : "folders not scanned";
    }
    return {};
}

namespace {

LeftOut::Reason reasonFor(SkipReason reason) {
    switch (reason) {
    case SkipReason::unsupportedFormat: return LeftOut::Reason::notDecodable;
    case SkipReason::unreadable: return LeftOut::Reason::unreadable;
    case SkipReason::corrupt: return LeftOut::Reason::corrupt;
    case SkipReason::cloudPlaceholder: return LeftOut::Reason::cloudPlaceholder;
    case SkipReason::empty: return LeftOut::Reason::empty;
    case SkipReason::symbolicLink: return LeftOut::Reason::symbolicLink;
    case SkipReason::changedDuringScan: return LeftOut::Reason::changedDuringScan;
    }
    return LeftOut::Reason::unreadable;
}

std::optional<LeftOut::Reason> reasonFor(ExcludedItem::Kind kind) {
    switch (kind) {
    case ExcludedItem::Kind::managedLibrary: return LeftOut::Reason::managedLibrary;
    case ExcludedItem::Kind::package: return LeftOut::Reason::package;
    case ExcludedItem::Kind::unreadableFolder: return LeftOut::Reason::unreadableFolder;
    case ExcludedItem::Kind::refusedRoot: return LeftOut::Reason::notScanned;
    case ExcludedItem::Kind::trash: return LeftOut::Reason::trash;
    case ExcludedItem::Kind::overlappingRoot: return std::nullopt; // its pictures are scanned under the other root
    }
    return std::nullopt;
}

} // namespace

std::vector<LeftOut> leftOut(const ScanResult& scan, const SimilarityIndex* measured) {
    std::vector<LeftOut> items;
    for (const auto& file : scan.skipped) items.push_back({file.path, reasonFor(file.reason), file.detail});
    for (const auto& item : scan.excluded)
        if (const auto reason = reasonFor(item.kind))
            items.push_back({item.path, *reason, item.detail.empty() ? std::nullopt : std::optional(item.detail)});
    for (const auto& path : scan.hidden) items.push_back({path, LeftOut::Reason::hidden, std::nullopt});
    if (measured != nullptr) {
        // The measuring refuses what has more pixels than are ever decoded; the header said so.
        std::map<std::string, const PhotoAsset*> byPath;
        for (const auto& picture : measured->pictures) byPath.emplace(picture.path, &picture);
        for (const auto& path : measured->unmeasured) {
            const auto found = byPath.find(path);
            const PhotoAsset* picture = found == byPath.end() ? nullptr : found->second;
            const std::int64_t width = picture ? picture->pixelWidth.value_or(0) : 0;
            const std::int64_t height = picture ? picture->pixelHeight.value_or(0) : 0;
            if (width > 0 && height > 0 && width > Images::maximumPixels / height)
                items.push_back({path, LeftOut::Reason::tooLarge,
                                 std::to_string(width) + " \u00d7 " + std::to_string(height) + " pixels"});
            else
                items.push_back({path, LeftOut::Reason::unmeasured, std::nullopt});
        }
    }
    std::stable_sort(items.begin(), items.end(), [](const LeftOut& a, const LeftOut& b) {
        if (a.reason != b.reason) return a.reason < b.reason;
        return a.path < b.path;
    });
    return items;
}

std::string leftOutCounts(const std::vector<LeftOut>& items) {
    std::vector<std::pair<LeftOut::Reason, std::size_t>> counts; // the items come sorted by reason
    for (const auto& item : items) {
        if (counts.empty() || counts.back().first != item.reason) counts.emplace_back(item.reason, 0);
        ++counts.back().second;
    }
    std::string line;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        if (i > 0) line += ", ";
        line += std::to_string(counts[i].second) + " " + words(counts[i].first, counts[i].second);
    }
    return line;
}

} // namespace vp
