// The markings of both catalog kinds as one list, for the views that show them together.
#pragma once

#include "engine/catalogs/CaptureOneMarker.h"
#include "engine/catalogs/LightroomRejecter.h"

#include <variant>
#include <vector>

namespace vp {

class PhotoCleanupModel;

/// One marking (Lightroom Classic, photos Rejected) or tagging (Capture One, photos Red).
using MarkingRecord = std::variant<LightroomMarkRecord, CaptureOneMarkRecord>;

/// Every marking of both kinds the model knows of, newest first.
std::vector<MarkingRecord> catalogMarkings(const PhotoCleanupModel& model);

const Uuid& markingID(const MarkingRecord& marking);
bool isTakenBack(const MarkingRecord& marking);
bool isLightroom(const MarkingRecord& marking);
/// "2 marked Rejected in Main.lrcat" or "2 tagged Red in Main".
std::string markingSummary(const MarkingRecord& marking);
/// Takes the marking back through the model (`undoMarking` or `undoTagging`).
void takeBack(PhotoCleanupModel& model, const MarkingRecord& marking);

} // namespace vp
