// File-system helpers both catalog kinds share: joining catalog locations, real paths, the
// backup folder beside a catalog, finding catalogs in a folder, asking whether the catalog's
// program is running, and the JSON records of markings.
#pragma once

#include "engine/common/Json.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vp::CatalogFiles {

/// `first` and `second` with exactly one "/" between them: one is added only when `first`
/// does not end in one ("/Photos" + "2024/" and "/Photos/" + "2024/" both give "/Photos/2024/").
std::string join(const std::string& first, const std::string& second);

/// The path with links and ".." resolved; absent when nothing is there or a folder on the way
/// is missing.
std::optional<std::string> realPath(const std::string& path);

/// The folder backups go into, beside the catalog.
inline constexpr std::string_view backupFolderName = "Velmo Pristel Backups";

/// "2024-05-01 102030": the time in the local time zone, as backup names carry it.
std::string backupTimeText(Timestamp now);

/// The first of "<folder>/<stem> <time><extension>", "<folder>/<stem> <time> 2<extension>", ...
/// that nothing occupies.
/// "Velmo Pristel Backups" beside the catalog, made when missing. Throws std::runtime_error.
std::string backupFolderBeside(const std::string& catalog);
std::string freeBackupPath(const std::string& folder, const std::string& stem, Timestamp now,
                           const std::string& extension);

/// Entries of `folder` (one level) whose extension, lower-cased, is `extension`, most recently
/// changed first; an unreadable folder has none.
std::vector<std::string> entriesWithExtension(const std::string& folder, const std::string& extension);

/// True when a running process's name, executable or command line names one of
/// `programNames` (compared without regard to case; Windows programs under Wine show up with
/// their ".exe" name in their command line). `procFolder` is "/proc" but for tests.
bool isProgramRunning(const std::vector<std::string>& programNames, const std::string& procFolder = "/proc");
/// The bytes of a small file, such as one under /proc; empty when it cannot be read.
std::string readWhole(const std::string& path);
/// The "<procFolder>/<pid>" folders of the processes `isProgramRunning` looks for.
std::vector<std::string> runningProcesses(const std::vector<std::string>& programNames,
                                          const std::string& procFolder = "/proc");

/// Writes `record` as "<id>.json" in `folder` (created when missing): pretty-printed, keys
/// sorted, replaced atomically. Throws std::runtime_error with the system's words.
void saveRecord(const std::string& folder, const std::string& id, const Json& record);

/// The text of every file in `folder` whose extension is "json".
std::vector<std::string> recordTexts(const std::string& folder);

/// Seconds since 2001-01-01 00:00:00 UTC, the epoch Capture One stores its times in.
double referenceDateSeconds(Timestamp time);

/// The decimal text of a number as SQL gets it, exact enough to give the same double back.
std::string sqlReal(double value);

} // namespace vp::CatalogFiles
