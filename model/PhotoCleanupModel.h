// The one model the front ends drive: the chosen folders and settings, scans in the background,
// the groups of the chosen mode, and the review's marks and locks. Every operation and every
// change of state happens on the main thread (the thread that drains the main queue); long work
// runs on background threads and posts its progress and result back.
#pragma once

#include "AppFolders.h"
#include "MainQueue.h"
#include "ModelTypes.h"
#include "PhotoCleanupHost.h"
#include "Settings.h"

#include "engine/review/KeeperPolicy.h"
#include "engine/review/LockStore.h"
#include "engine/review/ReviewSession.h"
#include "engine/scan/CancellationFlag.h"
#include "engine/scan/ScanProgress.h"
#include "engine/scan/ScanResult.h"
#include "engine/similarity/FeatureCache.h"
#include "engine/similarity/SimilarityIndex.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace vp {

class PhotoCleanupModel {
public:
    /// Restores the settings; a folder that is gone and a settings file that could not be used
    /// are told in `notice`.
    PhotoCleanupModel(PhotoCleanupHost host, AppFolders folders, MainQueue& mainQueue);
    /// Cancels background work and waits for it.
    ~PhotoCleanupModel();
    PhotoCleanupModel(const PhotoCleanupModel&) = delete;
    PhotoCleanupModel& operator=(const PhotoCleanupModel&) = delete;

    // ---- Published state
    const PhotoCleanupHost& host() const { return m_host; }
    const AppFolders& folders() const { return m_folders; }
    const std::vector<PhotoSource>& sources() const { return m_sources; }
    Scope scope() const { return m_scope; }
    Phase phase() const { return m_phase; }
    const ScanProgress& progress() const { return m_progress; }
    /// (done, total) of the measuring and face stages.
    std::pair<std::int64_t, std::int64_t> stepProgress() const { return m_stepProgress; }
    const std::optional<ScanResult>& result() const { return m_result; }
    const std::shared_ptr<const SimilarityIndex>& similarity() const { return m_similarity; }
    bool measuresEverything() const { return m_measuresEverything; }
    const std::map<Mode, std::int64_t>& counts() const { return m_counts; }
    const std::optional<std::string>& notice() const { return m_notice; }
    Mode mode() const { return m_mode; }
    SimilarityPreset preset() const { return m_preset; }
    const std::vector<KeeperPolicy::Priority>& priorities() const { return m_priorities; }
    const std::optional<ReviewSession>& session() const { return m_session; }
    const std::map<std::string, std::string>& hints() const { return m_hints; }
    const std::map<std::string, std::int64_t>& qualityScores() const { return m_qualityScores; }
    const std::map<std::string, std::string>& faceNotes() const { return m_faceNotes; }

    // ---- Change notification: one mechanism for every view.
    using Observer = std::function<void()>;
    /// `observer` is called on the main thread after every change; returns a token for `unobserve`.
    std::size_t observe(Observer observer);
    void unobserve(std::size_t token);

    // ---- Sources
    /// Adds folders (existing, scannable, not yet listed), saves them and scans when possible.
    void add(const std::vector<std::string>& paths);
    void remove(const std::string& path);
    void setProtected(const std::string& path, bool isProtected);
    void setScope(Scope scope);

    // ---- Scanning
    bool canScan() const;
    void scan(std::optional<std::int64_t> downloadLimit = std::nullopt);
    void setMeasuresEverything(bool measures);
    void invalidateResults();

    // ---- Review
    std::vector<DuplicateGroup> currentGroups() const { return groups(m_mode); }
    void setMode(Mode mode);
    void setPreset(SimilarityPreset preset);
    void setPriorities(std::vector<KeeperPolicy::Priority> priorities);
    void toggleMark(const std::string& path);
    void toggleLock(const std::string& path);
    /// One group by its id, or every group.
    void markSuggested(const std::optional<std::string>& groupID = std::nullopt);
    void clearMarks(const std::optional<std::string>& groupID = std::nullopt);

    struct IdenticalCopies {
        std::int64_t count = 0;       ///< members that are byte-identical to another member
        bool allOnePicture = false;   ///< every member is a copy of one file
        bool operator==(const IdenticalCopies&) const = default;
    };
    IdenticalCopies identicalCopies(const DuplicateGroup& group) const;

private:
    struct ScanOutcome;

    std::vector<DuplicateGroup> groups(Mode mode) const;
    void finishScan(ScanOutcome outcome, std::optional<ReviewSession> previous);
    void recount();
    void regroup(const std::optional<ReviewSession>& previous);
    void saveSources();
    void store(const std::string& key, Json value);
    void setNotice(std::optional<std::string> notice);
    void changed();
    std::set<std::string> protectedRoots() const;
    bool needsSimilarity() const;

    PhotoCleanupHost m_host;
    AppFolders m_folders;
    MainQueue& m_mainQueue;
    Settings m_settings;
    std::shared_ptr<LockStore> m_locks;
    std::shared_ptr<FeatureCache> m_featureCache;

    std::vector<PhotoSource> m_sources;
    Scope m_scope = Scope::folders;
    Phase m_phase = Phase::idle;
    ScanProgress m_progress;
    std::pair<std::int64_t, std::int64_t> m_stepProgress{0, 0};
    std::optional<ScanResult> m_result;
    std::shared_ptr<const SimilarityIndex> m_similarity;
    bool m_measuresEverything = false;
    std::map<Mode, std::int64_t> m_counts;
    std::optional<std::string> m_notice;
    Mode m_mode = Mode::exact;
    SimilarityPreset m_preset = SimilarityPreset::balanced;
    std::vector<KeeperPolicy::Priority> m_priorities;
    std::optional<ReviewSession> m_session;
    std::map<std::string, std::string> m_hints;
    std::map<std::string, std::int64_t> m_qualityScores;
    std::map<std::string, std::string> m_faceNotes;

    SharedCancellationFlag m_cancelFlag;
    struct BackgroundTask {
        std::shared_ptr<std::atomic<bool>> done;
        std::jthread thread;
    };
    std::vector<BackgroundTask> m_background;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0); // posted work checks the model is still there
    std::map<std::size_t, Observer> m_observers;
    std::size_t m_nextObserver = 1;
};

} // namespace vp
