// The model's photo-library flows: which library the photosLibrary scope reads (a Shotwell
// library unless another is given), its access, scans with an optional download budget, the
// download limits offered, and adding the approved copies to the review album.
#include "PhotoCleanupModel.h"

#include "engine/library/LibrarySource.h"
#include "engine/library/ShotwellLibrary.h"

#include <algorithm>
#include <chrono>
#include <sys/statvfs.h>

namespace vp {

namespace {

const char* const downloadLimitKey = "photoCleanup.downloadLimit";
const char* const shotwellLibraryKey = "photoCleanup.shotwellLibrary";

constexpr std::int64_t gibibyte = 1'073'741'824;
// Room left free for the system whatever limit is chosen.
constexpr std::int64_t reserve = 5 * gibibyte;

std::string folderOf(const std::string& path) {
    const auto cut = path.find_last_of('/');
    return cut == std::string::npos ? "." : path.substr(0, std::max<std::size_t>(cut, 1));
}

} // namespace

void PhotoCleanupModel::usePhotoLibrary(std::shared_ptr<PhotoLibraryMedia> reader,
                                        std::shared_ptr<PhotoLibraryWriting> writer, std::function<Access()> access,
                                        std::optional<std::string> folder) {
    m_library.reader = std::move(reader);
    m_library.writer = std::move(writer);
    m_library.probe = std::move(access);
    m_library.folder = std::move(folder);
    // Hashes of another library mean nothing here.
    m_library.hashes = std::make_shared<LibraryHashCache>();
    if (m_scope == Scope::photosLibrary) invalidateResults();
    requestLibraryAccess();
}

void PhotoCleanupModel::useShotwellLibrary(const std::string& database) {
    store(shotwellLibraryKey, database);
    auto library = std::make_shared<ShotwellLibrary>(database);
    usePhotoLibrary(library, library, [database] { return ShotwellLibrary::access(database); }, folderOf(database));
}

void PhotoCleanupModel::restoreLibrary() {
    m_library.downloadLimit = m_settings.integer(downloadLimitKey).value_or(0);
    if (!m_library.reader) {
        const std::string database = m_settings.string(shotwellLibraryKey).value_or(ShotwellLibrary::defaultDatabase());
        auto library = std::make_shared<ShotwellLibrary>(database);
        m_library.reader = library;
        m_library.writer = library;
        m_library.probe = [database] { return ShotwellLibrary::access(database); };
        m_library.folder = folderOf(database);
    }
    m_library.access = m_library.probe ? m_library.probe() : Access::notAsked;
    if (m_scope != Scope::photosLibrary) return;
    switch (m_library.access) {
    case Access::granted: break;
    case Access::notAsked: setNotice("No photo library was found. Choose a Shotwell library (its photo.db)."); break;
    case Access::denied: setNotice("The photo library cannot be read. Allow this user to read it."); break;
    case Access::restricted: setNotice("The photo library can be read but not changed. Allow this user to change it."); break;
    }
}

void PhotoCleanupModel::requestLibraryAccess() {
    const bool could = canScan();
    restoreLibrary();
    if (m_library.access == Access::granted && m_scope == Scope::photosLibrary) setNotice(std::nullopt);
    changed();
    if (m_scope == Scope::photosLibrary && !could && canScan()) scan();
}

bool PhotoCleanupModel::canScanLibrary() const {
    return m_library.reader && m_library.access == Access::granted && !m_library.adding;
}

PhotoCleanupModel::LibraryScan PhotoCleanupModel::libraryScan(std::optional<std::int64_t> downloadLimit) const {
    const auto reader = m_library.reader;
    const auto hashes = m_library.hashes;
    LibraryScan work;
    work.scan = [reader, hashes, downloadLimit](bool keepPictures, const CancellationFlag& cancel,
                                                const ScanProgressCallback& report) {
        std::optional<DownloadBudget> budget;
        if (downloadLimit) budget.emplace(*downloadLimit);
        return LibraryScanner::scan(*reader, keepPictures, budget ? &*budget : nullptr, hashes.get(), cancel, report);
    };
    // The readers hold on to the library for as long as the scan may measure its pictures.
    work.features = [reader, read = LibraryScanner::featureReader(*reader)](const PhotoAsset& asset) { return read(asset); };
    work.faces = [reader, read = LibraryScanner::faceReader(*reader)](const PhotoAsset& asset) { return read(asset); };
    return work;
}

void PhotoCleanupModel::downloadAndCompare(std::int64_t limit) {
    if (m_scope != Scope::photosLibrary) return;
    const auto offered = downloadLimits();
    if (std::find(offered.begin(), offered.end(), limit) == offered.end()) return;
    m_library.downloadLimit = limit;
    store(downloadLimitKey, limit);
    scan(limit);
}

std::int64_t PhotoCleanupModel::iCloudNotCompared() const {
    if (m_scope != Scope::photosLibrary || !m_result) return 0;
    return std::count_if(m_result->skipped.begin(), m_result->skipped.end(),
                         [](const SkippedFile& file) { return file.reason == SkipReason::cloudPlaceholder; });
}

std::optional<std::int64_t> PhotoCleanupModel::freeSpace() const {
    struct statvfs volume {};
    if (::statvfs(m_host.homeFolder.c_str(), &volume) != 0) return std::nullopt;
    return static_cast<std::int64_t>(volume.f_bavail) * static_cast<std::int64_t>(volume.f_frsize);
}

std::vector<std::int64_t> PhotoCleanupModel::downloadLimitsFor(std::optional<std::int64_t> freeBytes) {
    if (!freeBytes) return {gibibyte, 5 * gibibyte, 20 * gibibyte};
    const std::int64_t usable = *freeBytes - reserve;
    std::vector<std::int64_t> limits;
    for (const std::int64_t limit : {gibibyte, 5 * gibibyte, 20 * gibibyte})
        if (usable >= limit) limits.push_back(limit);
    return limits;
}

void PhotoCleanupModel::confirmAddToAlbum(CleanupPlan plan) {
    if (m_phase == Phase::executing || m_phase == Phase::scanning || !m_library.writer) return;
    m_pendingPlan.reset();
    const CleanupApproval approval = plan.approve(std::chrono::system_clock::now());
    m_phase = Phase::executing;
    m_library.adding = true;
    std::weak_ptr<int> alive = m_alive;
    runInBackground([this, alive, plan, approval, reader = m_library.reader, writer = m_library.writer] {
        auto outcome = ReviewAlbum::add(plan, approval, *reader, *writer);
        m_mainQueue.post([this, alive, outcome = std::move(outcome)]() mutable {
            if (alive.expired()) return;
            m_library.adding = false;
            if (outcome) {
                m_library.albumReport = std::move(outcome.value());
                clearMarks();
                setNotice(std::nullopt);
            } else {
                setNotice(outcome.error().description());
            }
            m_phase = m_result ? Phase::results : Phase::idle;
            changed();
            scan();
        });
    });
    changed();
}

PhotoCleanupModel::PreviewReader PhotoCleanupModel::libraryPreviews() const {
    std::shared_ptr<const PhotoLibraryMedia> reader = m_library.reader;
    if (!reader) return {};
    return [reader](const std::string& path, int longestSide) -> std::optional<Bitmap> {
        const auto id = LibrarySource::id(path);
        if (!id) return std::nullopt;
        return reader->preview(*id, longestSide);
    };
}

} // namespace vp
