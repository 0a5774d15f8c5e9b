// Tidying from the terminal: `clean` scans folders through the application model, marks the
// suggested copies, shows the plan and, once approved, moves the copies to the Trash; `history`
// lists earlier cleanups; `put-back` undoes them. The model, its settings and its locks are the
// same the desktop application uses.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vp::TidyCommands {

/// Exit statuses, also listed by `--help`.
enum Status : int {
    done = 0,
    declined = 1,   ///< the person said no, or the scan was interrupted
    usage = 2,      ///< the command line is not understood
    refused = 3,    ///< the plan or the cleanup was refused, or nothing could be put back
    incomplete = 4, ///< some pictures were skipped or failed
};

/// The status when the arguments name a command (the program's path first); absent otherwise.
std::optional<int> runIfAsked(const std::vector<std::string>& arguments);

extern const char* const help;

} // namespace vp::TidyCommands
