// Tidying from the terminal: `clean` scans folders through the application model, marks the
// suggested copies, shows the plan and, once approved, moves the copies to the Trash; `history`
// lists earlier cleanups; `put-back` undoes them. The model, its locks and its history are the
// same the desktop application uses; the settings are read (protected folders keep protecting)
// but a command's own choices are never saved.
//
// The terminal never guesses: a folder argument that is not a folder refuses the whole command,
// a cleanup is named by its number in `history` or by a unique id prefix of 8 characters or more,
// relative paths are taken from the working folder, and every name is printed escaped
// (`displayable`), so that no file name can split a line or send the terminal a control sequence.
#pragma once

#include "engine/cleanup/CleanupReport.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vp::TidyCommands {

/// Exit statuses, also listed by `--help`.
enum Status : int {
    done = 0,
    declined = 1,   ///< the person said no, or the scan or the cleanup was interrupted
    usage = 2,      ///< the command line is not understood, or names something that is not there
    refused = 3,    ///< the plan or the cleanup was refused, or nothing could be put back
    incomplete = 4, ///< some pictures were skipped or failed
};

/// True for "clean", "history", "put-back" and "undo".
bool isCommand(std::string_view word);

/// The status when the arguments name a command (the program's path first); absent otherwise.
/// Options not understood, or not taken by that command, are one line on standard error and
/// status 2; `COMMAND --help` prints the command's help.
std::optional<int> runIfAsked(const std::vector<std::string>& arguments);

// ---- Parts, exposed for tests

/// Why the arguments of a command (the program's path first, then the command) are not
/// understood, in one line; none when they are.
std::optional<std::string> argumentProblem(const std::vector<std::string>& arguments);

/// The cleanup `which` names among `reports` (newest first): its index, or the sentence that
/// refuses it. A number of fewer than 8 digits is the position in `history` (1 is the newest)
/// and nothing else; anything else is the start of an id, at least 8 characters long, that
/// exactly one cleanup's id begins with (letter case aside).
std::variant<std::size_t, std::string> chooseCleanup(const std::vector<CleanupReport>& reports, std::string_view which);

/// The same choice among any entries of `history` (cleanups, markings) by their ids, newest
/// first; `noun` names them in the refusals ("cleanup", "marking").
std::variant<std::size_t, std::string> chooseEntry(const std::vector<std::string>& ids, std::string_view which,
                                                   const std::string& noun);

/// One line of `history`: "1. <date>  2 moved, 0 skipped, 0 failed, 0 put back  [<id>]", with
/// " (interrupted, reconciled)" for a cleanup worked out after an interruption and
/// ", N to check by hand" when some pictures' fate is not known.
std::string historyLine(std::size_t number, const CleanupReport& report);

/// The path as an absolute one: relative paths are taken from the working folder, and the
/// result is lexically standardized ("." and ".." resolved, repeated slashes removed).
std::string absolutePath(const std::string& path);

} // namespace vp::TidyCommands
