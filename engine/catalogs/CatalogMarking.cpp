#include "CatalogMarking.h"

namespace vp::CatalogMarking {

bool isUnchangedOnDisk(const PlannedRemoval& removal) {
    const auto now = FileSnapshot::read(removal.path);
    return now && now->isRegularFile && !now->isSymbolicLink && now->isUnchanged(removal.snapshot);
}

bool aKeeperIsUnchanged(const PlannedRemoval& removal) {
    return std::any_of(removal.keepers.begin(), removal.keepers.end(), [](const KeeperEvidence& keeper) {
        const auto now = FileSnapshot::read(keeper.path);
        return now && now->isUnchanged(keeper.snapshot);
    });
}

} // namespace vp::CatalogMarking
