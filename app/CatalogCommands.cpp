#include "CatalogCommands.h"

#include "CommandLine.h"

#include "engine/common/Text.h"

#include <algorithm>

namespace vp::CatalogCommands {

std::string_view deed(Scope kind) { return kind == Scope::captureOne ? "Red" : "Rejected"; }

std::string question(Scope kind, std::size_t photos, const std::string& catalog) {
    const std::string count = CommandLine::pictures(photos);
    return kind == Scope::captureOne ? "Tag " + count + " Red in " + catalog + "? [y/N] "
                                     : "Mark " + count + " Rejected in " + catalog + "? [y/N] ";
}

std::string catalogName(Scope kind, const std::string& path) {
    const auto named = [&](auto record) {
        record.catalogPath = path;
        return record.name();
    };
    return kind == Scope::captureOne ? named(CaptureOneMarkRecord{}) : named(LightroomMarkRecord{});
}

std::string historyLine(std::size_t number, const MarkingRecord& marking) {
    return std::visit(
        [&](const auto& record) {
            const auto seconds = std::chrono::floor<std::chrono::seconds>(record.date).time_since_epoch().count();
            std::string line = std::to_string(number) + ". " + CommandLine::localDateTime(seconds) + "  " +
                               displayable(markingSummary(marking)) + ", backup " +
                               displayable(lastPathComponent(record.backupPath));
            if (record.restored) line += " (taken back)";
            return line + "  [" + record.id.text() + "]";
        },
        marking);
}

Json markingJson(const MarkingRecord& marking) {
    return std::visit(
        [](const auto& record) {
            Json json = encodeJson(record);
            json["kind"] = std::is_same_v<std::decay_t<decltype(record)>, LightroomMarkRecord> ? "lightroom" : "captureOne";
            json["date"] = CommandLine::localTimestamp(record.date);
            return json;
        },
        marking);
}

} // namespace vp::CatalogCommands
