// What a running scan reports: its stage (whose raw value is the text shown) and its counts.
#pragma once

#include "engine/common/Json.h"

#include <cstdint>
#include <functional>

namespace vp {

struct ScanProgress {
    enum class Stage { preparing, discovering, reading, comparing, verifying, measuring, checkingFaces, downloading, finishing };

    Stage stage = Stage::preparing;
    std::int64_t discovered = 0;
    std::int64_t examined = 0;
    std::int64_t skipped = 0;
    std::int64_t matched = 0;
    std::int64_t downloadedBytes = 0;
    std::int64_t downloadLimit = 0;

    bool operator==(const ScanProgress&) const = default;
};

template <>
struct EnumStrings<ScanProgress::Stage> {
    using S = ScanProgress::Stage;
    static constexpr std::array cases{
        std::pair{S::preparing, std::string_view("Checking the folders")},
        std::pair{S::discovering, std::string_view("Finding pictures")},
        std::pair{S::reading, std::string_view("Reading pictures")},
        std::pair{S::comparing, std::string_view("Comparing contents")},
        std::pair{S::verifying, std::string_view("Confirming matches byte by byte")},
        std::pair{S::measuring, std::string_view("Measuring pictures for similarity")},
        std::pair{S::checkingFaces, std::string_view("Checking eyes and smiles")},
        std::pair{S::downloading, std::string_view("Downloading originals from the cloud")},
        std::pair{S::finishing, std::string_view("Finishing")},
    };
};

/// Called on the thread running the scan, never from a worker.
using ScanProgressCallback = std::function<void(const ScanProgress&)>;

} // namespace vp
