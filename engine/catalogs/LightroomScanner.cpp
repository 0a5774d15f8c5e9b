#include "LightroomScanner.h"

#include <map>

namespace vp::LightroomScanner {

ScanResult scan(const LightroomCatalog::Catalog& catalog, bool keepPictures, const CancellationFlag& cancel,
                const ScanProgressCallback& progress, const ExactMatcher::PictureChecks& checks) {
    std::map<std::string, LightroomRef, std::less<>> refs;
    std::vector<SkippedFile> missing;
    std::int64_t rejected = 0;
    for (const auto& photo : catalog.photos) {
        if (!photo.exists) {
            missing.push_back({photo.path, SkipReason::unreadable, std::string(missingDetail)});
        } else if (photo.ref.pick < 0) {
            ++rejected; // on its way out already
        } else {
            refs.emplace(photo.path, photo.ref);
        }
    }
    FolderSource::NameSet only;
    for (const auto& [path, ref] : refs) only.insert(path);

    ScanResult result = ExactMatcher::scan(catalog.rootFolders, keepPictures, only, {}, cancel, progress, checks);
    const auto attach = [&](PhotoAsset& asset) {
        if (const auto found = refs.find(asset.path); found != refs.end()) asset.lightroom = found->second;
    };
    for (auto& group : result.groups)
        for (auto& member : group.members) attach(member);
    for (auto& picture : result.pictures) attach(picture);
    result.skipped.insert(result.skipped.end(), missing.begin(), missing.end());
    result.lightroomRejected = rejected;
    return result;
}

} // namespace vp::LightroomScanner
