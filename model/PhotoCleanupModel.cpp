#include "PhotoCleanupModel.h"

#include "engine/catalogs/CaptureOneScanner.h"
#include "engine/catalogs/LightroomScanner.h"
#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "engine/scan/ExactMatcher.h"
#include "engine/scan/FolderSource.h"
#include "engine/similarity/QualityHints.h"
#include "engine/similarity/SimilarityMatcher.h"

#include <algorithm>
#include <sys/stat.h>

namespace vp {

namespace {

constexpr double seriesWindowSeconds = 3.0;

const char* const sourcesKey = "photoCleanup.sources";
const char* const protectedKey = "photoCleanup.protected";
const char* const scopeKey = "photoCleanup.scope";
const char* const presetKey = "photoCleanup.preset";
const char* const prioritiesKey = "photoCleanup.priorities";
const char* const prioritiesRevisionKey = "photoCleanup.prioritiesRevision";

bool isFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string notAFolder(const std::string& path) { return lastPathComponent(path) + " is not a folder"; }

/// A catalog read again and scanned; a catalog that cannot be read is the sentence that says why.
template <class ReadAndScan>
std::function<Result<ScanResult, std::string>(const CancellationFlag&, const ScanProgressCallback&)>
catalogStage(std::string url, bool measure, ReadAndScan readAndScan) {
    return [url = std::move(url), measure, readAndScan](const CancellationFlag& cancel,
                                                        const ScanProgressCallback& progress) -> Result<ScanResult, std::string> {
        try {
            return readAndScan(url, measure, cancel, progress);
        } catch (const CatalogReadError& error) {
            return Unexpected{error.description()};
        }
    };
}

} // namespace

PhotoCleanupModel::PhotoCleanupModel(PhotoCleanupHost host, AppFolders folders, MainQueue& mainQueue,
                                     std::shared_ptr<Trasher> trasher)
    : m_host(std::move(host)), m_folders(std::move(folders)), m_mainQueue(mainQueue),
      m_settings(m_folders.settingsFile()),
      m_locks(std::make_shared<LockStore>(m_folders.locksFile())),
      m_featureCache(std::make_shared<FeatureCache>(m_folders.featuresFile())),
      m_scanCache(std::make_shared<ScanCache>(m_folders.scanCacheFile())),
      m_trasher(trasher ? std::move(trasher) : std::make_shared<FileManagerTrasher>()) {
    // Stored state that was damaged or could not be read is told, never dropped in silence.
    for (const auto* problem : {&m_settings.problem(), &m_locks->problem()})
        if (*problem) m_notice = m_notice ? *m_notice + " " + **problem : **problem;

    const auto protectedPaths = m_settings.strings(protectedKey);
    for (const auto& path : m_settings.strings(sourcesKey)) {
        if (!isFolder(path)) {
            m_notice = notAFolder(path);
            continue;
        }
        const PreparedRoots prepared = FolderSource::prepare({path});
        if (prepared.roots.empty()) continue;
        const bool isProtected = std::find(protectedPaths.begin(), protectedPaths.end(), path) != protectedPaths.end();
        m_sources.push_back(PhotoSource::at(prepared.roots.front(), isProtected));
    }
    if (const auto scope = m_settings.string(scopeKey)) m_scope = enumFromRaw<Scope>(*scope).value_or(Scope::folders);
    if (const auto preset = m_settings.string(presetKey))
        m_preset = enumFromRaw<SimilarityPreset>(*preset).value_or(SimilarityPreset::balanced);

    const auto stored = m_settings.strings(prioritiesKey);
    if (stored.empty()) {
        m_priorities.assign(KeeperPolicy::standard.begin(), KeeperPolicy::standard.end());
    } else {
        std::vector<KeeperPolicy::Priority> list;
        for (const auto& raw : stored)
            if (const auto priority = enumFromRaw<KeeperPolicy::Priority>(raw)) list.push_back(*priority);
        m_priorities = KeeperPolicy::upgraded(std::move(list), m_settings.integer(prioritiesRevisionKey).value_or(1));
    }
    restoreCatalogs();
    recoverInterruptedCleanups();
    restoreLibrary();
    recoverInterruptedCompressions();
}

PhotoCleanupModel::~PhotoCleanupModel() {
    if (m_cancelFlag) m_cancelFlag->cancel();
    for (const auto& flag : {m_media.scanCancel, m_media.compressCancel, m_images.scanCancel})
        if (flag) flag->cancel();
    m_alive.reset();
    m_background.clear(); // joins
}

std::size_t PhotoCleanupModel::observe(Observer observer) {
    const std::size_t token = m_nextObserver++;
    m_observers.emplace(token, std::move(observer));
    return token;
}

void PhotoCleanupModel::unobserve(std::size_t token) { m_observers.erase(token); }

void PhotoCleanupModel::changed() {
    const auto observers = m_observers; // an observer may unobserve itself
    for (const auto& [token, observer] : observers) observer();
}

void PhotoCleanupModel::setNotice(std::optional<std::string> notice) { m_notice = std::move(notice); }

void PhotoCleanupModel::store(const std::string& key, Json value) {
    if (m_transient) return; // this session's choices stay with it
    m_settings.set(key, std::move(value));
    if (const auto failure = m_settings.save()) m_notice = "The settings could not be saved: " + *failure;
}

void PhotoCleanupModel::saveSources() {
    Json paths = Json::array(), protectedPaths = Json::array();
    for (const auto& source : m_sources) {
        paths.push_back(source.path);
        if (source.isProtected) protectedPaths.push_back(source.path);
    }
    store(sourcesKey, paths);
    store(protectedKey, protectedPaths);
}

std::set<std::string> PhotoCleanupModel::protectedRoots() const {
    std::set<std::string> roots;
    for (const auto& source : m_sources)
        if (source.isProtected) roots.insert(source.path);
    return roots;
}

// ---- Sources

void PhotoCleanupModel::add(const std::vector<std::string>& paths) {
    bool added = false;
    for (const auto& path : paths) {
        if (!isFolder(path)) {
            setNotice(notAFolder(path));
            continue;
        }
        const PreparedRoots prepared = FolderSource::prepare({path});
        if (prepared.roots.empty()) {
            if (!prepared.refused.empty()) setNotice(prepared.refused.front().detail);
            continue;
        }
        const std::string& root = prepared.roots.front();
        const bool listed = std::any_of(m_sources.begin(), m_sources.end(),
                                        [&](const PhotoSource& source) { return source.path == root; });
        if (listed) continue;
        m_sources.push_back(PhotoSource::at(root, false));
        added = true;
    }
    if (added) {
        saveSources();
        invalidateResults();
        if (canScan()) scan();
    }
    changed();
}

void PhotoCleanupModel::remove(const std::string& path) {
    const auto found = std::find_if(m_sources.begin(), m_sources.end(),
                                    [&](const PhotoSource& source) { return source.path == path; });
    if (found == m_sources.end()) return;
    m_sources.erase(found);
    saveSources();
    invalidateResults();
    changed();
}

void PhotoCleanupModel::setProtected(const std::string& path, bool isProtected) {
    const auto found = std::find_if(m_sources.begin(), m_sources.end(),
                                    [&](const PhotoSource& source) { return source.path == path; });
    if (found == m_sources.end()) return;
    found->isProtected = isProtected;
    saveSources();
    if (m_session) {
        m_session->protectedRoots = protectedRoots();
        if (isProtected) {
            const auto marks = m_session->marks();
            for (const auto& marked : marks)
                if (PathRules::isInside(marked, path)) m_session->unmark(marked);
        }
    }
    changed();
}

void PhotoCleanupModel::setScope(Scope scope) {
    if (scope == m_scope) return;
    m_scope = scope;
    store(scopeKey, std::string(rawValue(scope)));
    invalidateResults();
    if (scope == Scope::lightroom) readLightroomCatalog();
    if (scope == Scope::captureOne) readCaptureOneCatalog();
    if (scope == Scope::photosLibrary) restoreLibrary();
    if (canScan()) scan();
    changed();
}

// ---- Cleanup

void PhotoCleanupModel::stopAfterThisOne() {
    // While a cleanup runs, the flag is the executor's: it reads it once before each picture.
    if (m_phase == Phase::executing && m_cancelFlag) m_cancelFlag->cancel();
}

// ---- Scanning

bool PhotoCleanupModel::canScan() const {
    if (m_phase == Phase::scanning || m_phase == Phase::executing) return false;
    switch (m_scope) {
    case Scope::folders: return !m_sources.empty();
    case Scope::lightroom: return m_lightroom.catalog.has_value();
    case Scope::captureOne: return m_captureOne.catalog.has_value();
    case Scope::photosLibrary: return canScanLibrary();
    }
    return false;
}

bool PhotoCleanupModel::needsSimilarity() const { return m_mode != Mode::exact || m_measuresEverything; }

void PhotoCleanupModel::setMeasuresEverything(bool measures) {
    m_measuresEverything = measures;
    changed();
}

void PhotoCleanupModel::scan(std::optional<std::int64_t> downloadLimit) {
    if (!canScan()) return;
    if (m_cancelFlag) m_cancelFlag->cancel(); // a late result of an abandoned scan is never applied
    const auto flag = std::make_shared<CancellationFlag>();
    m_cancelFlag = flag;
    std::optional<ReviewSession> previous = m_session;
    m_phase = Phase::scanning;
    m_progress = ScanProgress{};
    m_stepProgress = {0, 0};

    const ExactStage exact = exactStage();
    const bool measure = needsSimilarity();
    std::weak_ptr<int> alive = m_alive;
    // Posted work runs on the main thread only while this model and this scan are current.
    auto onMain = [this, alive, flag](std::function<void()> work) {
        m_mainQueue.post([this, alive, flag, work = std::move(work)] {
            if (alive.expired() || flag != m_cancelFlag) return;
            work();
        });
    };
    auto cache = m_featureCache;
    // The library is read through its own gateway, with its previews for the measuring.
    auto library = m_scope == Scope::photosLibrary ? libraryScan(downloadLimit) : std::optional<LibraryScan>();
    runInBackground([exact, measure, flag, cache, onMain, library, previous = std::move(previous), this]() mutable {
        const auto report = [&](const ScanProgress& progress) {
            onMain([this, progress] {
                m_progress = progress;
                changed();
            });
        };
        const auto step = [&](ScanProgress::Stage stage) {
            return [&, stage](std::int64_t done, std::int64_t total) {
                onMain([this, stage, done, total] {
                    m_progress.stage = stage;
                    m_stepProgress = {done, total};
                    changed();
                });
            };
        };
        ScanOutcome outcome;
        outcome.measured = measure;
        auto found = library ? Result<ScanResult, std::string>(library->scan(measure, *flag, report)) : exact(*flag, report);
        if (!found) {
            onMain([this, message = found.error()] { failScan(message); });
            return;
        }
        outcome.result = std::move(*found);
        if (measure && !outcome.result.cancelled) {
            outcome.index = SimilarityMatcher::index(outcome.result.pictures, cache.get(), WithFeaturePrint::yes,
                                                     library ? library->features : nullptr, *flag,
                                                     step(ScanProgress::Stage::measuring));
            if (outcome.index)
                outcome.index = SimilarityMatcher::checkFaces(*outcome.index, cache.get(), library ? library->faces : nullptr,
                                                              *flag, step(ScanProgress::Stage::checkingFaces));
        }
        onMain([this, outcome = std::move(outcome), previous = std::move(previous), flag]() mutable {
            if (flag->isCancelled() || outcome.result.cancelled || (outcome.measured && !outcome.index)) {
                m_phase = Phase::idle; // cancelled: nothing partial is shown
                changed();
                return;
            }
            finishScan(std::move(outcome), std::move(previous));
        });
    });
    changed();
}

PhotoCleanupModel::ExactStage PhotoCleanupModel::exactStage() const {
    const bool measure = needsSimilarity();
    switch (m_scope) {
    case Scope::lightroom:
        return catalogStage(m_lightroom.url.value_or(""), measure, [](const std::string& url, bool keep, const CancellationFlag& cancel,
                                                                       const ScanProgressCallback& progress) {
            return LightroomScanner::scan(LightroomCatalog::read(url), keep, cancel, progress);
        });
    case Scope::captureOne:
        return catalogStage(m_captureOne.url.value_or(""), measure, [](const std::string& url, bool keep, const CancellationFlag& cancel,
                                                                        const ScanProgressCallback& progress) {
            return CaptureOneScanner::scan(CaptureOneCatalog::read(url), keep, cancel, progress);
        });
    case Scope::folders:
    case Scope::photosLibrary: break;
    }
    std::vector<std::string> roots;
    for (const auto& source : m_sources) roots.push_back(source.path);
    auto scanCache = m_usesScanCache ? m_scanCache : nullptr;
    return [roots, measure, scanCache](const CancellationFlag& cancel,
                                       const ScanProgressCallback& progress) -> Result<ScanResult, std::string> {
        return ExactMatcher::scan(roots, measure, std::nullopt, {}, cancel, progress, {}, {}, {scanCache.get()});
    };
}

void PhotoCleanupModel::failScan(const std::string& message) {
    invalidateResults(); // what was shown is no longer what the source holds
    setNotice(message);
    changed();
}

void PhotoCleanupModel::cancelScan() {
    if (m_phase != Phase::scanning || !m_cancelFlag) return;
    m_cancelFlag->cancel();
    m_cancelFlag.reset(); // whatever the abandoned scan still posts is dropped
    m_phase = Phase::idle;
    m_progress = ScanProgress{};
    m_stepProgress = {0, 0};
    changed();
}

void PhotoCleanupModel::runInBackground(std::function<void()> work) {
    std::erase_if(m_background, [](const BackgroundTask& task) { return task.done->load(); }); // joins finished ones
    auto done = std::make_shared<std::atomic<bool>>(false);
    m_background.push_back({done, std::jthread([work = std::move(work), done] {
                                work();
                                done->store(true);
                            })});
}

void PhotoCleanupModel::finishScan(ScanOutcome outcome, std::optional<ReviewSession> previous) {
    m_result = std::move(outcome.result);
    m_similarity = outcome.index ? std::make_shared<const SimilarityIndex>(std::move(*outcome.index)) : nullptr;
    // Later: the media and image scans of these results start here.
    recount();
    regroup(previous);
    m_phase = Phase::results;
    changed();
    // The mode was changed to one that needs measurements while an exact-only scan ran.
    if (needsSimilarity() && !m_similarity) scan();
}

void PhotoCleanupModel::invalidateResults() {
    if (m_cancelFlag && m_phase == Phase::scanning) m_cancelFlag->cancel();
    m_cancelFlag.reset();
    m_progress = ScanProgress{};
    m_stepProgress = {0, 0};
    m_result.reset();
    m_similarity.reset();
    m_session.reset();
    m_hints.clear();
    m_qualityScores.clear();
    m_faceNotes.clear();
    m_counts.clear();
    if (m_phase != Phase::executing) m_phase = Phase::idle;
}

// ---- Review

std::vector<DuplicateGroup> PhotoCleanupModel::groups(Mode mode) const {
    switch (mode) {
    case Mode::exact: return m_result ? m_result->groups : std::vector<DuplicateGroup>{};
    case Mode::similar: return m_similarity ? m_similarity->groups(m_preset) : std::vector<DuplicateGroup>{};
    case Mode::series:
        return m_similarity ? m_similarity->series(seriesWindowSeconds, SimilarityThresholds::seriesRelated)
                            : std::vector<DuplicateGroup>{};
    }
    return {};
}

void PhotoCleanupModel::recount() {
    m_counts.clear();
    for (const auto mode : allCases<Mode>()) m_counts[mode] = static_cast<std::int64_t>(groups(mode).size());
}

void PhotoCleanupModel::regroup(const std::optional<ReviewSession>& previous) {
    ReviewSession session(currentGroups(), m_locks, protectedRoots(), {m_folders.downloads});
    session.similarity = m_similarity;
    session.priorities = m_priorities;
    if (previous) session.carryMarks(*previous);
    m_session = std::move(session);
    m_hints.clear();
    m_qualityScores.clear();
    m_faceNotes.clear();
    if (!m_similarity) return;
    for (const auto& group : m_session->groups) {
        m_hints.merge(QualityHints::hints(group, *m_similarity));
        m_qualityScores.merge(QualityHints::scores(group, *m_similarity));
        m_faceNotes.merge(QualityHints::faceNotes(group, *m_similarity));
    }
}

void PhotoCleanupModel::setMode(Mode mode) {
    if (mode == m_mode || m_phase == Phase::executing) return;
    m_mode = mode;
    if (needsSimilarity() && m_result && !m_similarity && m_phase != Phase::scanning) {
        scan(); // the earlier scan measured exact copies only
    } else if (m_result) {
        regroup(m_session);
    }
    changed();
}

void PhotoCleanupModel::setPreset(SimilarityPreset preset) {
    if (preset == m_preset) return;
    m_preset = preset;
    recount();
    store(presetKey, std::string(rawValue(preset)));
    if (m_mode == Mode::similar && m_similarity) regroup(m_session);
    changed();
}

void PhotoCleanupModel::setPriorities(std::vector<KeeperPolicy::Priority> priorities) {
    m_priorities = std::move(priorities);
    Json raw = Json::array();
    for (const auto priority : m_priorities) raw.push_back(std::string(rawValue(priority)));
    store(prioritiesKey, raw);
    store(prioritiesRevisionKey, KeeperPolicy::revision);
    if (m_session) m_session->priorities = m_priorities;
    changed();
}

void PhotoCleanupModel::toggleMark(const std::string& path) {
    if (!m_session) return;
    const auto refusal = m_session->toggle(path);
    setNotice(refusal ? std::optional<std::string>(refusal->message()) : std::nullopt);
    changed();
}

void PhotoCleanupModel::toggleLock(const std::string& path) {
    if (!m_session) return;
    if (m_session->isLocked(path))
        m_session->unlock(path);
    else
        m_session->lock(path);
    changed();
}

void PhotoCleanupModel::markSuggested(const std::optional<std::string>& groupID) {
    if (!m_session) return;
    const std::int64_t marked = groupID ? m_session->markSuggested(*groupID) : m_session->markAllSuggested();
    setNotice(marked == 0 ? std::optional<std::string>(std::string(ReviewSession::nothingMoreToMark)) : std::nullopt);
    changed();
}

void PhotoCleanupModel::clearMarks(const std::optional<std::string>& groupID) {
    if (!m_session) return;
    m_session->clearMarks(groupID);
    changed();
}

PhotoCleanupModel::IdenticalCopies PhotoCleanupModel::identicalCopies(const DuplicateGroup& group) const {
    if (group.kind == MatchKind::identical) return {static_cast<std::int64_t>(group.members.size()), true};
    if (!m_result) return {};
    std::map<std::string, std::string> contentOf; // path to its identical group
    for (const auto& identical : m_result->groups)
        for (const auto& member : identical.members) contentOf[member.path] = identical.id;
    std::map<std::string, std::int64_t> perContent;
    for (const auto& member : group.members)
        if (const auto found = contentOf.find(member.path); found != contentOf.end()) ++perContent[found->second];
    IdenticalCopies copies;
    for (const auto& [content, count] : perContent)
        if (count >= 2) copies.count += count;
    copies.allOnePicture = perContent.size() == 1 &&
                           perContent.begin()->second == static_cast<std::int64_t>(group.members.size());
    return copies;
}

} // namespace vp
