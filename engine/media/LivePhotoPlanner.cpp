#include "LivePhotoPlanner.h"

namespace vp::LivePhotoPlanner {

CleanupPlan plan(const std::vector<LivePhotoPair>& pairs, std::vector<std::string> roots, Timestamp now) {
    CleanupPlan plan{Uuid::random(), now, std::move(roots), {}};
    for (const LivePhotoPair& pair : pairs) {
        PlannedRemoval removal;
        removal.path = pair.movie;
        removal.root = pair.root;
        removal.snapshot = pair.movieSnapshot;
        removal.keepers = {{pair.still, pair.stillSnapshot}};
        removal.isCloudSynced = pair.isCloudSynced;
        removal.volumeName = pair.volumeName;
        removal.isExternalVolume = pair.isExternalVolume;
        removal.matchKind = MatchKind::liveMovie;
        removal.libraryFilename = pair.libraryFilename;
        plan.removals.push_back(std::move(removal));
    }
    return plan;
}

} // namespace vp::LivePhotoPlanner
