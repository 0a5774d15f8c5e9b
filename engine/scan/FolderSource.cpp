#include "FolderSource.h"

#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "platform/Volumes.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace vp::FolderSource {

namespace {

std::string absolute(const std::string& path) {
    if (path.starts_with("/")) return path;
    char* cwd = ::getcwd(nullptr, 0);
    std::string base = cwd != nullptr ? cwd : "/";
    std::free(cwd);
    return base + "/" + path;
}

bool isInsideManagedLibrary(const std::string& realPath) {
    for (const auto& component : split(realPath, '/'))
        if (managedLibraryExtensions.contains(lowercased(pathExtension(component)))) return true;
    return false;
}

bool isFolder(const std::string& realPath) {
    struct stat status {};
    return ::stat(realPath.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

ExcludedItem refusedRoot(std::string path, std::string detail) {
    return {std::move(path), ExcludedItem::Kind::refusedRoot, std::move(detail)};
}

} // namespace

PreparedRoots prepare(const std::vector<std::string>& roots) {
    PreparedRoots prepared;
    std::vector<std::string> passed;
    for (const auto& root : roots) {
        const auto real = PathRules::real(PathRules::standardized(absolute(root)));
        if (!real) {
            prepared.refused.push_back(
                refusedRoot(root, "Not found. If it is on a drive, check the drive is connected."));
        } else if (isInsideManagedLibrary(*real)) {
            prepared.refused.push_back(refusedRoot(
                *real, "Inside a photo library. Its app manages those files, so Velmo Pristel never opens it."));
        } else if (!volumeFacts(*real).isLocal) {
            prepared.refused.push_back(refusedRoot(
                *real, "On a network volume. Velmo Pristel works on this computer's disks and drives plugged "
                       "into it, where the Trash can take a file back."));
        } else if (!isFolder(*real)) {
            prepared.refused.push_back(refusedRoot(*real, "Not a folder."));
        } else {
            passed.push_back(*real);
        }
    }
    // Parents sort before anything inside them, so each overlap is found against its outermost root.
    std::stable_sort(passed.begin(), passed.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    for (const auto& real : passed) {
        const auto container = std::find_if(prepared.roots.begin(), prepared.roots.end(),
                                             [&](const std::string& accepted) { return PathRules::isInside(real, accepted); });
        if (container == prepared.roots.end()) {
            prepared.roots.push_back(real);
        } else {
            prepared.refused.push_back({real, ExcludedItem::Kind::overlappingRoot,
                                        "Inside " + *container +
                                            ", which is already chosen, so it is scanned once as part of that."});
        }
    }
    return prepared;
}

NameSet stems(const NameSet& names) {
    NameSet result;
    for (const auto& name : names) result.insert(deletingPathExtension(name));
    return result;
}

std::vector<Relationship> relationships(const std::string& path, const NameSet& names, const NameSet& stems) {
    const std::string name = lowercased(lastPathComponent(path));
    const std::string stem = deletingPathExtension(name);
    const std::string extension = pathExtension(name);
    const auto has = [&](const NameSet& extensions) {
        return std::any_of(extensions.begin(), extensions.end(), [&](const std::string& other) {
            return other != extension && names.contains(stem + "." + other);
        });
    };

    std::vector<Relationship> found;
    if (has(sidecarExtensions) || names.contains(name + ".xmp") || names.contains(name + ".aae"))
        found.push_back(Relationship::sidecar);
    if (has(livePhotoExtensions)) found.push_back(Relationship::livePhoto);
    if ((rawPartnerExtensions.contains(extension) && has(rawExtensions)) ||
        (rawExtensions.contains(extension) && has(rawPartnerExtensions)))
        found.push_back(Relationship::rawPair);
    const bool edited = stem.starts_with("img_e") && stems.contains("img_" + stem.substr(5));
    const bool original = stem.starts_with("img_") && !stem.starts_with("img_e") &&
                          stems.contains("img_e" + stem.substr(4));
    if (edited || original) found.push_back(Relationship::editedOriginal);
    return found;
}

} // namespace vp::FolderSource
