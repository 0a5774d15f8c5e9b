// The two perceptual hashes. Only the lowest frequencies of the DCT-II are computed (8×8 of a
// 32-point transform, 16×16 of a 64-point one): the hash needs nothing else, and the separable
// form costs N·N·K + N·K·K products instead of a full transform's N⁴.
#include "Cosines.h"
#include "FeatureExtractor.h"

#include <algorithm>
#include <cassert>

namespace vp::FeatureExtractor {
namespace {

/// Coefficient [u][v] at index K·u + v. Sums run in single precision, in index order.
template <std::size_t N, std::size_t K>
std::array<float, K * K> lowFrequencies(std::span<const float> grid,
                                        const std::array<std::array<float, N>, K>& table) {
    assert(grid.size() == N * N);
    std::array<std::array<float, K>, N> rows{}; // rows[y][v]: horizontal frequency v of row y
    for (std::size_t y = 0; y < N; ++y)
        for (std::size_t v = 0; v < K; ++v) {
            float sum = 0;
            for (std::size_t x = 0; x < N; ++x) sum += grid[y * N + x] * table[v][x];
            rows[y][v] = sum;
        }
    std::array<float, K * K> coefficients{};
    for (std::size_t u = 0; u < K; ++u)
        for (std::size_t v = 0; v < K; ++v) {
            float sum = 0;
            for (std::size_t y = 0; y < N; ++y) sum += table[u][y] * rows[y][v];
            coefficients[K * u + v] = sum;
        }
    return coefficients;
}

/// The median leaves the DC term out: it carries the overall brightness, which would otherwise
/// pull the threshold. It still takes part in the bits.
template <std::size_t Count>
float medianAfterDc(const std::array<float, Count>& coefficients) {
    std::array<float, Count - 1> rest{};
    std::copy(coefficients.begin() + 1, coefficients.end(), rest.begin());
    const auto middle = rest.begin() + static_cast<std::ptrdiff_t>((Count - 1) / 2);
    std::nth_element(rest.begin(), middle, rest.end());
    return *middle;
}

} // namespace

std::vector<float> turnedClockwise(std::span<const float> grid, int side) {
    const auto n = static_cast<std::size_t>(side);
    assert(grid.size() == n * n);
    std::vector<float> turned(grid.size());
    // Row r, column c goes to row c, column n − 1 − r.
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c) turned[c * n + (n - 1 - r)] = grid[r * n + c];
    return turned;
}

std::uint64_t phash(std::span<const float> grid) {
    const auto coefficients = lowFrequencies<32, 8>(grid, cosines());
    const float median = medianAfterDc(coefficients);
    std::uint64_t hash = 0;
    for (std::size_t i = 0; i < coefficients.size(); ++i)
        if (coefficients[i] > median) hash |= std::uint64_t{1} << i;
    return hash;
}

std::array<std::uint64_t, 4> detailHash(std::span<const float> grid) {
    const auto coefficients = lowFrequencies<64, 16>(grid, cosines64());
    const float median = medianAfterDc(coefficients);
    std::array<std::uint64_t, 4> words{};
    for (std::size_t i = 0; i < coefficients.size(); ++i)
        if (coefficients[i] > median) words[i / 64] |= std::uint64_t{1} << (i % 64);
    return words;
}

} // namespace vp::FeatureExtractor
