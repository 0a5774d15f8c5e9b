#include "LibrarySource.h"

#include <chrono>
#include <cmath>

namespace vp::LibrarySource {

bool isLibraryPath(std::string_view path) { return path.starts_with(pathPrefix); }

std::string path(std::string_view id) { return std::string(pathPrefix) + std::string(id); }

std::optional<std::string> id(std::string_view path) {
    if (!isLibraryPath(path)) return std::nullopt;
    return std::string(path.substr(pathPrefix.size()));
}

std::uint64_t fnv(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const unsigned char byte : text) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    }
    return hash;
}

FileSnapshot snapshot(const std::string& id, std::optional<Timestamp> created, std::optional<Timestamp> modified,
                      std::int64_t size) {
    using namespace std::chrono;
    const Timestamp shown = created.value_or(modified.value_or(Timestamp{}));
    const Timestamp changed = modified.value_or(shown);
    const double changedMilliseconds = duration<double, std::milli>(changed.time_since_epoch()).count();
    const auto roundedMilliseconds = static_cast<std::int64_t>(std::llround(changedMilliseconds));

    FileSnapshot snapshot;
    snapshot.identity = {device, fnv(id + "@" + std::to_string(roundedMilliseconds))};
    snapshot.size = size;
    const auto sinceEpoch = duration_cast<nanoseconds>(shown.time_since_epoch());
    const auto wholeSeconds = floor<seconds>(sinceEpoch);
    snapshot.modifiedSeconds = wholeSeconds.count();
    snapshot.modifiedNanoseconds = (sinceEpoch - wholeSeconds).count();
    return snapshot;
}

PhotoAsset asset(const PhotoLibraryItem& item, std::int64_t size) {
    PhotoAsset asset;
    asset.path = path(item.id);
    asset.root = std::string(root);
    asset.snapshot = snapshot(item.id, item.created, item.modified, size);
    asset.format = formatFromTypeIdentifier(item.uti);
    asset.pixelWidth = item.pixelWidth;
    asset.pixelHeight = item.pixelHeight;
    asset.library = LibraryRef{item.id, item.filename, item.isFavorite, item.isLivePhoto, item.hasRAWPair, item.isEdited};
    return asset;
}

} // namespace vp::LibrarySource
