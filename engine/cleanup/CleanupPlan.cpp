#include "CleanupPlan.h"

#include "engine/common/Text.h"

#include <algorithm>
#include <map>

namespace vp {

std::string PlannedRemoval::name() const { return libraryFilename ? *libraryFilename : lastPathComponent(path); }

std::int64_t CleanupPlan::totalBytes() const {
    std::int64_t total = 0;
    for (const auto& removal : removals) total += removal.snapshot.size;
    return total;
}

std::int64_t CleanupPlan::cloudSyncedCount() const {
    return std::count_if(removals.begin(), removals.end(), [](const auto& removal) { return removal.isCloudSynced; });
}

std::int64_t CleanupPlan::externalCount() const {
    return std::count_if(removals.begin(), removals.end(),
                         [](const auto& removal) { return removal.isExternalVolume; });
}

std::vector<VolumeCount> CleanupPlan::volumes() const {
    // std::map orders by plain byte comparison, the order the confirmation lists volumes in.
    std::map<std::string, std::int64_t> counts;
    for (const auto& removal : removals) ++counts[removal.volumeName.value_or(std::string(unknownVolume))];
    std::vector<VolumeCount> result;
    for (const auto& [name, count] : counts) result.push_back({name, count});
    return result;
}

} // namespace vp
