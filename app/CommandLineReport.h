// The headless report: with "--similar" or "--series" among the arguments, scans the folders
// named after the flag, measures the pictures, prints the look-alike groups (or the bursts)
// with quality scores and hints and a summary, and ends the process. "--exact" prints the
// identical groups of the exact scan instead. Standard output carries the report alone, in a
// fixed format that scripts read; progress goes to standard error, and only to a terminal.
#pragma once

#include "engine/scan/CancellationFlag.h"
#include "engine/similarity/SimilarityIndex.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace vp::CommandLineReport {

enum class Mode { similar, series, exact };

struct Request {
    Mode mode = Mode::similar;
    SimilarityPreset preset = SimilarityPreset::balanced;
    std::vector<std::string> folders;
    bool noCache = false; ///< "--no-cache": read every file, and leave the scan cache alone

    bool operator==(const Request&) const = default;
};

/// What the arguments ask for (the program's path first); absent when no report is asked for.
std::optional<Request> parse(const std::vector<std::string>& arguments);

/// Runs the report, printing to `out`; returns the exit status (0, or 1 when cancelled).
/// `cancel` stops the work; `progress` receives one line of text at a time, or is null.
int run(const Request& request, std::FILE* out, const SharedCancellationFlag& cancel,
        const std::function<void(const std::string&)>& progress);

/// Returns at once when no report is asked for; otherwise runs it and ends the process.
/// Ctrl-C cancels the scan, so an interrupted report ends with "cancelled" and status 1.
void runIfAsked(int argc, char** argv);

} // namespace vp::CommandLineReport
