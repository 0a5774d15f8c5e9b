#include "ReviewAlbum.h"

#include "LibrarySource.h"

#include <algorithm>
#include <chrono>

namespace vp::ReviewAlbum {

std::string Refusal::description() const {
    switch (kind) {
    case Kind::writeFailed: return "Photos did not add them to the album: " + message;
    case Kind::approvalDoesNotMatch: return "This approval is for a different set of photos. Review them again.";
    case Kind::notLibraryPhotos: return "Only photos from the Photos library can be added to the review album.";
    }
    return message;
}

bool unchanged(const std::string& id, const FileSnapshot& snapshot, const PhotoLibraryReading& reader) {
    const auto current = reader.currentModified(id);
    if (!current) return false;
    const Timestamp modified = current->value_or(snapshot.modified());
    // The scanned snapshot's time is the shown date; only the identity carries the change date.
    const auto rebuilt = LibrarySource::snapshot(id, std::nullopt, modified, snapshot.size);
    return rebuilt.identity == snapshot.identity;
}

namespace {

bool isUnchangedLibraryPicture(const std::string& path, const FileSnapshot& snapshot, const PhotoLibraryReading& reader) {
    const auto id = LibrarySource::id(path);
    return id && unchanged(*id, snapshot, reader);
}

} // namespace

Result<Report, Refusal> add(const CleanupPlan& plan, const CleanupApproval& approval, const PhotoLibraryReading& reader,
                            PhotoLibraryWriting& writer) {
    if (approval.planID != plan.id) return Unexpected{Refusal{Refusal::Kind::approvalDoesNotMatch, {}}};
    if (plan.removals.empty() || std::any_of(plan.removals.begin(), plan.removals.end(), [](const PlannedRemoval& r) {
            return !LibrarySource::isLibraryPath(r.path);
        }))
        return Unexpected{Refusal{Refusal::Kind::notLibraryPhotos, {}}};

    Report report;
    report.album = std::string(name);
    std::vector<std::string> ids;
    for (const auto& removal : plan.removals) {
        // The library's file name reads better than an identifier; the path's last part stands in.
        const std::string shown = removal.name();
        if (!isUnchangedLibraryPicture(removal.path, removal.snapshot, reader)) {
            report.skipped.push_back({shown, std::string(changedText)});
            continue;
        }
        const bool aKeeperRemains = std::any_of(removal.keepers.begin(), removal.keepers.end(), [&](const KeeperEvidence& k) {
            return LibrarySource::isLibraryPath(k.path) && isUnchangedLibraryPicture(k.path, k.snapshot, reader);
        });
        if (!aKeeperRemains) {
            report.skipped.push_back({shown, std::string(noKeeperText)});
            continue;
        }
        ids.push_back(*LibrarySource::id(removal.path));
    }

    if (!ids.empty()) {
        try {
            report.added = writer.addToAlbum(std::string(name), ids);
        } catch (const LibraryWriteError& error) {
            return Unexpected{Refusal{Refusal::Kind::writeFailed, error.description()}};
        }
    }
    report.id = Uuid::random();
    report.finished = std::chrono::system_clock::now();
    return report;
}

} // namespace vp::ReviewAlbum
