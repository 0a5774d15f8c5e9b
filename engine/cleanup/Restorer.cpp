#include "Restorer.h"

#include "CleanupExecutor.h"
#include "CleanupJournal.h"

#include "engine/common/Text.h"
#include "engine/common/Uuid.h"
#include "engine/common/PathRules.h"
#include "platform/FileLock.h"
#include "platform/FolderHandle.h"
#include "platform/SystemError.h"

#include <cerrno>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace vp::Restorer {

namespace {

/// A file put back no longer belongs in the Trash's list, as when a file manager restores it.
void forgetTrashRecord(const std::string& trashPath) {
    const std::string files = deletingLastPathComponent(trashPath);
    if (lastPathComponent(files) != "files") return;
    const std::string record = deletingLastPathComponent(files) + "/info/" + lastPathComponent(trashPath) + ".trashinfo";
    ::unlink(record.c_str());
}

std::string parentOf(const std::string& path) {
    std::string parent = deletingLastPathComponent(path);
    return parent.empty() ? "/" : parent;
}

FileIdentity identityOf(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

RestoreOutcome attempt(const ItemReport& item, const std::string& destination) {
    if (item.outcome.kind != ItemOutcome::Kind::movedToTrash || !item.outcome.trashPath) return RestoreOutcome::notInTrash();
    const std::string& trashPath = *item.outcome.trashPath;
    const FileIdentity& expected = item.removal.snapshot.identity;
    const std::string trashName = lastPathComponent(trashPath);
    const auto trashFolder = FolderHandle::openFollowingParents(parentOf(trashPath));
    if (!trashFolder.handle) return RestoreOutcome::notInTrash();
    // Same name, other file: what the cleanup moved is gone, and this file is someone else's.
    const auto inTrash = trashFolder.handle->entryStatus(trashName);
    if (!inTrash || identityOf(*inTrash) != expected || S_ISLNK(inTrash->st_mode)) return RestoreOutcome::notInTrash();

    // The way back is walked without following links: a folder replaced with a link since the
    // cleanup must not carry the picture somewhere else.
    const std::string parent = parentOf(destination);
    const auto folder = FolderHandle::open(parent);
    if (!folder.handle) {
        if (folder.error == ELOOP || (folder.error == ENOTDIR && PathRules::parentHasNoLinks(destination) == false))
            return RestoreOutcome::failed("A folder on the way back to " + parent +
                                          " was replaced with a link since the cleanup, so it was not followed");
        return RestoreOutcome::failed("Its folder, " + parent + ", is not there any more \u2014 perhaps its drive is not connected");
    }

    const std::string name = lastPathComponent(destination);
    const int code = renameWithoutReplacing(*trashFolder.handle, trashName, *folder.handle, name);
    if (code == 0) {
        folder.handle->sync();
        forgetTrashRecord(trashPath);
        return RestoreOutcome::restored(destination);
    }
    if (code == EEXIST) return RestoreOutcome::occupied(destination);
    return RestoreOutcome::failed(systemErrorText(code));
}

} // namespace

std::string localDateAndTime(Timestamp time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    // ISO 8601's order in every locale: a note is read back years later, and "05/12/26" is
    // neither unambiguous nor complete.
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &parts);
    return std::string(text, length);
}

std::string noteText(const RestoreOutcome& outcome, const std::string& time) {
    switch (outcome.kind) {
    case RestoreOutcome::Kind::restored: return "Restored to " + outcome.text;
    case RestoreOutcome::Kind::occupied:
        return "Put Back refused " + time + ": something else is now at " + outcome.text + ", and it is never overwritten.";
    case RestoreOutcome::Kind::failed: return "Put Back failed " + time + ": " + outcome.text + ". It is still in the Trash.";
    case RestoreOutcome::Kind::notInTrash:
        return "Put Back tried " + time + ": it is not in the Trash any more (emptied, or put back another way).";
    }
    return {};
}

RestoreOutcome restore(const ItemReport& item, const std::optional<std::string>& journal,
                       const std::optional<std::string>& destination) {
    if (!journal) return attempt(item, destination.value_or(item.removal.path));

    // The cleanup's journal and the Trash work are held for the attempt and its record, so a
    // put-back never races the cleanup itself or another put-back.
    const auto trashWork = FileLock::tryExclusive(CleanupExecutor::trashWorkLock(parentOf(*journal)));
    std::optional<CleanupJournal> writer;
    try {
        if (trashWork.busy()) throw JournalError(EWOULDBLOCK, *journal);
        writer.emplace(CleanupJournal::openForAppending(*journal));
    } catch (const JournalError& error) {
        if (error.code() == EWOULDBLOCK) return RestoreOutcome::failed(std::string(busySentence));
    }

    const RestoreOutcome outcome = attempt(item, destination.value_or(item.removal.path));
    if (!writer) return outcome;
    const auto now = std::chrono::system_clock::now();
    try {
        if (outcome.kind == RestoreOutcome::Kind::restored)
            writer->write(CleanupJournal::Entry::outcomeEntry(item.removal.path, ItemOutcome::restored(outcome.text), now));
        else
            writer->write(CleanupJournal::Entry::note(item.removal.path, noteText(outcome, localDateAndTime(now)), now));
    } catch (const JournalError&) {
    }
    return outcome;
}

std::string alternativePath(const std::string& path) {
    const std::string folder = deletingLastPathComponent(path);
    const std::string name = lastPathComponent(path);
    const std::string extension = pathExtension(name);
    const std::string stem = deletingPathExtension(name);
    const auto candidate = [&](const std::string& suffix) {
        return folder + "/" + stem + suffix + (extension.empty() ? "" : "." + extension);
    };
    for (int n = 1; n <= 999; ++n) {
        const std::string option = candidate(n == 1 ? " (restored)" : " (restored " + std::to_string(n) + ")");
        struct stat status {};
        if (::lstat(option.c_str(), &status) != 0 && errno == ENOENT) return option;
    }
    return candidate(" (restored " + Uuid::random().text().substr(0, 6) + ")");
}

} // namespace vp::Restorer
