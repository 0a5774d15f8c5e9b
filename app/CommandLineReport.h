// The headless report: with "--similar" or "--series" among the arguments, scans the folders
// named after the flag, measures the pictures, prints the look-alike groups (or the bursts)
// with quality scores and hints and a summary, and ends the process. "--exact" prints the
// identical groups of the exact scan instead. Standard output carries the report alone, in a
// fixed format that scripts read (or one JSON document with --json); what the scan left out is
// counted on standard error, and progress goes there too, only to a terminal.
//
// The command line never guesses: an unknown option, a second mode flag, a folder argument
// anywhere but right after the mode flag, or a folder that is not there is one line on standard
// error and status 2.
#pragma once

#include "engine/common/Result.h"
#include "engine/scan/CancellationFlag.h"
#include "engine/similarity/SimilarityIndex.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vp::CommandLineReport {

enum class Mode { similar, series, exact };

struct Request {
    Mode mode = Mode::similar;
    SimilarityPreset preset = SimilarityPreset::balanced;
    std::vector<std::string> folders;
    bool json = false;        ///< --json: one JSON document instead of the text report
    bool listSkipped = false; ///< --skipped: list what was left out, one per line, on standard error
    bool noCache = false;     ///< --no-cache: read every file again instead of using the scan cache

    bool operator==(const Request&) const = default;
};

/// The report's yes-or-no options, by name. A new one is a field above and a line in the table.
struct Flag {
    std::string_view name;
    bool Request::*field;
};
inline constexpr Flag flags[] = {
    {"--json", &Request::json},
    {"--skipped", &Request::listSkipped},
    {"--no-cache", &Request::noCache},
};

/// What the arguments ask for (the program's path first): a report, or nothing (no mode flag and
/// no report option: the arguments are folders for the window), or the one-line reason they are
/// not understood. Folders are the arguments right after the mode flag up to the next option
/// (or all after "--"); for --similar and --series a first preset word is the preset.
Result<std::optional<Request>, std::string> parse(const std::vector<std::string>& arguments);

/// The first folder that cannot be scanned, in one line naming it as given; none when all can.
std::optional<std::string> folderRefusal(const Request& request);

/// Runs the report, printing to `out` and telling what was left out on `messages` (null: not
/// told); returns the exit status (0, or 1 when cancelled). `cancel` stops the work; `progress`
/// receives one line of text at a time (an empty one: clear the line), or is null.
int run(const Request& request, std::FILE* out, const SharedCancellationFlag& cancel,
        const std::function<void(const std::string&)>& progress, std::FILE* messages = nullptr);

/// Returns at once when no report is asked for; otherwise runs it and ends the process: status 2
/// with one line on standard error when the arguments are not understood or a folder is not
/// there. Ctrl-C cancels the scan, so an interrupted report ends with "cancelled" and status 1.
void runIfAsked(int argc, char** argv);

} // namespace vp::CommandLineReport
