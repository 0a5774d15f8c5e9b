#include "CleanupReport.h"

#include <algorithm>
#include <cstdlib>

namespace vp {

std::string_view ItemOutcome::word() const {
    switch (kind) {
    case Kind::movedToTrash: return "Moved to Trash";
    case Kind::skipped: return "Skipped";
    case Kind::failed: return "Failed";
    case Kind::unknown: return "Check by hand";
    case Kind::restored: return "Put back";
    }
    return {};
}

std::optional<std::string> ItemOutcome::detail() const {
    switch (kind) {
    case Kind::movedToTrash: return std::nullopt;
    case Kind::skipped:
    case Kind::failed:
    case Kind::unknown: return text;
    case Kind::restored: return "Restored to " + text;
    }
    return std::nullopt;
}

std::int64_t CleanupReport::count(const std::function<bool(const ItemOutcome&)>& predicate) const {
    return std::count_if(items.begin(), items.end(), [&](const ItemReport& item) { return predicate(item.outcome); });
}

std::int64_t CleanupReport::count(ItemOutcome::Kind kind) const {
    return count([kind](const ItemOutcome& outcome) { return outcome.kind == kind; });
}

std::int64_t CleanupReport::movedBytes() const {
    std::int64_t total = 0;
    for (const auto& item : items)
        if (item.outcome.kind == ItemOutcome::Kind::movedToTrash &&
            __builtin_add_overflow(total, item.removal.snapshot.size, &total))
            std::abort();
    return total;
}

} // namespace vp

void nlohmann::adl_serializer<vp::ItemOutcome, void>::to_json(vp::Json& json, const vp::ItemOutcome& outcome) {
    vp::Json values = vp::Json::object();
    if (outcome.kind == vp::ItemOutcome::Kind::movedToTrash) {
        if (outcome.trashPath) values["trashPath"] = *outcome.trashPath;
    } else {
        values["_0"] = outcome.text;
    }
    json = vp::Json::object();
    json[std::string(vp::rawValue(outcome.kind))] = std::move(values);
}

void nlohmann::adl_serializer<vp::ItemOutcome, void>::from_json(const vp::Json& json, vp::ItemOutcome& outcome) {
    if (!json.is_object() || json.size() != 1) throw vp::JsonDecodingError("", "expected an object with one case");
    const std::string name = json.begin().key();
    const vp::Json& values = json.begin().value();
    const auto kind = vp::enumFromRaw<vp::ItemOutcome::Kind>(name);
    if (!kind) throw vp::JsonDecodingError(name, "unknown case");
    if (!values.is_object()) throw vp::JsonDecodingError(name, "expected an object");
    outcome = {};
    outcome.kind = *kind;
    if (*kind == vp::ItemOutcome::Kind::movedToTrash) {
        const auto found = values.find("trashPath");
        if (found != values.end() && !found->is_null()) {
            if (!found->is_string()) throw vp::JsonDecodingError(name + ".trashPath", "expected a string");
            outcome.trashPath = found->get<std::string>();
        }
    } else {
        const auto found = values.find("_0");
        if (found == values.end()) throw vp::JsonDecodingError(name + "._0", "missing");
        if (!found->is_string()) throw vp::JsonDecodingError(name + "._0", "expected a string");
        outcome.text = found->get<std::string>();
    }
}
