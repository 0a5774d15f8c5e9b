// JPEG and TIFF photos converted to HEIC: which photos are worth it (measured on a sample of
// them), the approved plan, and the checks a copy must pass before it replaces its original
// through the video compressor's journaled replacement.
#pragma once

#include "engine/common/Json.h"
#include "engine/common/Uuid.h"
#include "engine/scan/CancellationFlag.h"
#include "engine/scan/FileSnapshot.h"
#include "engine/scan/PhotoAsset.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp {

struct ImageItem {
    std::string path;
    std::string root;
    FileSnapshot snapshot;
    PhotoFormat format = PhotoFormat::other;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::optional<std::int64_t> estimatedSize;
    bool measured = false; ///< the estimate comes from encoding this very file
    std::optional<std::string> leftAlone;
    bool isCloudSynced = false;

    std::string name() const;
    std::string folder() const;
    /// The path with its extension replaced by "heic".
    std::string target() const;
    std::int64_t estimatedSavings() const;
    bool isCandidate() const { return !leftAlone && estimatedSize.has_value(); }

    VP_RECORD(path, root, snapshot, format, width, height, estimatedSize, measured, leftAlone, isCloudSynced)
    bool operator==(const ImageItem&) const = default;
};

struct ImageScan {
    std::vector<std::string> roots;
    std::vector<ImageItem> images;
    std::int64_t sampled = 0; ///< files encoded to measure the saving

    std::vector<ImageItem> candidates() const;

    VP_RECORD(roots, images, sampled)
    bool operator==(const ImageScan&) const = default;
};

struct ImageCompressionPlan {
    Uuid id;
    Timestamp created;
    std::vector<std::string> roots;
    std::vector<ImageItem> images;

    /// The candidates among `images`, in order, under a new id.
    ImageCompressionPlan(const std::vector<ImageItem>& images, std::vector<std::string> roots,
                         Timestamp now = std::chrono::system_clock::now());
    ImageCompressionPlan() = default;
    std::int64_t estimatedSavings() const;
    std::int64_t totalBytes() const;

    VP_RECORD(id, created, roots, images)
    bool operator==(const ImageCompressionPlan&) const = default;
};

namespace ImageEncoder {

inline constexpr std::string_view type = "public.heic";
bool isAvailable();
/// The lossy quality of every HEIC written, 0 to 1.
inline constexpr double quality = 0.8;
std::optional<std::int64_t> encodedSize(const std::string& path);
/// Writes the HEIC copy; none or the sentence saying why not.
std::optional<std::string> write(const std::string& path, const std::string& to);
/// Checks a copy against its original; none or the sentence saying why it is refused.
std::optional<std::string> verify(const std::string& copy, const std::string& original, std::int64_t originalSize);

} // namespace ImageEncoder

namespace ImageScanner {

/// Called with (done, total) sampled files encoded, from worker threads.
using Progress = std::function<void(std::int64_t done, std::int64_t total)>;

/// The JPEG and TIFF photos among `assets` (a folder scan's pictures, in order), each a
/// candidate with its estimated HEIC size or left alone with the reason.
ImageScan scan(const std::vector<PhotoAsset>& assets, const std::vector<std::string>& roots, const CancellationFlag& cancel,
               const Progress& progress = {});

inline constexpr std::int64_t smallFile = 307'199; ///< bytes; at most this is small already
inline constexpr std::size_t sampleCount = 16;

inline constexpr std::string_view pngReason = "PNG: usually a screenshot or graphic, which HEIC would soften";
inline constexpr std::string_view smallReason = "Small already";
inline constexpr std::string_view wellCompressedReason = "Already well compressed";
inline constexpr std::string_view cannotWriteReason = "This computer cannot write HEIC";
inline constexpr std::string_view unmeasuredReason = "Could not be measured";
inline constexpr std::string_view tooLittleReason = "Would shrink by less than 15%";

} // namespace ImageScanner

} // namespace vp
