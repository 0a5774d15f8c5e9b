// The videos and Live Photos a media scan found: each video with why it is left alone or what
// an HEVC copy would save, and each Live Photo as its still and movie.
#pragma once

#include "engine/common/Json.h"
#include "engine/scan/FileSnapshot.h"
#include "engine/scan/ScanResult.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp {

/// Paths of photo-library items start with this.
inline constexpr std::string_view libraryPathPrefix = "photos-library:";

/// One video file.
struct VideoItem {
    std::string path;
    std::string root;
    FileSnapshot snapshot;
    double duration = 0;  ///< seconds
    std::int64_t width = 0; ///< pixels as shown, after the track's rotation
    std::int64_t height = 0;
    double frameRate = 0;
    std::string codec;    ///< the four-character code, "avc1", "hvc1", …
    std::optional<std::int64_t> estimatedSize;
    std::optional<std::string> leftAlone;
    bool isCloudSynced = false;
    std::optional<std::string> volumeName;
    bool isExternalVolume = false;
    std::optional<std::string> libraryFilename;

    /// The file's size less the estimate, never below 0; 0 without an estimate.
    std::int64_t estimatedSavings() const;
    bool isCandidate() const { return !leftAlone && estimatedSize.has_value(); }
    std::string name() const;
    std::string folder() const;
    bool isInLibrary() const;
    /// "HEVC", "H.264", "ProRes", or the code in capitals.
    std::string codecName() const;

    VP_RECORD(path, root, snapshot, duration, width, height, frameRate, codec, estimatedSize, leftAlone, isCloudSynced,
              volumeName, isExternalVolume, libraryFilename)
    bool operator==(const VideoItem&) const = default;
};

/// One Live Photo kept as two files with one base name.
struct LivePhotoPair {
    std::string root;
    std::string still;
    FileSnapshot stillSnapshot;
    std::string movie;
    FileSnapshot movieSnapshot;
    bool isCloudSynced = false;
    std::optional<std::string> volumeName;
    bool isExternalVolume = false;
    std::optional<std::string> libraryFilename;

    std::string name() const;
    std::int64_t movieSize() const { return movieSnapshot.size; }
    bool isInLibrary() const;
    /// Unique within a scan: the movie's path.
    const std::string& id() const { return movie; }

    VP_RECORD(root, still, stillSnapshot, movie, movieSnapshot, isCloudSynced, volumeName, isExternalVolume,
              libraryFilename)
    bool operator==(const LivePhotoPair&) const = default;
};

struct MediaScan {
    std::vector<std::string> roots;
    std::vector<VideoItem> videos; ///< candidates and videos left alone together
    std::vector<LivePhotoPair> livePairs;
    std::vector<SkippedFile> skipped;
    std::vector<ExcludedItem> excluded;
    bool cancelled = false;

    /// The videos offered for compression, in list order.
    std::vector<VideoItem> candidates() const;

    VP_RECORD(roots, videos, livePairs, skipped, excluded, cancelled)
    bool operator==(const MediaScan&) const = default;
};

} // namespace vp
