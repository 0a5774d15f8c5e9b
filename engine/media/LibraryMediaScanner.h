// Finds, inside a photo library, the videos an HEVC copy of at most 1080p would make noticeably
// smaller and the Live Photos whose movie could go. The records are the folder scan's own: a
// video's path is its library path ("photos-library:" + id), its root the library. It reads the
// videos' local files (headers, and a trial encode for the estimate) and changes nothing.
#pragma once

#include "MediaScan.h"
#include "MediaScanner.h"

#include "engine/library/PhotoLibrary.h"
#include "engine/scan/CancellationFlag.h"

#include <string_view>

namespace vp::LibraryMediaScanner {

/// Never throws. Without `estimate` no video becomes a candidate. `progress` counts examined
/// videos, from worker threads.
MediaScan scan(const PhotoLibraryMedia& library, bool estimate, const CancellationFlag& cancel,
               const MediaScanner::Progress& progress = {});

inline constexpr std::string_view favourite = "A favourite, so it is kept as it is";
// After a Live Photo's file name.
inline constexpr std::string_view favouriteLive = ": a favourite, kept as it is";
inline constexpr std::string_view editedLive = ": edited in Photos, kept so the edit is not lost";
inline constexpr std::string_view rawLive = ": RAW and JPEG, kept as it is";

/// The library's words for data that is not here, as a sentence's start: "On a drive that is
/// not connected".
std::string notLocalReason(const PhotoLibraryReading& library);

} // namespace vp::LibraryMediaScanner
