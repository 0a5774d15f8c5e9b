// The records of a compression: the approved plan, what happened to each file, and why a whole
// run was refused. Shared by videos and by photos converted to HEIC.
#pragma once

#include "MediaScan.h"

#include "engine/common/Json.h"
#include "engine/common/Uuid.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp {

struct CompressionPlan {
    Uuid id;
    Timestamp created;
    std::vector<std::string> roots;
    std::vector<VideoItem> videos;

    /// Keeps only the candidates, in their order, under a new id.
    CompressionPlan(const std::vector<VideoItem>& videos, std::vector<std::string> roots, Timestamp now);
    CompressionPlan() = default;

    std::int64_t totalBytes() const;
    std::int64_t estimatedSavings() const;

    VP_RECORD(id, created, roots, videos)
    bool operator==(const CompressionPlan&) const = default;
};

/// Made only by the person's confirmation of the plan shown to them.
struct CompressionApproval {
    Uuid planID;

    VP_RECORD(planID)
    bool operator==(const CompressionApproval&) const = default;
};

struct CompressionOutcome {
    enum class Kind { compressed, skipped, failed, originalRestored };

    Kind kind = Kind::skipped;
    std::int64_t newSize = 0;        ///< compressed
    std::string originalInTrash;     ///< compressed: where the original now is
    std::string reason;              ///< skipped, failed

    static CompressionOutcome compressed(std::int64_t newSize, std::string originalInTrash) {
        return {Kind::compressed, newSize, std::move(originalInTrash), {}};
    }
    static CompressionOutcome skipped(std::string reason) { return {Kind::skipped, 0, {}, std::move(reason)}; }
    static CompressionOutcome failed(std::string reason) { return {Kind::failed, 0, {}, std::move(reason)}; }
    static CompressionOutcome originalRestored() { return {Kind::originalRestored, 0, {}, {}}; }

    /// "Compressed", "Skipped", "Not compressed", "Original back".
    std::string_view word() const;

    bool operator==(const CompressionOutcome&) const = default;
};

template <>
struct EnumStrings<CompressionOutcome::Kind> {
    static constexpr std::array cases{
        std::pair{CompressionOutcome::Kind::compressed, std::string_view("compressed")},
        std::pair{CompressionOutcome::Kind::skipped, std::string_view("skipped")},
        std::pair{CompressionOutcome::Kind::failed, std::string_view("failed")},
        std::pair{CompressionOutcome::Kind::originalRestored, std::string_view("originalRestored")},
    };
};

struct CompressionItem {
    std::string path;
    std::int64_t originalSize = 0;
    CompressionOutcome outcome;
    /// The copy's path when it differs from `path` (a photo converted to HEIC).
    std::optional<std::string> replacedBy;

    std::string name() const;
    std::int64_t saved() const;

    VP_RECORD(path, originalSize, outcome, replacedBy)
    bool operator==(const CompressionItem&) const = default;
};

struct CompressionReport {
    Uuid planID;
    Timestamp started;
    std::vector<CompressionItem> items;
    std::string journalPath;

    std::int64_t saved() const;

    VP_RECORD(planID, started, items, journalPath)
    bool operator==(const CompressionReport&) const = default;
};

/// Why nothing was done.
struct CompressionRefusal {
    enum class Kind { journalUnavailable, approvalDoesNotMatch, alreadyRun };

    Kind kind = Kind::approvalDoesNotMatch;
    std::string detail; ///< journalUnavailable only

    std::string description() const;
    bool operator==(const CompressionRefusal&) const = default;
};

} // namespace vp

// An outcome is an object with one key, the case name: {"compressed":{"newSize":…,
// "originalInTrash":"…"}}, {"skipped":{"_0":"…"}}, {"originalRestored":{}}.
template <>
struct nlohmann::adl_serializer<vp::CompressionOutcome, void> {
    static void to_json(vp::Json& json, const vp::CompressionOutcome& outcome);
    static void from_json(const vp::Json& json, vp::CompressionOutcome& outcome);
};
