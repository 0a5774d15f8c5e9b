// Sharpness, brightness and clipping of a grey grid.
#include "FeatureExtractor.h"

#include <cassert>

namespace vp::FeatureExtractor {

Measurement measure(std::span<const float> grid, int side) {
    const auto n = static_cast<std::size_t>(side);
    assert(grid.size() == n * n);
    if (n == 0) return {};
    // Single-precision thresholds: the grid holds bytes divided by 255 in single precision, so
    // 2/255 and 253/255 themselves must count as clipped.
    constexpr float darkest = 2.0f / 255.0f;
    constexpr float brightest = 253.0f / 255.0f;

    double sum = 0;
    std::size_t clipped = 0;
    for (const float value : grid) {
        sum += value;
        if (value <= darkest || value >= brightest) ++clipped;
    }
    const double count = static_cast<double>(n * n);

    // Variance of the Laplacian: the edge contrast that blur takes away.
    double laplacianSum = 0;
    double laplacianSquares = 0;
    std::size_t interior = 0;
    for (std::size_t y = 1; y + 1 < n; ++y)
        for (std::size_t x = 1; x + 1 < n; ++x) {
            const double laplacian = 4.0 * grid[y * n + x] - grid[(y - 1) * n + x] - grid[(y + 1) * n + x] -
                                     grid[y * n + x - 1] - grid[y * n + x + 1];
            laplacianSum += laplacian;
            laplacianSquares += laplacian * laplacian;
            ++interior;
        }
    double sharpness = 0;
    if (interior > 0) {
        const double mean = laplacianSum / static_cast<double>(interior);
        sharpness = laplacianSquares / static_cast<double>(interior) - mean * mean;
    }
    return {sharpness, sum / count, static_cast<double>(clipped) / count};
}

} // namespace vp::FeatureExtractor
