#include "Compression.h"

#include "engine/common/Text.h"

#include <algorithm>
#include <numeric>

namespace vp {

CompressionPlan::CompressionPlan(const std::vector<VideoItem>& candidates, std::vector<std::string> roots, Timestamp now)
    : id(Uuid::random()), created(now), roots(std::move(roots)) {
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(videos),
                 [](const VideoItem& video) { return video.isCandidate(); });
}

std::int64_t CompressionPlan::totalBytes() const {
    return std::accumulate(videos.begin(), videos.end(), std::int64_t{0},
                           [](std::int64_t sum, const VideoItem& video) { return sum + video.snapshot.size; });
}

std::int64_t CompressionPlan::estimatedSavings() const {
    return std::accumulate(videos.begin(), videos.end(), std::int64_t{0},
                           [](std::int64_t sum, const VideoItem& video) { return sum + video.estimatedSavings(); });
}

std::string_view CompressionOutcome::word() const {
    switch (kind) {
    case Kind::compressed: return "Compressed";
    case Kind::skipped: return "Skipped";
    case Kind::failed: return "Not compressed";
    case Kind::originalRestored: return "Original back";
    }
    return {};
}

std::string CompressionItem::name() const { return lastPathComponent(path); }

std::int64_t CompressionItem::saved() const {
    return outcome.kind == CompressionOutcome::Kind::compressed ? originalSize - outcome.newSize : 0;
}

std::int64_t CompressionReport::saved() const {
    return std::accumulate(items.begin(), items.end(), std::int64_t{0},
                           [](std::int64_t sum, const CompressionItem& item) { return sum + item.saved(); });
}

std::string CompressionRefusal::description() const {
    switch (kind) {
    case Kind::journalUnavailable: return "The record could not be written, so nothing was changed: " + detail;
    case Kind::approvalDoesNotMatch: return "This approval is for different videos. Review them again.";
    case Kind::alreadyRun: return "These videos were already handled once. Scan again to see what is left.";
    }
    return {};
}

} // namespace vp

void nlohmann::adl_serializer<vp::CompressionOutcome, void>::to_json(vp::Json& json, const vp::CompressionOutcome& outcome) {
    using Kind = vp::CompressionOutcome::Kind;
    vp::Json values = vp::Json::object();
    switch (outcome.kind) {
    case Kind::compressed:
        values["newSize"] = outcome.newSize;
        values["originalInTrash"] = outcome.originalInTrash;
        break;
    case Kind::skipped:
    case Kind::failed: values["_0"] = outcome.reason; break;
    case Kind::originalRestored: break;
    }
    json = vp::Json::object();
    json[std::string(vp::rawValue(outcome.kind))] = std::move(values);
}

void nlohmann::adl_serializer<vp::CompressionOutcome, void>::from_json(const vp::Json& json, vp::CompressionOutcome& outcome) {
    using Kind = vp::CompressionOutcome::Kind;
    if (!json.is_object() || json.size() != 1) throw vp::JsonDecodingError("", "expected an object with one case");
    const std::string name = json.begin().key();
    const vp::Json& values = json.begin().value();
    const auto kind = vp::enumFromRaw<Kind>(name);
    if (!kind) throw vp::JsonDecodingError(name, "unknown case");
    if (!values.is_object()) throw vp::JsonDecodingError(name, "expected an object");
    const auto field = [&](const char* key) -> const vp::Json& {
        const auto found = values.find(key);
        if (found == values.end()) throw vp::JsonDecodingError(name + "." + key, "missing");
        return *found;
    };
    switch (*kind) {
    case Kind::compressed:
        outcome = vp::CompressionOutcome::compressed(field("newSize").get<std::int64_t>(),
                                                     field("originalInTrash").get<std::string>());
        break;
    case Kind::skipped: outcome = vp::CompressionOutcome::skipped(field("_0").get<std::string>()); break;
    case Kind::failed: outcome = vp::CompressionOutcome::failed(field("_0").get<std::string>()); break;
    case Kind::originalRestored: outcome = vp::CompressionOutcome::originalRestored(); break;
    }
}
