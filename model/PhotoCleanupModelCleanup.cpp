// The model's cleanup flows: marks to a plan, the approved plan to the Trash, the history of
// cleanups from their journals, interrupted cleanups reconciled at start-up, and putting back.
#include "PhotoCleanupModel.h"

#include "engine/cleanup/CleanupJournal.h"
#include "engine/cleanup/CleanupPlanner.h"
#include "engine/cleanup/TrashLocation.h"
#include "engine/library/LibrarySource.h"
#include "engine/scan/ContentReader.h"

#include <chrono>

namespace vp {

void PhotoCleanupModel::recoverInterruptedCleanups() {
    for (const auto& journal : CleanupJournal::unfinished(m_folders.cleanups()))
        if (auto report = CleanupJournal::reconcile(journal); report && !report->items.empty())
            m_recovered.push_back(std::move(*report));
    m_history = CleanupJournal::history(m_folders.cleanups());
}

void PhotoCleanupModel::reloadHistory() {
    m_history = CleanupJournal::history(m_folders.cleanups());
    changed();
}

void PhotoCleanupModel::review() {
    if (!m_session) return;
    auto plan = CleanupPlanner::plan(*m_session, std::chrono::system_clock::now());
    if (plan) {
        m_pendingPlan = std::move(*plan);
        setNotice(std::nullopt);
    } else {
        m_pendingPlan.reset();
        setNotice(plan.error().description());
    }
    changed();
}

void PhotoCleanupModel::confirmAndExecute(CleanupPlan plan) {
    if (m_phase == Phase::executing || m_phase == Phase::scanning) return;
    // Library pictures are never moved: they go into the review album instead.
    if (!plan.removals.empty() && LibrarySource::isLibraryPath(plan.removals.front().path)) return confirmAddToAlbum(plan);
    m_pendingPlan.reset();
    const CleanupApproval approval = plan.approve(std::chrono::system_clock::now());
    const auto flag = std::make_shared<CancellationFlag>();
    m_cancelFlag = flag;
    m_phase = Phase::executing;
    m_executionProgress = 0;
    std::weak_ptr<int> alive = m_alive;
    const CleanupExecutor executor(m_folders.cleanups(), m_trasher);
    runInBackground([this, alive, flag, executor, plan, approval] {
        auto outcome = executor.execute(plan, approval, *flag, [&](std::int64_t handled) {
            m_mainQueue.post([this, alive, handled] {
                if (alive.expired()) return;
                m_executionProgress = handled;
                changed();
            });
        });
        m_mainQueue.post([this, alive, outcome = std::move(outcome)]() mutable {
            if (alive.expired()) return;
            finishExecution(std::move(outcome));
        });
    });
    changed();
}

void PhotoCleanupModel::finishExecution(Result<CleanupReport, ExecutionRefusal> outcome) {
    if (outcome) {
        m_report = std::move(*outcome);
        if (m_report->moved() > 0 && m_host.cleanupFinished) m_host.cleanupFinished();
    } else {
        setNotice(outcome.error().description());
    }
    m_history = CleanupJournal::history(m_folders.cleanups());
    // What is left is scanned again; the marks of pictures still there are carried into it.
    m_phase = m_result ? Phase::results : Phase::idle;
    changed();
    scan();
}

std::int64_t PhotoCleanupModel::notIdentical(const CleanupPlan& plan) const {
    std::int64_t count = 0;
    for (const auto& removal : plan.removals) {
        if (removal.kind() == MatchKind::identical) continue; // compared byte by byte when scanned
        const bool identical = std::any_of(removal.keepers.begin(), removal.keepers.end(), [&](const KeeperEvidence& keeper) {
            const auto same = ContentReader::sameBytes(removal.path, removal.snapshot, keeper.path, keeper.snapshot, nullptr);
            return same.hasValue() && same.value();
        });
        if (!identical) ++count;
    }
    return count;
}

std::optional<std::string> PhotoCleanupModel::showInTrash(const ItemReport& item) const {
    // A desktop front end hands this place to the file manager; the terminal prints it.
    return TrashLocation::find(item.removal.snapshot.identity, TrashLocation::candidates(item.removal.path));
}

RestoreOutcome PhotoCleanupModel::putBack(const CleanupReport& report, const ItemReport& item, bool beside) {
    const auto destination = beside ? std::optional<std::string>(Restorer::alternativePath(item.removal.path))
                                    : std::nullopt;
    const RestoreOutcome outcome = Restorer::restore(item, report.journalPath, destination);
    reloadHistory();
    return outcome;
}

} // namespace vp
