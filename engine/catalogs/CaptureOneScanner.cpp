#include "CaptureOneScanner.h"

#include "CatalogFiles.h"
#include "engine/common/Text.h"

#include <algorithm>
#include <map>
#include <set>

namespace vp::CaptureOneScanner {

ScanResult scan(const CaptureOneCatalog::Catalog& catalog, bool keepPictures, const CancellationFlag& cancel,
                const ScanProgressCallback& progress, const ExactMatcher::PictureChecks& checks) {
    std::map<std::string, CaptureOneRef, std::less<>> refs;
    std::int64_t red = 0;
    for (const auto& photo : catalog.photos) {
        if (photo.isTrashed) continue;
        if (photo.ref.isRed()) {
            ++red;
        } else if (photo.exists) {
            refs.emplace(photo.path, photo.ref);
        }
    }

    // The package is a managed library the walk never enters, so its own originals are named
    // one by one; photos elsewhere are found by walking their folders.
    const auto originals = catalog.originalsFolder();
    std::vector<std::string> listed;
    std::set<std::string> folders;
    FolderSource::NameSet only;
    for (const auto& [path, ref] : refs) {
        only.insert(path);
        if (originals && (path == *originals || startsWith(path, *originals + "/")))
            listed.push_back(path);
        else
            folders.insert(deletingLastPathComponent(path));
    }

    ScanResult result = ExactMatcher::scan({folders.begin(), folders.end()}, keepPictures, only, listed, cancel,
                                           progress, checks);
    const auto attach = [&](PhotoAsset& asset) {
        if (const auto found = refs.find(asset.path); found != refs.end()) asset.captureOne = found->second;
    };
    for (auto& group : result.groups)
        for (auto& member : group.members) attach(member);
    for (auto& picture : result.pictures) attach(picture);

    for (const auto& photo : catalog.missing())
        result.skipped.push_back({photo.path, SkipReason::unreadable, std::string(missingDetail)});

    const auto package = CatalogFiles::realPath(catalog.url).value_or(catalog.url);
    std::erase_if(result.excluded, [&](const ExcludedItem& item) {
        return item.kind == ExcludedItem::Kind::overlappingRoot ||
               (item.kind == ExcludedItem::Kind::managedLibrary && (item.path == package || item.path == catalog.url));
    });
    result.roots = catalog.rootFolders;
    result.captureOneRed = red;
    return result;
}

} // namespace vp::CaptureOneScanner
