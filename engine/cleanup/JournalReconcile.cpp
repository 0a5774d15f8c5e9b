// Settling a journal that stops in the middle: each picture without an outcome is looked for
// where it was and in the Trash, by the device and inode it had when planned.
#include "CleanupExecutor.h"
#include "CleanupJournal.h"
#include "TrashLocation.h"
#include "Trasher.h"

#include "engine/common/Text.h"
#include "platform/FileLock.h"
#include "platform/RegularFile.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace vp {

namespace {

std::string percentDecoded(std::string_view text) {
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && digit(text[i + 1]) >= 0 && digit(text[i + 2]) >= 0) {
            result += static_cast<char>(digit(text[i + 1]) * 16 + digit(text[i + 2]));
            i += 2;
        } else {
            result += text[i];
        }
    }
    return result;
}

/// The original path a `.trashinfo` names; a volume Trash records it relative to the volume's
/// top folder, which holds ".Trash-UID" or ".Trash/UID".
std::optional<std::string> recordedPath(const std::string& content, const std::string& trash) {
    for (const auto& line : split(content, '\n')) {
        if (!startsWith(line, "Path=")) continue;
        std::string path = percentDecoded(std::string_view(line).substr(5));
        if (startsWith(path, "/")) return path;
        std::string top = deletingLastPathComponent(trash);
        if (lastPathComponent(top) == ".Trash") top = deletingLastPathComponent(top);
        return (top == "/" ? "" : top) + "/" + path;
    }
    return std::nullopt;
}

/// Whether a Trash name could have been given to the file at `path`: its own name, or its stem
/// (perhaps shortened) followed by a counter.
bool reservedFor(const std::string& trashName, const std::string& path) {
    const std::string name = lastPathComponent(path);
    if (trashName == name) return true;
    const std::string stem = deletingPathExtension(name).substr(0, 64);
    return !stem.empty() && startsWith(trashName, stem) && trashName.size() > stem.size() &&
           (trashName[stem.size()] == '.' || name.size() > longestTrashName);
}

/// Removes the Trash records that name `path` but whose file never reached files/: what a move
/// interrupted between writing the record and renaming the file leaves behind.
void removeOrphanRecords(const std::string& path, const std::vector<std::string>& filesFolders) {
    for (const std::string& files : filesFolders) {
        const std::string trash = deletingLastPathComponent(files);
        const std::string info = trash + "/info";
        DIR* directory = ::opendir(info.c_str());
        if (directory == nullptr) continue;
        std::vector<std::string> orphans;
        while (const dirent* entry = ::readdir(directory)) {
            const std::string name = entry->d_name;
            if (pathExtension(name) != "trashinfo") continue;
            struct stat status {};
            const std::string file = files + "/" + deletingPathExtension(name);
            if (::lstat(file.c_str(), &status) == 0 || errno != ENOENT) continue;
            const auto record = readRegularFile(info + "/" + name, 64 * 1024);
            if (!record.ok()) continue;
            // A record cut before its date was written never got as far as a whole path; it can
            // only be known by the name it reserved.
            const bool whole = record.content.find("\nDeletionDate=") != std::string::npos;
            if (whole ? recordedPath(record.content, trash) == path : reservedFor(deletingPathExtension(name), path))
                orphans.push_back(info + "/" + name);
        }
        ::closedir(directory);
        for (const auto& orphan : orphans) ::unlink(orphan.c_str());
    }
}

} // namespace

std::optional<CleanupReport> CleanupJournal::reconcile(const std::string& url) {
    return reconcile(url, TrashLocation::candidates);
}

std::optional<CleanupReport> CleanupJournal::reconcile(const std::string& url, const TrashFolders& trashFolders) {
    // The journal's lock says whether its cleanup still runs somewhere; a running cleanup is
    // never settled from outside.
    std::optional<CleanupJournal> writer;
    try {
        writer.emplace(openForAppending(url));
    } catch (const JournalError& error) {
        if (error.code() == EWOULDBLOCK) return std::nullopt;
        // A journal that cannot be written is still worked out; nothing of it is recorded.
    }
    const auto parsed = parse(url);
    if (!parsed) return std::nullopt;
    // Records in the Trash are only tidied while no other process moves pictures.
    const auto trashWork = FileLock::tryExclusive(CleanupExecutor::trashWorkLock(deletingLastPathComponent(url)));

    std::set<std::string> settled;
    for (const PlannedRemoval& removal : parsed->plan.removals) {
        if (parsed->outcomes.contains(removal.path) || !settled.insert(removal.path).second) continue;
        const bool intended = parsed->intents.contains(removal.path);
        const auto fresh = FileSnapshot::read(removal.path);
        ItemOutcome outcome = ItemOutcome::skipped(std::string(notAttempted));
        if (fresh && fresh->identity == removal.snapshot.identity) {
            if (intended) outcome = ItemOutcome::skipped(std::string(stillInPlace));
            if (trashWork.lock) removeOrphanRecords(removal.path, trashFolders(removal.path));
        } else if (auto found = TrashLocation::find(removal.snapshot.identity, trashFolders(removal.path))) {
            // Found by identity even when the journal lost the intent: a damaged or cut journal
            // must never make a moved picture look as if it had not been touched.
            outcome = ItemOutcome::movedToTrash(std::move(found));
        } else if (intended) {
            outcome = ItemOutcome::unknown(std::string(lostWhileMoving));
        }
        if (!writer) continue;
        try {
            writer->write(Entry::outcomeEntry(removal.path, outcome, std::chrono::system_clock::now()));
        } catch (const JournalError&) {
            // Unrecorded, the picture is simply worked out again next time.
        }
    }
    if (!parsed->finished && writer) {
        try {
            writer->write(Entry::reconciledFinish(std::chrono::system_clock::now()));
        } catch (const JournalError&) {
        }
    }
    writer.reset();

    auto result = report(url);
    if (result) result->reconciled = true;
    return result;
}

} // namespace vp
