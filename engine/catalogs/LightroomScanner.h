// A scan of a Lightroom Classic catalog: the exact matcher over exactly the catalog's photos
// whose files exist, each picture carrying its reference into the catalog.
#pragma once

#include "LightroomCatalog.h"
#include "engine/scan/ExactMatcher.h"

namespace vp::LightroomScanner {

inline constexpr std::string_view missingDetail =
    "Lightroom Classic lists it, but the file is not where the catalog says.";

/// Photos already rejected are left out and counted in `lightroomRejected`; photos whose file
/// is gone are skipped as unreadable.
ScanResult scan(const LightroomCatalog::Catalog& catalog, bool keepPictures, const CancellationFlag& cancel,
                const ScanProgressCallback& progress, const ExactMatcher::PictureChecks& checks = {});

} // namespace vp::LightroomScanner
