// Carries out approved plans for videos and Live Photos inside a photo library, through the
// library itself and never by touching its files: each video gets a verified HEVC copy made in
// a working folder, each Live Photo its still alone, and all of them go to the library in one
// change that also takes the originals away. The library keeps each original's dates, event,
// tags and flags on its replacement; if that one change fails or is not allowed, nothing in the
// library changed.
#pragma once

#include "Compression.h"
#include "VideoCompressor.h"

#include "engine/common/Result.h"
#include "engine/common/Uuid.h"
#include "engine/library/PhotoLibrary.h"
#include "engine/scan/CancellationFlag.h"

#include <string>
#include <string_view>
#include <vector>

namespace vp {

/// The ticked Live Photos of a library, awaiting approval to keep only their stills.
struct LibraryLivePlan {
    Uuid id;
    std::vector<LivePhotoPair> pairs;

    std::int64_t movieBytes() const;

    VP_RECORD(id, pairs)
    bool operator==(const LibraryLivePlan&) const = default;
};

class LibraryMediaExecutor {
public:
    /// Copies are exported into `temporary`, made when missing.
    explicit LibraryMediaExecutor(std::string temporary) : temporary(std::move(temporary)) {}

    std::string temporary;

    /// Runs the plan synchronously: each video checked against the library, exported and
    /// verified one after the other, then one library change for all that passed. `cancel` is
    /// read before each video and watched during its encode. Blocks: never on the main thread.
    Result<CompressionReport, CompressionRefusal> compress(const CompressionPlan& plan, const CompressionApproval& approval,
                                                           const PhotoLibraryMedia& reader, PhotoLibraryReplacing& replacer,
                                                           const CancellationFlag& cancel,
                                                           const VideoCompressor::Progress& progress = {}) const;

    /// Replaces each Live Photo with its still alone, in one library change. An item's
    /// `originalSize` counts the still and the movie, so what it saved is the movie.
    Result<CompressionReport, CompressionRefusal> keepStills(const std::vector<LivePhotoPair>& pairs, const Uuid& planID,
                                                             const CompressionApproval& approval,
                                                             const PhotoLibraryMedia& reader,
                                                             PhotoLibraryReplacing& replacer) const;

    static constexpr std::string_view stoppedBefore = "Stopped before this video was reached.";
    static constexpr std::string_view stoppedDuring = "Stopped while it was being compressed.";
    static constexpr std::string_view declined = "You did not allow the deletion, so nothing changed.";
    static constexpr std::string_view changePrefix = "Photos did not make the change: ";
    static constexpr std::string_view notReplaced = "Photos did not replace it.";
    static constexpr std::string_view notReached = "Not reached.";
};

} // namespace vp
