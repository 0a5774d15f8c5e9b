#include "CatalogMarkings.h"

#include "PhotoCleanupModel.h"

#include <algorithm>

namespace vp {

std::vector<MarkingRecord> catalogMarkings(const PhotoCleanupModel& model) {
    std::vector<MarkingRecord> all(model.lightroomRecords().begin(), model.lightroomRecords().end());
    all.insert(all.end(), model.captureOneRecords().begin(), model.captureOneRecords().end());
    const auto date = [](const MarkingRecord& marking) {
        return std::visit([](const auto& record) { return record.date; }, marking);
    };
    std::stable_sort(all.begin(), all.end(), [&](const MarkingRecord& a, const MarkingRecord& b) { return date(a) > date(b); });
    return all;
}

const Uuid& markingID(const MarkingRecord& marking) {
    return std::visit([](const auto& record) -> const Uuid& { return record.id; }, marking);
}

bool isTakenBack(const MarkingRecord& marking) {
    return std::visit([](const auto& record) { return record.restored; }, marking);
}

bool isLightroom(const MarkingRecord& marking) { return std::holds_alternative<LightroomMarkRecord>(marking); }

std::string markingSummary(const MarkingRecord& marking) {
    return std::visit(
        [&](const auto& record) {
            return std::to_string(record.marked.size()) +
                   (isLightroom(marking) ? " marked Rejected in " : " tagged Red in ") + record.name();
        },
        marking);
}

void takeBack(PhotoCleanupModel& model, const MarkingRecord& marking) {
    if (const auto* lightroom = std::get_if<LightroomMarkRecord>(&marking)) model.undoMarking(*lightroom);
    else model.undoTagging(std::get<CaptureOneMarkRecord>(marking));
}

} // namespace vp
