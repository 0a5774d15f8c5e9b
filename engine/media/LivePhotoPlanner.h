// Turning Live Photos into plain stills: the movie halves the person selected become an
// ordinary cleanup plan, each movie a removal whose kept copy is its own still, so the cleanup
// executor re-checks, journals and moves them, and a put-back brings them back.
#pragma once

#include "MediaScan.h"

#include "engine/cleanup/CleanupPlan.h"

#include <string>
#include <vector>

namespace vp::LivePhotoPlanner {

/// One removal per pair, in the order given; the still is checked present and unchanged
/// before its movie moves, so no Live Photo ever loses both halves.
CleanupPlan plan(const std::vector<LivePhotoPair>& pairs, std::vector<std::string> roots, Timestamp now);

} // namespace vp::LivePhotoPlanner
