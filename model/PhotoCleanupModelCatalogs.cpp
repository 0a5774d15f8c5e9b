// The model's catalog flows: the chosen Lightroom Classic and Capture One catalogs, read again
// whenever their scope is chosen, approved copies marked inside them in the background, and
// markings taken back. Both kinds go through the same steps; only the engine calls differ.
#include "PhotoCleanupModel.h"

#include <chrono>
#include <type_traits>

namespace vp {

namespace {

const char* const lightroomCatalogKey = "photoCleanup.lightroomCatalog";
const char* const captureOneCatalogKey = "photoCleanup.captureOneCatalog";

/// Reads the source's catalog again; the sentence that refuses it, if it cannot be read.
template <class Source, class Read>
std::optional<std::string> readCatalog(Source& source, Read read) {
    source.catalog.reset();
    if (!source.url) return std::nullopt;
    try {
        source.catalog = read(*source.url);
        return std::nullopt;
    } catch (const CatalogReadError& error) {
        return error.description();
    }
}

} // namespace

void PhotoCleanupModel::restoreCatalogs() {
    m_lightroom.url = m_settings.string(lightroomCatalogKey);
    m_captureOne.url = m_settings.string(captureOneCatalogKey);
    // A catalog that cannot be read now is told only where it is the source being used.
    const auto lightroomProblem = readCatalog(m_lightroom, LightroomCatalog::read);
    const auto captureOneProblem = readCatalog(m_captureOne, CaptureOneCatalog::read);
    if (m_scope == Scope::lightroom && lightroomProblem) m_notice = *lightroomProblem;
    if (m_scope == Scope::captureOne && captureOneProblem) m_notice = *captureOneProblem;
    m_lightroom.records = LightroomRejecter(m_folders.lightroom()).history();
    m_captureOne.records = CaptureOneMarker(m_folders.captureOne()).history();
}

void PhotoCleanupModel::readLightroomCatalog() {
    if (const auto problem = readCatalog(m_lightroom, LightroomCatalog::read)) setNotice(*problem);
    else if (m_lightroom.catalog && !m_lightroom.catalog->isTestedVersion())
        setNotice(std::string(LightroomCatalog::untestedScanNotice));
    m_lightroom.records = LightroomRejecter(m_folders.lightroom()).history();
}

void PhotoCleanupModel::readCaptureOneCatalog() {
    if (const auto problem = readCatalog(m_captureOne, CaptureOneCatalog::read)) setNotice(*problem);
    m_captureOne.records = CaptureOneMarker(m_folders.captureOne()).history();
}

void PhotoCleanupModel::chooseLightroomCatalog(const std::string& path) {
    m_lightroom.url = path;
    store(lightroomCatalogKey, path);
    if (m_scope == Scope::lightroom) invalidateResults();
    readLightroomCatalog();
    if (m_scope == Scope::lightroom && canScan()) scan();
    changed();
}

void PhotoCleanupModel::chooseCaptureOneCatalog(const std::string& path) {
    m_captureOne.url = path;
    store(captureOneCatalogKey, path);
    if (m_scope == Scope::captureOne) invalidateResults();
    readCaptureOneCatalog();
    if (m_scope == Scope::captureOne && canScan()) scan();
    changed();
}

template <class Source, class Mark>
void PhotoCleanupModel::confirmCatalogMarking(Source& source, const CleanupPlan& plan, Mark mark) {
    if (m_phase == Phase::executing || m_phase == Phase::scanning || !source.url) return;
    m_pendingPlan.reset();
    const Timestamp now = std::chrono::system_clock::now();
    const CleanupApproval approval = plan.approve(now);
    m_cancelFlag.reset(); // a marking runs to its end: it is one transaction
    m_phase = Phase::executing;
    m_executionProgress = 0;
    std::weak_ptr<int> alive = m_alive;
    runInBackground([this, alive, &source, mark, plan, approval, now, catalog = *source.url] {
        auto outcome = mark(plan, approval, catalog, now);
        m_mainQueue.post([this, alive, &source, outcome = std::move(outcome)]() mutable {
            if (alive.expired()) return;
            if (outcome) source.report = std::move(*outcome);
            else setNotice(outcome.error().description());
            if constexpr (std::is_same_v<Source, LightroomSource>) readLightroomCatalog();
            else readCaptureOneCatalog();
            m_phase = m_result ? Phase::results : Phase::idle;
            changed();
            scan(); // the marked photos are seen as they are now
        });
    });
    changed();
}

void PhotoCleanupModel::confirmMarkRejected(CleanupPlan plan) {
    const LightroomRejecter rejecter(m_folders.lightroom());
    confirmCatalogMarking(m_lightroom, plan, [rejecter](const CleanupPlan& approved, const CleanupApproval& approval,
                                                        const std::string& catalog, Timestamp now) {
        return rejecter.mark(approved, approval, catalog, now);
    });
}

void PhotoCleanupModel::confirmTagRed(CleanupPlan plan) {
    const CaptureOneMarker marker(m_folders.captureOne());
    confirmCatalogMarking(m_captureOne, plan, [marker](const CleanupPlan& approved, const CleanupApproval& approval,
                                                       const std::string& catalog, Timestamp now) {
        return marker.mark(approved, approval, catalog, now);
    });
}

void PhotoCleanupModel::undoMarking(const LightroomMarkRecord& record) {
    if (m_phase == Phase::executing) return;
    const auto restored = LightroomRejecter(m_folders.lightroom()).restore(record);
    setNotice(restored ? std::to_string(record.marked.size()) + " no longer Rejected in " + record.name()
                       : restored.error().description());
    m_lightroom.records = LightroomRejecter(m_folders.lightroom()).history();
    changed();
    scan();
}

void PhotoCleanupModel::undoTagging(const CaptureOneMarkRecord& record) {
    if (m_phase == Phase::executing) return;
    const auto restored = CaptureOneMarker(m_folders.captureOne()).restore(record);
    setNotice(restored ? std::to_string(record.marked.size()) + " no longer tagged Red in " + record.name()
                       : restored.error().description());
    m_captureOne.records = CaptureOneMarker(m_folders.captureOne()).history();
    changed();
    scan();
}

} // namespace vp
