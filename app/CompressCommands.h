// Shrinking media from the terminal: `compress` finds big videos and Live Photos under the
// folders given, shows what an HEVC copy at most 1080p would save and which Live Photos would
// keep only their still, asks, then replaces each approved video with its verified copy (the
// original to the Trash) and moves the chosen Live Photo movies to the Trash. `history` lists
// compressions beside cleanups, and `put-back C<N>` puts a compression's originals back.
#pragma once

#include "engine/common/Json.h"
#include "engine/media/Compression.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vp::CompressCommands {

/// The status when the arguments (the program's path first) are a `compress` command.
std::optional<int> runIfAsked(const std::vector<std::string>& arguments);

/// Why the arguments of `compress` are not understood, in one line; none when they are.
std::optional<std::string> argumentProblem(const std::vector<std::string>& arguments);

/// The compression `which` names ("C1" is the newest, or 8 or more characters of its id), or
/// none when it names no compression (it may name a cleanup).
std::optional<std::size_t> chooseCompression(const std::vector<CompressionReport>& reports, std::string_view which);

/// "C1. <date>  2 compressed, 0 skipped, 1 not compressed, 0 originals back, saved 75.2 MB  [<id>]".
std::string historyLine(std::size_t number, const CompressionReport& report);

/// The compressions recorded in the data folder, newest first, after settling interrupted ones.
std::vector<CompressionReport> compressionHistory();

/// For `history`: the lines under their heading, nothing when there are none.
void printHistory();
/// For `history --json`: one record per compression, with "kind": "compression".
Json historyJson();

/// For `put-back`: the status when `operands` name a compression, none otherwise.
std::optional<int> putBackIfCompression(const std::vector<std::string>& operands);

std::string help();

} // namespace vp::CompressCommands
