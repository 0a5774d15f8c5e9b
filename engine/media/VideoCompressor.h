// Replaces approved videos with smaller HEVC copies, one at a time, without ever deleting
// anything. Each copy is written beside its original under a hidden temporary name and
// verified; only then does the original go to the Trash and the copy take its name. Every step
// is journaled first, so an interruption at any moment leaves either the original or the
// verified copy in place and a journal line saying which.
#pragma once

#include "Compression.h"
#include "CompressionJournal.h"
#include "ImageCompression.h"

#include "engine/cleanup/Trasher.h"
#include "engine/common/Result.h"
#include "engine/scan/CancellationFlag.h"
#include "engine/scan/FileSnapshot.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp {

/// Where a run stands: files done of total, the running file's share done, and bytes (the
/// originals' sizes) done of total, counting the running file by its share.
struct CompressionProgress {
    std::int64_t done = 0;
    std::int64_t total = 0;
    double current = 0;
    std::int64_t bytesDone = 0;
    std::int64_t bytesTotal = 0;

    bool operator==(const CompressionProgress&) const = default;
};

class VideoCompressor {
public:
    /// None on success, else the sentence saying why not.
    using Step = std::function<std::optional<std::string>(const std::string& temporaryPath)>;

    /// One replacement to make.
    struct Job {
        std::string path;
        FileSnapshot snapshot;
        std::string final; ///< where the copy ends; for videos, `path`
        Step make;
        Step check;
    };

    /// Called on the compressing thread, often during an encode and after each file.
    using Progress = std::function<void(const CompressionProgress&)>;

    /// Journals go to `journalDirectory` + "/Compressions"; `trasher` must not be null.
    VideoCompressor(const std::string& journalDirectory, std::shared_ptr<Trasher> trasher);

    std::string directory;
    std::shared_ptr<Trasher> trasher;

    static constexpr std::string_view folderName = "Compressions";

    /// Runs the plan once, synchronously, one video after the other. `cancel` is read before
    /// each video and watched during its encode.
    Result<CompressionReport, CompressionRefusal> compress(const CompressionPlan& plan, const CompressionApproval& approval,
                                                           const CancellationFlag& cancel, const Progress& progress = {}) const;

    /// Replaces JPEG and TIFF photos with HEIC copies beside them through the same routine and
    /// journal; a photo's copy takes the name with the extension "heic".
    Result<CompressionReport, CompressionRefusal> compressImages(const ImageCompressionPlan& plan,
                                                                 const CompressionApproval& approval,
                                                                 const CancellationFlag& cancel,
                                                                 const Progress& progress = {}) const;

    /// Checks, copies, verifies and swaps one file; journals intent and trash lines to
    /// `journal` (the caller writes the "done" line with the answer).
    CompressionOutcome replaceOne(const Job& job, const std::vector<std::string>& roots, const std::string& journal,
                                  const CancellationFlag& cancel) const;

    /// The HEVC copy of `path` at `to`; "Stopped." when the flag is raised meanwhile.
    static std::optional<std::string> exportCopy(const std::string& path, const std::string& to, const CancellationFlag& cancel,
                                                 const std::function<void(double)>& progress = {});
    /// Checks a copy against its original: smaller, decodes to its end, as long, sound kept.
    static std::optional<std::string> verify(const std::string& copy, const std::string& original, std::int64_t originalSize);

    /// The reports of all journals, newest first.
    std::vector<CompressionReport> history() const;
    /// Settles every path whose last line is "intent" or "trashed" and returns the reports of
    /// the journals that had such paths. Running it twice changes nothing the second time.
    std::vector<CompressionReport> recoverInterrupted() const;
    /// Puts one original back from the Trash, the copy going to the Trash first.
    std::optional<std::string> restoreOriginal(const CompressionItem& item, const CompressionReport& report) const;

    static constexpr std::string_view stoppedBefore = "Stopped before this one was reached.";
    static constexpr std::string_view stoppedDuring = "Stopped while it was being compressed; the original is untouched.";
    static constexpr std::string_view changedDuring = "Changed while it was being compressed; the original is untouched.";
    static constexpr std::string_view outside = "Outside the folders you chose.";
    static constexpr std::string_view folderAlias = "A folder on the way to it was replaced with an alias since the scan.";
    static constexpr std::string_view gone = "No longer where it was \u2014 moved, deleted, or its drive was disconnected.";
    static constexpr std::string_view toCloud = "Its contents moved to the cloud since the scan.";
    static constexpr std::string_view changed = "Changed since the scan. Scan again to review it.";
    static constexpr std::string_view hardLink = "Has another name on disk (a hard link), so replacing it would free nothing.";
    static constexpr std::string_view recordFailed = "The record could not be written, so it was not touched.";
    static constexpr std::string_view nameTaken = "The compressed copy could not take its name, so the original was put back.";
    static constexpr std::string_view interruptedBefore = "The app stopped before this one finished; the original is untouched.";
    static constexpr std::string_view cannotStart = "Could not start the export.";
    static constexpr std::string_view cannotCheck = "Could not check the copy.";
    static constexpr std::string_view runningNow =
        "That compression is still running; put its originals back when it has finished.";

private:
    /// One file of a plan: its size as planned and the job, made when its turn comes with the
    /// callback that reports the share of it done.
    struct Planned {
        std::string path;
        std::int64_t size = 0;
        std::function<Job(const std::function<void(double)>& share)> job;
    };
    Result<CompressionReport, CompressionRefusal> run(const Uuid& planID, const CompressionApproval& approval,
                                                      const std::vector<std::string>& roots,
                                                      const std::vector<Planned>& files, const CancellationFlag& cancel,
                                                      const Progress& progress) const;
};

} // namespace vp
