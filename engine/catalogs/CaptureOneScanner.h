// A scan of a Capture One catalog: the exact matcher over exactly the catalog's live images,
// those inside the package handed over by name, each picture carrying its reference.
#pragma once

#include "CaptureOneCatalog.h"
#include "engine/scan/ExactMatcher.h"

namespace vp::CaptureOneScanner {

inline constexpr std::string_view missingDetail = "Capture One lists it, but the file is not where the catalog says.";

/// Images in Capture One's Trash or already tagged Red are not compared (the Red ones are
/// counted in `captureOneRed`); images whose file is gone are skipped as unreadable.
ScanResult scan(const CaptureOneCatalog::Catalog& catalog, bool keepPictures, const CancellationFlag& cancel,
                const ScanProgressCallback& progress, const ExactMatcher::PictureChecks& checks = {});

} // namespace vp::CaptureOneScanner
