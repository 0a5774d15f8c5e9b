// Finds, under the chosen folders, the videos an HEVC copy of at most 1080p would make
// noticeably smaller and the Live Photos kept as a still and a short movie. It reads only the
// movies' headers, except for the trial encode that estimates a copy's size, and changes nothing.
#pragma once

#include "MediaScan.h"

#include "engine/scan/CancellationFlag.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vp::MediaScanner {

/// Called with (done, total) examined videos, from worker threads.
using Progress = std::function<void(std::int64_t done, std::int64_t total)>;

/// Walks and examines `roots`. Without `estimate` no video becomes a candidate (a quick
/// listing). Stops early, with `cancelled` set, when the flag is raised.
MediaScan scan(const std::vector<std::string>& roots, bool estimate, const CancellationFlag& cancel,
               const Progress& progress = {});

/// Where a file lives.
struct Volume {
    bool isCloudSynced = false;
    std::optional<std::string> name;
    bool isExternal = false;
};
Volume volume(const std::string& path);

/// The reason a video with this estimate is not offered, if any: a copy must save at least 15%.
std::optional<std::string> leftAloneForEstimate(std::int64_t fileSize, std::int64_t estimate);

/// Whether HEVC already at most 1920 by 1080 (either way up).
bool isSmallHevc(std::string_view codec, std::int64_t width, std::int64_t height);

inline constexpr double longestLiveMovie = 6.0; // seconds

inline constexpr std::string_view notReadable = "Not a video this computer can read";
inline constexpr std::string_view sharesName = "Shares its name with a photo beside it, so it is left alone";
inline constexpr std::string_view alreadySmall = "Already HEVC at 1080p or smaller";
inline constexpr std::string_view cannotPlan = "This computer could not plan an HEVC copy of it";
inline constexpr std::string_view tooLittle = "Would shrink by less than 15%";

} // namespace vp::MediaScanner
