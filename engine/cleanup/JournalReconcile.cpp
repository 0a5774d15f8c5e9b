// Settling a journal that stops in the middle: each picture without an outcome is looked for
// where it was and in the Trash, by the device and inode it had when planned.
#include "CleanupJournal.h"
#include "TrashLocation.h"

namespace vp {

std::optional<CleanupReport> CleanupJournal::reconcile(const std::string& url) {
    return reconcile(url, TrashLocation::candidates);
}

std::optional<CleanupReport> CleanupJournal::reconcile(const std::string& url, const TrashFolders& trashFolders) {
    const auto parsed = parse(url);
    if (!parsed) return std::nullopt;

    std::set<std::string> settled;
    for (const PlannedRemoval& removal : parsed->plan.removals) {
        if (parsed->outcomes.contains(removal.path) || !settled.insert(removal.path).second) continue;
        ItemOutcome outcome = ItemOutcome::skipped(std::string(notAttempted));
        if (parsed->intents.contains(removal.path)) {
            const auto fresh = FileSnapshot::read(removal.path);
            if (fresh && fresh->identity == removal.snapshot.identity) {
                outcome = ItemOutcome::skipped(std::string(stillInPlace));
            } else if (auto found = TrashLocation::find(removal.snapshot.identity, trashFolders(removal.path))) {
                outcome = ItemOutcome::movedToTrash(std::move(found));
            } else {
                outcome = ItemOutcome::unknown(std::string(lostWhileMoving));
            }
        }
        try {
            append(removal.path, outcome, url);
        } catch (const JournalError&) {
            // Unrecorded, the picture is simply worked out again next time.
        }
    }
    if (!parsed->finished) {
        try {
            openForAppending(url).write(Entry::finished(std::chrono::system_clock::now()));
        } catch (const JournalError&) {
        }
    }

    auto result = report(url);
    if (result) result->reconciled = true;
    return result;
}

} // namespace vp
