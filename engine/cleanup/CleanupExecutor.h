// Carries out an approved plan on folder pictures: each picture is checked once more against
// its scan-time snapshot and its keepers immediately before it moves, and it moves to the Trash,
// never anywhere else. Every step is journaled before and after the move, and the report is
// read back from the journal, so the report and the record that survives a crash are one.
#pragma once

#include "CleanupJournal.h"
#include "CleanupPlan.h"
#include "CleanupReport.h"
#include "Trasher.h"

#include "engine/common/Result.h"
#include "engine/scan/CancellationFlag.h"
#include "engine/scan/FileSnapshot.h"
#include "platform/FileLock.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace vp {

/// Why a whole cleanup did not start, or could not be read back.
struct ExecutionRefusal {
    enum class Kind {
        journalUnavailable,
        approvalDoesNotMatch,
        alreadyRun,
        libraryPhotos,
        lightroomPhotos,
        captureOnePhotos,
        anotherCleanupRunning, ///< another process holds the Trash work
    };

    Kind kind = Kind::approvalDoesNotMatch;
    std::string detail; ///< journalUnavailable only

    static ExecutionRefusal journalUnavailable(std::string detail) { return {Kind::journalUnavailable, std::move(detail)}; }
    static ExecutionRefusal of(Kind kind) { return {kind, {}}; }

    /// One sentence, shown as it stands.
    std::string description() const;

    bool operator==(const ExecutionRefusal&) const = default;
};

class CleanupExecutor {
public:
    /// Held while a cleanup runs or a picture is put back.
    using TrashWork = FileLock;

    /// Called after each picture with the number handled so far, on the executing thread.
    using Progress = std::function<void(std::int64_t handled)>;

    /// `journalDirectory` is made when missing; `trasher` must not be null.
    CleanupExecutor(std::string journalDirectory, std::shared_ptr<Trasher> trasher)
        : journalDirectory(std::move(journalDirectory)), trasher(std::move(trasher)) {}

    std::string journalDirectory;
    std::shared_ptr<Trasher> trasher;

    /// Runs the plan once, synchronously, on the calling thread. Refused before anything is
    /// checked when the approval is for another plan, when the plan holds pictures of a photo
    /// library or catalog, when the plan has run before (its journal exists) or while another
    /// process works in the Trash. The journal stays locked while the plan runs. `cancel` is read
    /// once per picture, before the picture is checked; every picture after it is recorded as
    /// skipped and the report is complete all the same.
    Result<CleanupReport, ExecutionRefusal> execute(const CleanupPlan& plan, const CleanupApproval& approval,
                                                    const CancellationFlag& cancel, const Progress& progress = {}) const;

    /// None when the picture may move now, else the sentence saying why not. `trashed` holds the
    /// identities this run has already moved, so a keeper moved earlier never counts as kept.
    static std::optional<std::string> check(const PlannedRemoval& removal, const CleanupPlan& plan,
                                            const std::set<FileIdentity>& trashed, const CancellationFlag* cancel);

    /// The sentence for a move that failed with this error number.
    static std::string explain(int errorNumber);
    /// The same for an error a trasher threw: its error number when it carries one.
    static std::string explain(const std::exception& error);
    /// What a trasher's refusal means for the picture: skipped when nothing of it moved,
    /// unknown when another file is stranded in the Trash, failed when the Trash is unusable.
    static ItemOutcome outcome(const TrashRefusal& refusal);

    /// The lock file, inside the journal folder, held by whichever process moves pictures to or
    /// from the Trash, so that two cleanups never judge keepers against each other's moves.
    static std::string trashWorkLock(const std::string& journalDirectory);

    static constexpr std::string_view cancelledSentence = "Cancelled before this picture was reached.";
    static constexpr std::string_view outsideSentence = "Outside the folders you chose.";
    static constexpr std::string_view folderAliasSentence = "A folder on the way to it was replaced with an alias since the scan.";
    static constexpr std::string_view goneSentence = "No longer where it was \u2014 moved, deleted, or its drive was disconnected.";
    static constexpr std::string_view aliasSentence = "Replaced with an alias since the scan.";
    static constexpr std::string_view cloudSentence =
        "Its contents moved to the cloud since the scan, so it was not downloaded to check it.";
    static constexpr std::string_view changedSentence = "Changed since the scan. Scan again to review it.";
    static constexpr std::string_view hardLinkSentence =
        "Now has another name on disk (a hard link), so moving it would free nothing.";
    static constexpr std::string_view readOnlySentence = "The drive is read-only, so nothing was moved.";
    static constexpr std::string_view strandedSentence =
        "Another file took its place while it was being moved, and that file is now in the Trash at ";
    static constexpr std::string_view disappearedSentence =
        "It disappeared before it could be moved \u2014 perhaps the drive was disconnected.";
};

} // namespace vp
