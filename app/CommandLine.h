// What every terminal command shares: reading options ("--name", "--name=value", "--"),
// refusing a folder argument that is not a folder, telling what a scan left out and why, and
// the header and dates of the JSON documents scripts read.
#pragma once

#include "engine/common/Json.h"
#include "engine/scan/ScanResult.h"
#include "engine/similarity/SimilarityIndex.h"
#include "model/LeftOut.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp::CommandLine {

/// The version of the JSON documents' layout; raised when a key changes meaning or goes away.
inline constexpr std::int64_t schemaVersion = 1;

/// An argument that is an option: "--name" or "--name=value" (value kept as given), or "-x".
/// A lone "-" and anything not starting with '-' are operands, and so is everything after "--".
struct Option {
    std::string name;
    std::optional<std::string> value;
};
std::optional<Option> option(const std::string& argument);

/// An argument exactly as it was given, escaped; an empty one is said to be empty.
std::string asGiven(const std::string& argument);

/// The path as an absolute one: relative paths are taken from the working folder, and the
/// result is lexically standardized ("." and ".." resolved, repeated slashes removed).
std::string absolutePath(const std::string& path);

/// Why `given` cannot be scanned as a folder, in one line naming it as given ("No such folder:
/// photos/2019"); none when it can. `resolved` receives the folder's real path.
std::optional<std::string> folderRefusal(const std::string& given, std::string& resolved);

// What a scan left out: the record and its words are shared with the window (model/LeftOut.h).
using vp::LeftOut;
using vp::leftOut;
using vp::leftOutCounts;
using vp::words;

/// The counted summary, one line: "Left out: 3 damaged, 1 too large, 2 hidden." (empty when
/// nothing was left out). `listed` says whether the list follows; otherwise the line says how
/// to get it.
std::string leftOutSummary(const std::vector<LeftOut>& items, bool listed);

/// "damaged: ~/photos/a.jpg" or with its detail "not decodable here: ~/b.gif (GIF)", escaped.
std::string leftOutLine(const LeftOut& item);

/// Prints the summary and, when `list`, one line per item, to `out` (standard error).
void tellLeftOut(std::FILE* out, const std::vector<LeftOut>& items, bool list);

/// The start of every JSON document: tool, version, schemaVersion and command.
Json header(std::string_view command);

/// ISO 8601 in local time with its offset from UTC, to the second: "2026-05-12T17:15:04+02:00".
std::string localTimestamp(Timestamp time);
std::string localTimestamp(std::int64_t seconds);
/// `json` with the dates of its records ("created", "started", "finished", "at", at any depth)
/// in local time with their offset, as every document gives them to scripts.
Json withLocalDates(Json json);

/// For people: "2026-05-12 17:15:04", the local date and time in ISO 8601's order.
std::string localDateTime(std::int64_t seconds);

/// A camera's own date and time, kept as if it were UTC, written without a zone:
/// "2021-06-12T09:14:03".
std::string wallClockTimestamp(Timestamp time);

/// JSON for scripts, in ASCII alone: no byte of it can act on a terminal it is printed to.
std::string jsonText(const Json& json);

/// "1 picture", "2 pictures".
std::string pictures(std::size_t count);
/// "1 group", "2 groups".
std::string groups(std::size_t count);
/// "512 bytes", "76.9 KB", "1.2 GB" (powers of 1000).
std::string bytesText(std::int64_t bytes);

/// The program's version, as --version prints it.
std::string_view version();

/// Blocks SIGINT and SIGTERM in the calling thread (and so in every thread it starts later) and
/// hands each one that arrives to `handle` on a thread of its own, which lives as long as the
/// process. Call before any other thread is started.
void takeTerminationSignals(std::function<void(int signal)> handle);

} // namespace vp::CommandLine
