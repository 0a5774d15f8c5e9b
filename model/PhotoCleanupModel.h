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

#include "engine/catalogs/CaptureOneMarker.h"
#include "engine/catalogs/LightroomRejecter.h"
#include "engine/cleanup/CleanupExecutor.h"
#include "engine/cleanup/CleanupPlan.h"
#include "engine/cleanup/CleanupReport.h"
#include "engine/cleanup/Restorer.h"
#include "engine/cleanup/Trasher.h"
#include "engine/library/LibraryScanner.h"
#include "engine/library/PhotoLibrary.h"
#include "engine/library/ReviewAlbum.h"
#include "engine/media/Compression.h"
#include "engine/media/LibraryMediaExecutor.h"
#include "engine/media/ImageCompression.h"
#include "engine/media/MediaScan.h"
#include "engine/media/MediaScanner.h"
#include "engine/media/VideoCompressor.h"
#include "engine/review/KeeperPolicy.h"
#include "engine/review/LockStore.h"
#include "engine/review/ReviewSession.h"
#include "engine/scan/CancellationFlag.h"
#include "engine/scan/ScanProgress.h"
#include "engine/scan/ScanResult.h"
#include "engine/scan/ScanCache.h"
#include "engine/similarity/FeatureCache.h"
#include "engine/similarity/SimilarityIndex.h"
#include "engine/similarity/SimilarityMatcher.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace vp {

class PhotoCleanupModel {
public:
    /// Restores the settings, reconciles cleanups that were interrupted and loads the history of
    /// earlier ones. A folder that is gone and a settings file that could not be used are told
    /// in `notice`. `trasher` moves pictures to the Trash (the desktop's own by default).
    PhotoCleanupModel(PhotoCleanupHost host, AppFolders folders, MainQueue& mainQueue,
                      std::shared_ptr<Trasher> trasher = nullptr);
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
    /// True when stored settings or locks were damaged or could not be read at start-up, so a
    /// protected folder or a lock may be missing from this run (the notice says which).
    bool missesStoredSafeguards() const { return m_settings.problem() || m_locks->problem(); }
    Mode mode() const { return m_mode; }
    SimilarityPreset preset() const { return m_preset; }
    const std::vector<KeeperPolicy::Priority>& priorities() const { return m_priorities; }
    const std::optional<ReviewSession>& session() const { return m_session; }
    const std::map<std::string, std::string>& hints() const { return m_hints; }
    const std::map<std::string, std::int64_t>& qualityScores() const { return m_qualityScores; }
    const std::map<std::string, std::string>& faceNotes() const { return m_faceNotes; }

    /// While transient, changes of the sources, their protection, the scope, the preset and the
    /// priorities hold for this model only and are never saved: a one-off session (one command,
    /// say) leaves the person's settings as they were. Off by default; switching it off again
    /// saves nothing by itself.
    void setTransient(bool transient) { m_transient = transient; }
    /// Without the scan cache every file is read again, and the cache is left as it is.
    void setUsesScanCache(bool uses) { m_usesScanCache = uses; }
    bool isTransient() const { return m_transient; }

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
    /// Stops the running scan; the model goes back to idle and nothing partial is shown.
    void cancelScan();
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

    // ---- Cleanup to the Trash
    const std::optional<CleanupPlan>& pendingPlan() const { return m_pendingPlan; }
    /// The latest cleanup's report.
    const std::optional<CleanupReport>& report() const { return m_report; }
    /// Earlier cleanups, newest first.
    const std::vector<CleanupReport>& history() const { return m_history; }
    /// Cleanups that were interrupted and reconciled at start-up.
    const std::vector<CleanupReport>& recovered() const { return m_recovered; }
    /// Pictures handled so far by the running cleanup.
    std::int64_t executionProgress() const { return m_executionProgress; }

    /// Turns the marks into a plan awaiting approval (`pendingPlan`); a refusal becomes the notice.
    void review();
    /// Approves the plan and runs it in the background; the results are scanned again afterwards,
    /// with the marks carried over.
    /// Plans are taken by value here and below: a view may hand over `*pendingPlan()`, which
    /// approving clears.
    void confirmAndExecute(CleanupPlan plan);
    /// Stop After This One: the running cleanup finishes the picture it is on, records every
    /// picture after it as not attempted (skipped, "Cancelled before this picture was
    /// reached.") and reports as usual. Does nothing when no cleanup is running.
    void stopAfterThisOne();
    /// Planned pictures that are not byte-identical to any of their keepers (other versions).
    std::int64_t notIdentical(const CleanupPlan& plan) const;
    /// Where the item is in the Trash now, for a file manager to show; none when it is not there.
    std::optional<std::string> showInTrash(const ItemReport& item) const;
    /// Puts one moved picture back where it was (beside it, under another name, when `beside`),
    /// records the attempt in the cleanup's journal and reloads the history.
    RestoreOutcome putBack(const CleanupReport& report, const ItemReport& item, bool beside = false);
    void reloadHistory();

    // ---- Catalogs: Lightroom Classic and Capture One
    const std::optional<std::string>& lightroomCatalogURL() const { return m_lightroom.url; }
    /// The chosen catalog as last read; absent when none is chosen or it could not be read.
    const std::optional<LightroomCatalog::Catalog>& lightroomCatalog() const { return m_lightroom.catalog; }
    /// Folder grants are not needed on this system: always empty.
    std::vector<std::string> lightroomFoldersNeeded() const { return {}; }
    const std::optional<LightroomRejecter::Report>& lightroomReport() const { return m_lightroom.report; }
    /// Earlier markings of every catalog, newest first.
    const std::vector<LightroomMarkRecord>& lightroomRecords() const { return m_lightroom.records; }
    const std::optional<std::string>& captureOneCatalogURL() const { return m_captureOne.url; }
    const std::optional<CaptureOneCatalog::Catalog>& captureOneCatalog() const { return m_captureOne.catalog; }
    std::vector<std::string> captureOneFoldersNeeded() const { return {}; }
    const std::optional<CaptureOneMarker::Report>& captureOneReport() const { return m_captureOne.report; }
    const std::vector<CaptureOneMarkRecord>& captureOneRecords() const { return m_captureOne.records; }

    /// Chooses the catalog the view asked the person for: it is stored, read with the records of
    /// earlier markings, and, in its scope, the results are replaced by a new scan.
    void chooseLightroomCatalog(const std::string& path);
    void chooseCaptureOneCatalog(const std::string& path);
    /// Nothing to grant on this system: the catalogs' folders are read like any other.
    void grantLightroomFolders() {}
    void grantCaptureOneFolders() {}
    /// Marks the approved copies Rejected in the chosen Lightroom Classic catalog, in the
    /// background; the report or the refusal is published, the records reloaded and the
    /// catalog scanned again.
    void confirmMarkRejected(CleanupPlan plan);
    /// Tags the approved copies Red in the chosen Capture One catalog, the same way.
    void confirmTagRed(CleanupPlan plan);
    /// Takes a marking back; the notice tells how many photos it gave their flag back.
    void undoMarking(const LightroomMarkRecord& record);
    void undoTagging(const CaptureOneMarkRecord& record);

    // ---- Photo library (PhotoCleanupModelLibrary.cpp)
    /// The library the photosLibrary scope scans and adds to the review album, with the probe of
    /// its access. Without one, the Shotwell library named in the settings (else Shotwell's
    /// default one) is used.
    void usePhotoLibrary(std::shared_ptr<PhotoLibraryMedia> reader, std::shared_ptr<PhotoLibraryWriting> writer,
                         std::function<Access()> access, std::optional<std::string> folder = std::nullopt);
    /// Uses the Shotwell library at `database` and keeps the choice in the settings.
    void useShotwellLibrary(const std::string& database);
    Access libraryAccess() const { return m_library.access; }
    /// The folder that holds the library, for a file manager to open when access is wanting.
    const std::optional<std::string>& libraryFolder() const { return m_library.folder; }
    /// Reads the library's access again, and scans when that makes scanning possible.
    void requestLibraryAccess();
    std::int64_t downloadLimit() const { return m_library.downloadLimit; }
    /// Scans the library fetching at most `limit` bytes of data stored elsewhere; only in the
    /// photosLibrary scope and only for a limit `downloadLimits` offers.
    void downloadAndCompare(std::int64_t limit);
    /// Pictures of the latest library scan left out because their data is elsewhere.
    std::int64_t iCloudNotCompared() const;
    /// Bytes free for the home folder's volume; none when they cannot be read.
    std::optional<std::int64_t> freeSpace() const;
    std::vector<std::int64_t> downloadLimits() const { return downloadLimitsFor(freeSpace()); }
    static std::vector<std::int64_t> downloadLimitsFor(std::optional<std::int64_t> freeBytes);
    /// Adds the approved copies to the review album in the background, then scans again.
    void confirmAddToAlbum(CleanupPlan plan);
    const std::optional<ReviewAlbum::Report>& albumReport() const { return m_library.albumReport; }
    /// Reads the preview of a library picture ("photos-library:" path) at most `longestSide`
    /// pixels long; absent for other paths. Safe on any thread, and it keeps the library it was
    /// made from even when another one is chosen.
    using PreviewReader = std::function<std::optional<Bitmap>(const std::string& path, int longestSide)>;
    PreviewReader libraryPreviews() const;
    bool isAddingToAlbum() const { return m_library.adding; }

    // ---- Media: videos to HEVC and Live Photos to stills (PhotoCleanupModelMedia.cpp)
    const std::optional<MediaScan>& media() const { return m_media.scan; }
    bool mediaScanning() const { return m_media.scanning; }
    /// (done, total) videos examined by the running media scan.
    std::pair<std::int64_t, std::int64_t> mediaProgress() const { return m_media.progress; }
    /// Ticked candidates by path, and ticked Live Photos by movie path; a new scan ticks all.
    const std::set<std::string>& selectedVideos() const { return m_media.selectedVideos; }
    const std::set<std::string>& selectedLive() const { return m_media.selectedLive; }
    void setVideoSelected(const std::string& path, bool selected);
    void setLiveSelected(const std::string& movie, bool selected);
    const std::optional<CompressionPlan>& pendingCompression() const { return m_media.pendingCompression; }
    const std::optional<CompressionReport>& compressionReport() const { return m_media.compressionReport; }
    /// Where the running compression stands; none when none runs.
    const std::optional<CompressionProgress>& compressing() const { return m_media.compressing; }
    const std::optional<CleanupPlan>& pendingLive() const { return m_media.pendingLive; }
    const std::optional<CleanupReport>& liveReport() const { return m_media.liveReport; }
    /// Earlier compressions, newest first, and those settled at start-up after an interruption.
    const std::vector<CompressionReport>& compressionHistory() const { return m_media.history; }
    const std::vector<CompressionReport>& recoveredCompressions() const { return m_media.recovered; }

    bool canScanMedia() const;
    /// Examines the chosen folders' videos (with size estimates) and Live Photos in the background.
    void scanMedia();
    void cancelMediaScan();
    /// The ticked candidates as a plan awaiting approval; with none ticked, a notice says so.
    void reviewCompression();
    /// Approves the plan and compresses in the background; then the media are scanned again.
    void confirmCompression(const CompressionPlan& plan);
    /// Stops the running encode promptly (its partial copy goes to the Trash) and every video after it.
    void stopCompression();
    void reviewLiveStills();
    /// Moves the approved Live Photo movies to the Trash through the cleanup executor.
    void confirmLiveStills(const CleanupPlan& plan);
    /// Puts one original back (its copy to the Trash), reloads the history and scans the media again.
    std::optional<std::string> useOriginal(const std::string& path, const CompressionItem& item,
                                           const CompressionReport& report);

    // ---- Media inside the photo library (PhotoCleanupModelLibraryMedia.cpp): in the photosLibrary
    // scope scanMedia lists the library's videos and Live Photos, confirmCompression replaces the
    // library's videos through the library, and reviewLiveStills plans its ticked Live Photos here.
    const std::optional<LibraryLivePlan>& pendingLibraryLive() const { return m_libraryMedia.pendingLive; }
    const std::optional<CompressionReport>& libraryLiveReport() const { return m_libraryMedia.liveReport; }
    /// Replaces the approved Live Photos by their stills in one library change, in the background;
    /// the report or the refusal is published and the media scanned again.
    void confirmLibraryStills(const LibraryLivePlan& plan);
    /// Where library videos are exported before the library takes them: the system's temporary
    /// folder + "/PristelPhoto-videos".
    static std::string libraryVideoFolder();

private:
    struct LibraryMediaState {
        std::optional<LibraryLivePlan> pendingLive;
        std::optional<CompressionReport> liveReport;
    };
    LibraryMediaState m_libraryMedia;
    std::function<MediaScan(const CancellationFlag&, const MediaScanner::Progress&)> libraryMediaScan() const;
    void compressInLibrary(const CompressionPlan& plan);

public:
    // ---- Media: JPEG and TIFF photos to HEIC (PhotoCleanupModelImages.cpp)
    /// Where the running photo scan stands: first the folders' pictures are listed (`found` so
    /// far), then a sample of them is encoded (`done` of `total`).
    struct ImageScanProgress {
        bool measuring = false;
        std::int64_t found = 0;
        std::int64_t done = 0;
        std::int64_t total = 0;
        bool operator==(const ImageScanProgress&) const = default;
    };
    const std::optional<ImageScan>& images() const { return m_images.scan; }
    bool imageScanning() const { return m_images.scanning; }
    const ImageScanProgress& imageProgress() const { return m_images.progress; }
    /// Ticked candidates by path; a new scan ticks all.
    const std::set<std::string>& selectedImages() const { return m_images.selected; }
    void setImageSelected(const std::string& path, bool selected);
    const std::optional<ImageCompressionPlan>& pendingImageCompression() const { return m_images.pending; }
    /// The latest conversion's report (its journal is a compression's, so it is in the history too).
    const std::optional<CompressionReport>& imageCompressionReport() const { return m_images.report; }

    bool canScanImages() const;
    /// Lists the chosen folders' pictures and measures what HEIC would save, in the background;
    /// a scan already running is replaced.
    void scanImages();
    void cancelImageScan();
    /// The ticked candidates as a plan awaiting approval; with none ticked, a notice says so.
    void reviewImageCompression();
    /// Approves the plan and converts in the background through the compressor's journaled
    /// replacement (`stopCompression` stops it); then the photos are scanned again.
    void confirmImageCompression(ImageCompressionPlan plan);

private:
    struct ImageState {
        std::optional<ImageScan> scan;
        bool scanning = false;
        ImageScanProgress progress;
        std::set<std::string> selected;
        std::optional<ImageCompressionPlan> pending;
        std::optional<CompressionReport> report;
        SharedCancellationFlag scanCancel;
    };
    ImageState m_images;

private:
    struct MediaState {
        std::optional<MediaScan> scan;
        bool scanning = false;
        std::pair<std::int64_t, std::int64_t> progress{0, 0};
        std::set<std::string> selectedVideos, selectedLive;
        std::optional<CompressionPlan> pendingCompression;
        std::optional<CompressionReport> compressionReport;
        std::optional<CompressionProgress> compressing;
        std::optional<CleanupPlan> pendingLive;
        std::optional<CleanupReport> liveReport;
        std::vector<CompressionReport> history, recovered;
        SharedCancellationFlag scanCancel, compressCancel;
    };
    VideoCompressor videoCompressor() const;
    void recoverInterruptedCompressions();
    MediaState m_media;

    struct ScanOutcome {
        ScanResult result;
        std::optional<SimilarityIndex> index;
        bool measured = false; // similarity was asked for
    };
    struct LibraryState {
        std::shared_ptr<PhotoLibraryMedia> reader;
        std::shared_ptr<PhotoLibraryWriting> writer;
        std::function<Access()> probe;
        Access access = Access::notAsked;
        std::optional<std::string> folder;
        std::shared_ptr<LibraryHashCache> hashes = std::make_shared<LibraryHashCache>();
        std::int64_t downloadLimit = 0;
        std::optional<ReviewAlbum::Report> albumReport;
        bool adding = false;
    };

    /// How a scan of the library reads it: the scan itself and the readers of its previews.
    struct LibraryScan {
        std::function<ScanResult(bool keepPictures, const CancellationFlag&, const ScanProgressCallback&)> scan;
        SimilarityMatcher::FeatureReader features;
        SimilarityMatcher::FaceReader faces;
    };
    bool canScanLibrary() const;
    LibraryScan libraryScan(std::optional<std::int64_t> downloadLimit) const;
    void restoreLibrary();
    template <class Catalog, class Marker, class Record>
    struct CatalogSource {
        std::optional<std::string> url;
        std::optional<Catalog> catalog;
        std::optional<typename Marker::Report> report;
        std::vector<Record> records;
    };
    using LightroomSource = CatalogSource<LightroomCatalog::Catalog, LightroomRejecter, LightroomMarkRecord>;
    using CaptureOneSource = CatalogSource<CaptureOneCatalog::Catalog, CaptureOneMarker, CaptureOneMarkRecord>;
    using ExactStage = std::function<Result<ScanResult, std::string>(const CancellationFlag&, const ScanProgressCallback&)>;

    /// The exact stage of a scan of the current scope, to run in the background.
    ExactStage exactStage() const;
    void readLightroomCatalog();
    void readCaptureOneCatalog();
    void restoreCatalogs();
    template <class Source, class Mark>
    void confirmCatalogMarking(Source& source, const CleanupPlan& plan, Mark mark);
    void failScan(const std::string& message);


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
    void recoverInterruptedCleanups();
    void finishExecution(Result<CleanupReport, ExecutionRefusal> outcome);
    /// Runs `work` on a background thread; `work` posts its results with `post`.
    void runInBackground(std::function<void()> work);

    PhotoCleanupHost m_host;
    AppFolders m_folders;
    MainQueue& m_mainQueue;
    Settings m_settings;
    std::shared_ptr<LockStore> m_locks;
    std::shared_ptr<FeatureCache> m_featureCache;
    std::shared_ptr<ScanCache> m_scanCache;
    std::shared_ptr<Trasher> m_trasher;

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
    std::optional<CleanupPlan> m_pendingPlan;
    std::optional<CleanupReport> m_report;
    std::vector<CleanupReport> m_history;
    std::vector<CleanupReport> m_recovered;
    std::int64_t m_executionProgress = 0;
    bool m_transient = false;
    bool m_usesScanCache = true;
    LightroomSource m_lightroom;
    CaptureOneSource m_captureOne;

    SharedCancellationFlag m_cancelFlag;
    struct BackgroundTask {
        std::shared_ptr<std::atomic<bool>> done;
        std::jthread thread;
    };
    std::vector<BackgroundTask> m_background;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0); // posted work checks the model is still there
    LibraryState m_library;
    std::map<std::size_t, Observer> m_observers;
    std::size_t m_nextObserver = 1;
};

} // namespace vp
