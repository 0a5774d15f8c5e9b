// The durable record of one compression: one JSON-lines file per plan, each line forced to disk
// before the step it announces (or right after the step it confirms). Reports, history,
// put-back and the recovery after a crash are all read back from it.
#pragma once

#include "Compression.h"

#include "engine/common/Json.h"
#include "engine/common/Uuid.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vp::CompressionJournal {

struct Entry {
    enum class Step { plan, intent, trashed, done };

    Step step = Step::plan;
    std::optional<std::string> path;
    std::optional<std::string> temp;
    std::optional<std::string> trash;
    std::optional<std::int64_t> originalSize;
    std::optional<CompressionOutcome> outcome;
    std::optional<Timestamp> started;
    std::optional<std::string> final;

    VP_RECORD(step, path, temp, trash, originalSize, outcome, started, final)
    bool operator==(const Entry&) const = default;
};

/// `directory` + "/" + the plan id + ".jsonl".
std::string pathFor(const std::string& directory, const Uuid& planID);

/// Creates the folder when needed and the journal exclusively (mode 0600), writes the plan line
/// and forces file and folder to disk. Throws JournalError (EEXIST when it exists already).
void create(const std::string& url, Timestamp started);

/// Adds one line, ending a line torn by a crash first, and forces it to disk. Only a plain file
/// that exists is written. Throws JournalError.
void append(const std::string& url, const Entry& entry);

/// Every line that decodes, in order; empty when the file cannot be read.
std::vector<Entry> entries(const std::string& url);

/// None when the first line is not a plan line. One item per path in order of first mention,
/// the last "done" line deciding its outcome.
std::optional<CompressionReport> report(const std::string& url);

/// What a path without a "done" line reads as before the recovery has run.
inline constexpr std::string_view unsettled = "The app stopped before this one finished; it is worked out at the next start.";

} // namespace vp::CompressionJournal

template <>
struct vp::EnumStrings<vp::CompressionJournal::Entry::Step> {
    static constexpr std::array cases{
        std::pair{vp::CompressionJournal::Entry::Step::plan, std::string_view("plan")},
        std::pair{vp::CompressionJournal::Entry::Step::intent, std::string_view("intent")},
        std::pair{vp::CompressionJournal::Entry::Step::trashed, std::string_view("trashed")},
        std::pair{vp::CompressionJournal::Entry::Step::done, std::string_view("done")},
    };
};
