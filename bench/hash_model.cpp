#include "hash_model.h"

#include "engine/similarity/FeatureExtractor.h"
#include "platform/image/Images.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <fstream>
#include <numbers>

namespace vp::bench {
namespace {

Bitmap cropped(const Bitmap& image, int left, int top, int width, int height) {
    Bitmap crop{width, height, image.channels, {}};
    crop.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                       static_cast<std::size_t>(image.channels));
    const auto rowBytes = static_cast<std::size_t>(width * image.channels);
    for (int y = 0; y < height; ++y)
        std::copy_n(image.pixels.begin() + static_cast<std::ptrdiff_t>(((top + y) * image.width + left) * image.channels),
                    rowBytes, crop.pixels.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * rowBytes));
    return crop;
}

/// The four turns of the picture's hash, drawn as the matcher draws them: a 256 grey square, the
/// 32 one from it, then the grid turned a quarter at a time.
std::optional<Turns> turnsOf(const Bitmap& image) {
    const auto square = Images::greySquare(image, 256);
    if (!square) return std::nullopt;
    auto grid = FeatureExtractor::grey(*square, 32);
    if (!grid) return std::nullopt;
    Turns turns{};
    for (std::size_t turn = 0; turn < 4; ++turn) {
        if (turn > 0) *grid = FeatureExtractor::turnedClockwise(*grid, 32);
        turns[turn] = FeatureExtractor::phash(*grid);
    }
    return turns;
}

bool bit(const Turns& turns, std::size_t i) { return (turns[i / 64] >> (i % 64) & 1) != 0; }

/// The standard normal quantile (Acklam's rational approximation, relative error below 1e-9).
double normalQuantile(double p) {
    static constexpr double a[] = {-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
                                   1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
    static constexpr double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                                   6.680131188771972e+01,  -1.328068155288572e+01};
    static constexpr double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                                   -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
    static constexpr double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                                   3.754408661907416e+00};
    p = std::clamp(p, 1e-9, 1 - 1e-9);
    if (p < 0.02425) {
        const double q = std::sqrt(-2 * std::log(p));
        return (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
               ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    }
    if (p > 1 - 0.02425) return -normalQuantile(1 - p);
    const double q = p - 0.5, r = q * q;
    return (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
           (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
}

/// Lower-triangular L with L·Lᵀ = m (n × n, row by row); false when m is not positive definite.
bool cholesky(const std::vector<double>& m, std::size_t n, std::vector<double>& lower) {
    lower.assign(n * n, 0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j <= i; ++j) {
            double sum = m[i * n + j];
            for (std::size_t k = 0; k < j; ++k) sum -= lower[i * n + k] * lower[j * n + k];
            if (i == j) {
                if (sum <= 1e-9) return false;
                lower[i * n + i] = std::sqrt(sum);
            } else {
                lower[i * n + j] = sum / lower[j * n + j];
            }
        }
    return true;
}

int leastDistance(std::uint64_t upright, const Turns& turns) {
    int least = 64;
    for (const auto turn : turns) least = std::min(least, std::popcount(upright ^ turn));
    return least;
}

bool sharesAByte(std::uint64_t upright, const Turns& turns) {
    for (const auto turn : turns)
        for (int position = 0; position < 8; ++position)
            if (((upright ^ turn) >> (8 * position) & 0xff) == 0) return true;
    return false;
}

} // namespace

std::vector<HashSample> realHashes(const std::vector<std::string>& paths, int cropsPerPicture, unsigned seed) {
    std::mt19937_64 random(seed);
    std::vector<HashSample> samples;
    for (const auto& path : paths) {
        const auto image = Images::thumbnail(path, FeatureExtractor::renditionSize);
        if (!image || image->width < 32 || image->height < 32) continue;
        if (const auto turns = turnsOf(*image)) samples.push_back({path, *turns});
        std::uniform_real_distribution<double> share(0.35, 1.0), place(0.0, 1.0);
        for (int crop = 0; crop < cropsPerPicture; ++crop) {
            const int width = std::max(16, static_cast<int>(share(random) * image->width));
            const int height = std::max(16, static_cast<int>(share(random) * image->height));
            const int left = static_cast<int>(place(random) * (image->width - width));
            const int top = static_cast<int>(place(random) * (image->height - height));
            if (const auto turns = turnsOf(cropped(*image, left, top, width, height))) samples.push_back({path, *turns});
        }
    }
    return samples;
}

HashModel HashModel::fit(const std::vector<HashSample>& samples) {
    HashModel model;
    const auto count = static_cast<double>(samples.size());
    std::array<double, bits> p{};
    for (const auto& s : samples)
        for (std::size_t i = 0; i < bits; ++i) p[i] += bit(s.turns, i) ? 1 : 0;
    for (auto& share : p) share = std::clamp(share / count, 0.5 / count, 1 - 0.5 / count);
    std::vector<double> both(bits * bits, 0);
    for (const auto& s : samples)
        for (std::size_t i = 0; i < bits; ++i)
            if (bit(s.turns, i))
                for (std::size_t j = 0; j < bits; ++j) both[i * bits + j] += bit(s.turns, j) ? 1 : 0;
    // The bits' correlations turned into the latent normals' (exact for balanced bits: a sign's
    // correlation is 2/π·asin of its normal's), then shrunk towards independence until the
    // matrix is positive definite.
    std::vector<double> latent(bits * bits, 0);
    for (std::size_t i = 0; i < bits; ++i)
        for (std::size_t j = 0; j < bits; ++j) {
            if (i == j) {
                latent[i * bits + j] = 1;
                continue;
            }
            const double covariance = both[i * bits + j] / count - p[i] * p[j];
            const double phi = covariance / std::sqrt(p[i] * (1 - p[i]) * p[j] * (1 - p[j]));
            latent[i * bits + j] = std::sin(std::numbers::pi / 2 * std::clamp(phi, -1.0, 1.0));
        }
    for (double shrink = 1.0;; shrink *= 0.98) {
        std::vector<double> shrunk = latent;
        for (std::size_t i = 0; i < bits; ++i)
            for (std::size_t j = 0; j < bits; ++j)
                if (i != j) shrunk[i * bits + j] *= shrink;
        if (cholesky(shrunk, bits, model.m_lower)) break;
    }
    for (std::size_t i = 0; i < bits; ++i) model.m_threshold[i] = normalQuantile(1 - p[i]);
    return model;
}

Turns HashModel::sample(std::mt19937_64& random) const {
    std::normal_distribution<double> normal;
    std::array<double, bits> z{};
    for (auto& value : z) value = normal(random);
    Turns turns{};
    for (std::size_t i = 0; i < bits; ++i) {
        const double* row = m_lower.data() + i * bits;
        double x = 0;
        for (std::size_t k = 0; k <= i; ++k) x += row[k] * z[k];
        if (x > m_threshold[i]) turns[i / 64] |= std::uint64_t{1} << (i % 64);
    }
    return turns;
}

bool HashModel::save(const std::string& path) const {
    std::ofstream out(path);
    out.precision(17);
    out << "hash-model 1 " << bits << "\n";
    for (const double t : m_threshold) out << t << "\n";
    for (std::size_t i = 0; i < bits; ++i)
        for (std::size_t k = 0; k <= i; ++k) out << m_lower[i * bits + k] << (k == i ? "\n" : " ");
    return static_cast<bool>(out);
}

bool HashModel::load(const std::string& path) {
    std::ifstream in(path);
    std::string magic;
    int version = 0;
    std::size_t size = 0;
    if (!(in >> magic >> version >> size) || magic != "hash-model" || version != 1 || size != bits) return false;
    for (double& t : m_threshold)
        if (!(in >> t)) return false;
    m_lower.assign(bits * bits, 0);
    for (std::size_t i = 0; i < bits; ++i)
        for (std::size_t k = 0; k <= i; ++k)
            if (!(in >> m_lower[i * bits + k])) return false;
    return true;
}

HashStatistics statistics(const std::vector<HashSample>& samples, std::size_t pairLimit) {
    HashStatistics s;
    s.pictures = samples.size();
    if (samples.size() < 2) return s;
    for (int position = 0; position < 8; ++position) {
        std::array<double, 256> count{};
        for (const auto& sample : samples) ++count[sample.turns[0] >> (8 * position) & 0xff];
        for (const double c : count) s.bucketShare += (c / double(samples.size())) * (c / double(samples.size())) / 8;
    }
    for (const auto& sample : samples) s.meanSetBits += std::popcount(sample.turns[0]) / double(samples.size());
    const std::size_t all = samples.size() * (samples.size() - 1) / 2;
    const std::size_t step = std::max<std::size_t>(1, all / pairLimit);
    double pairs = 0, sum = 0, squares = 0, within = 0, broad = 0, sharing = 0, proposed = 0;
    std::size_t n = 0;
    for (std::size_t a = 0; a < samples.size(); ++a)
        for (std::size_t b = a + 1; b < samples.size(); ++b, ++n) {
            if (n % step != 0 || samples[a].source == samples[b].source) continue;
            const int ab = leastDistance(samples[a].turns[0], samples[b].turns);
            const int ba = leastDistance(samples[b].turns[0], samples[a].turns);
            const bool abShares = sharesAByte(samples[b].turns[0], samples[a].turns);
            const bool baShares = sharesAByte(samples[a].turns[0], samples[b].turns);
            pairs += 1;
            sum += ab;
            squares += double(ab) * ab;
            within += ab <= 20 ? 1 : 0;
            broad += ab <= 16 ? 1 : 0;
            sharing += abShares || baShares ? 1 : 0;
            proposed += (ab <= 20 && abShares) || (ba <= 20 && baShares) ? 1 : 0;
        }
    s.meanLeast = sum / pairs;
    s.deviationLeast = std::sqrt(std::max(0.0, squares / pairs - s.meanLeast * s.meanLeast));
    s.withinCandidate = within / pairs;
    s.withinBroad = broad / pairs;
    s.sharingAByte = sharing / pairs;
    s.proposed = proposed / pairs;
    return s;
}

} // namespace vp::bench
