#include "CleanupExecutor.h"

#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "engine/scan/ContentReader.h"
#include "platform/SystemError.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace vp {

std::string ExecutionRefusal::description() const {
    switch (kind) {
    case Kind::journalUnavailable: return "The cleanup record could not be written, so nothing was moved: " + detail;
    case Kind::approvalDoesNotMatch: return "This approval is for a different set of pictures. Review them again.";
    case Kind::alreadyRun: return "These pictures were already handled once. Scan again to review what is left.";
    case Kind::libraryPhotos:
        return "Photos in the Photos library are never moved to the Trash from here. Add them to the review album "
               "instead.";
    case Kind::lightroomPhotos:
        return "Photos in a Lightroom Classic catalog are never moved to the Trash from here. Mark them Rejected in "
               "Lightroom instead.";
    case Kind::captureOnePhotos:
        return "Photos in a Capture One catalog are never moved to the Trash from here. Tag them Red in Capture One "
               "instead.";
    case Kind::anotherCleanupRunning:
        return "Another cleanup is moving pictures right now, so nothing was moved. Try again when it has finished.";
    }
    return {};
}

namespace {

Timestamp now() { return std::chrono::system_clock::now(); }

/// Same file, same size, same modification time, same type as the evidence, and neither a link.
bool standsAsScanned(const FileSnapshot& current, const FileSnapshot& evidence) {
    return !current.isSymbolicLink && !evidence.isSymbolicLink && current.identity == evidence.identity &&
           current.size == evidence.size && current.modifiedSeconds == evidence.modifiedSeconds &&
           current.modifiedNanoseconds == evidence.modifiedNanoseconds &&
           current.isRegularFile == evidence.isRegularFile;
}

/// A keeper passes (none) or leaves the one word that says why it does not count. A second
/// answer, the cancel sentence, stops the check when the comparison was cancelled.
struct KeeperVerdict {
    bool passes = false;
    std::string state;
    bool cancelled = false;
};

KeeperVerdict judgeKeeper(const KeeperEvidence& keeper, const PlannedRemoval& removal, const FileSnapshot& fresh,
                          const std::set<FileIdentity>& trashed, const CancellationFlag* cancel) {
    // A keeper this run has already moved is gone for a reason the person should read as
    // such, not as "missing".
    if (trashed.contains(keeper.snapshot.identity)) return {false, "moved"};
    const auto current = FileSnapshot::read(keeper.path);
    if (!current) return {false, "missing"};
    const bool exact = removal.kind() == MatchKind::identical;
    const bool movedAway = trashed.contains(current->identity) || current->identity == removal.snapshot.identity;
    if (!exact) {
        if (!standsAsScanned(*current, keeper.snapshot)) return {false, "changed"};
        return movedAway ? KeeperVerdict{false, "moved"} : KeeperVerdict{true, {}};
    }
    if (!standsAsScanned(*current, keeper.snapshot)) return {false, "changed"};
    if (current->isDataless()) return {false, "only in the cloud"};
    if (movedAway) return {false, "moved"};
    const auto same = ContentReader::sameBytes(removal.path, fresh, keeper.path, *current, cancel);
    if (!same) {
        switch (same.error().kind) {
        case ContentReader::Failure::Kind::unreadable: return {false, "unreadable"};
        case ContentReader::Failure::Kind::changed: return {false, "changed"};
        case ContentReader::Failure::Kind::cancelled: return {false, {}, true};
        }
    }
    return *same ? KeeperVerdict{true, {}} : KeeperVerdict{false, "no longer identical"};
}

} // namespace

std::optional<std::string> CleanupExecutor::check(const PlannedRemoval& removal, const CleanupPlan& plan,
                                                  const std::set<FileIdentity>& trashed, const CancellationFlag* cancel) {
    // A path with "." or ".." components could begin with a chosen folder and still lead out of it.
    const bool tidy = PathRules::standardized(removal.path) == removal.path;
    const bool inChosen = std::any_of(plan.roots.begin(), plan.roots.end(),
                                      [&](const std::string& root) { return PathRules::isInside(removal.path, root); });
    if (!tidy || !inChosen || !PathRules::isInside(removal.path, removal.root)) return std::string(outsideSentence);
    if (!PathRules::parentHasNoLinks(removal.path)) return std::string(folderAliasSentence);

    const auto fresh = FileSnapshot::read(removal.path);
    if (!fresh) return std::string(goneSentence);
    if (fresh->isSymbolicLink) return std::string(aliasSentence);
    if (fresh->isDataless()) return std::string(cloudSentence);
    const FileSnapshot& planned = removal.snapshot;
    if (!fresh->isRegularFile || !planned.isRegularFile || planned.isSymbolicLink || fresh->identity != planned.identity ||
        fresh->size != planned.size || fresh->modifiedSeconds != planned.modifiedSeconds ||
        fresh->modifiedNanoseconds != planned.modifiedNanoseconds)
        return std::string(changedSentence);
    if (fresh->linkCount >= 2) return std::string(hardLinkSentence);

    std::set<std::string> states;
    for (const KeeperEvidence& keeper : removal.keepers) {
        const KeeperVerdict verdict = judgeKeeper(keeper, removal, *fresh, trashed, cancel);
        if (verdict.cancelled) return std::string(cancelledSentence);
        if (verdict.passes) return std::nullopt;
        states.insert(verdict.state);
    }
    const std::string list = joined({states.begin(), states.end()}, ", ");
    if (removal.kind() == MatchKind::identical)
        return "No unchanged identical copy is left to keep (the kept copies are " + list + "). Scan again.";
    return "None of the pictures you kept from its group is still there unchanged (they are " + list + "). Scan again.";
}

std::string CleanupExecutor::explain(int errorNumber) {
    if (errorNumber == EROFS) return std::string(readOnlySentence);
    if (errorNumber == ENOENT || errorNumber == ENOTDIR) return std::string(disappearedSentence);
    return "The system would not move it to the Trash (" + systemErrorText(errorNumber) +
           "). It was left where it was; nothing was deleted.";
}

std::string CleanupExecutor::explain(const std::exception& error) {
    if (const auto* system = dynamic_cast<const std::system_error*>(&error);
        system != nullptr && (system->code().category() == std::generic_category() ||
                              system->code().category() == std::system_category()))
        return explain(system->code().value());
    return "The system would not move it to the Trash (" + std::string(error.what()) +
           "). It was left where it was; nothing was deleted.";
}

ItemOutcome CleanupExecutor::outcome(const TrashRefusal& refusal) {
    switch (refusal.kind()) {
    case TrashRefusal::Kind::folderReplaced: return ItemOutcome::skipped(std::string(folderAliasSentence));
    case TrashRefusal::Kind::changed: return ItemOutcome::skipped(std::string(changedSentence));
    case TrashRefusal::Kind::stranded:
        return ItemOutcome::unknown(std::string(strandedSentence) + refusal.where() + ". The picture you planned was not moved.");
    case TrashRefusal::Kind::trashUnavailable:
        return ItemOutcome::failed("The Trash at " + refusal.where() + " cannot take it (" + refusal.reason() +
                                   "). It was left where it was; nothing was deleted.");
    }
    return ItemOutcome::failed(explain(refusal));
}

std::string CleanupExecutor::trashWorkLock(const std::string& journalDirectory) {
    return journalDirectory + "/trash-work.lock";
}

Result<CleanupReport, ExecutionRefusal> CleanupExecutor::execute(const CleanupPlan& plan, const CleanupApproval& approval,
                                                                 const CancellationFlag& cancel,
                                                                 const Progress& progress) const {
    using Kind = ExecutionRefusal::Kind;
    if (approval.planID != plan.id) return Unexpected{ExecutionRefusal::of(Kind::approvalDoesNotMatch)};
    const auto& removals = plan.removals;
    if (std::any_of(removals.begin(), removals.end(), [](const auto& r) { return startsWith(r.path, "photos-library:"); }))
        return Unexpected{ExecutionRefusal::of(Kind::libraryPhotos)};
    if (std::any_of(removals.begin(), removals.end(), [](const auto& r) { return r.lightroomImageID.has_value(); }))
        return Unexpected{ExecutionRefusal::of(Kind::lightroomPhotos)};
    if (std::any_of(removals.begin(), removals.end(), [](const auto& r) { return r.captureOneImageID.has_value(); }))
        return Unexpected{ExecutionRefusal::of(Kind::captureOnePhotos)};

    const std::string url = CleanupJournal::pathFor(journalDirectory, plan.id);
    struct stat existing {};
    if (::lstat(url.c_str(), &existing) == 0) return Unexpected{ExecutionRefusal::of(Kind::alreadyRun)};

    std::error_code folderError;
    std::filesystem::create_directories(journalDirectory, folderError);
    // One process at a time moves pictures: keepers are judged against every move made so far.
    const std::string lockPath = trashWorkLock(journalDirectory);
    const auto trashWork = FileLock::tryExclusive(lockPath);
    if (trashWork.busy()) return Unexpected{ExecutionRefusal::of(Kind::anotherCleanupRunning)};
    // A journal folder that cannot be made is told by the journal's own error below.
    if (!trashWork.lock && !folderError)
        return Unexpected{ExecutionRefusal::journalUnavailable(systemErrorText(trashWork.error) + " (" + lockPath + ")")};

    std::optional<CleanupJournal> journal;
    try {
        journal.emplace(plan, journalDirectory);
    } catch (const JournalError& error) {
        if (error.code() == EEXIST) return Unexpected{ExecutionRefusal::of(Kind::alreadyRun)};
        return Unexpected{ExecutionRefusal::journalUnavailable(error.what())};
    }

    // Entries written after a picture has moved (or instead of moving it) may fail: the move
    // cannot be undone here, and reconciliation will find the picture by its identity.
    const auto record = [&](const std::string& itemID, const ItemOutcome& outcome) {
        try {
            journal->write(CleanupJournal::Entry::outcomeEntry(itemID, outcome, now()));
        } catch (const JournalError&) {
        }
    };

    std::set<FileIdentity> trashed;
    std::set<std::string> handled;
    std::int64_t count = 0;
    for (const PlannedRemoval& removal : removals) {
        // The journal speaks of a picture by its path; a path listed twice has its entry already.
        if (handled.insert(removal.path).second) {
            if (cancel.isCancelled()) {
                record(removal.path, ItemOutcome::skipped(std::string(cancelledSentence)));
            } else if (auto reason = check(removal, plan, trashed, &cancel)) {
                record(removal.path, ItemOutcome::skipped(std::move(*reason)));
            } else {
                bool intentWritten = true;
                try {
                    journal->write(CleanupJournal::Entry::intent(removal.path, now()));
                } catch (const JournalError&) {
                    // No picture moves without its intent on disk.
                    intentWritten = false;
                }
                if (intentWritten) {
                    ItemOutcome outcome;
                    try {
                        outcome = ItemOutcome::movedToTrash(trasher->trashChecked(removal.path, removal.snapshot.identity));
                        trashed.insert(removal.snapshot.identity);
                    } catch (const TrashRefusal& refusal) {
                        outcome = CleanupExecutor::outcome(refusal);
                    } catch (const std::exception& error) {
                        outcome = ItemOutcome::failed(explain(error));
                    } catch (...) {
                        outcome = ItemOutcome::failed(explain(std::runtime_error("an unknown error")));
                    }
                    record(removal.path, outcome);
                }
            }
        }
        if (progress) progress(++count);
    }

    try {
        journal->write(CleanupJournal::Entry::finished(now()));
    } catch (const JournalError&) {
    }
    journal.reset();

    auto report = CleanupJournal::report(url);
    if (!report) return Unexpected{ExecutionRefusal::journalUnavailable("the record could not be read back")};
    return std::move(*report);
}

} // namespace vp
