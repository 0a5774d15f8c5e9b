// A compact feature print of our own: what colours a picture has and which way its edges run.
//
// Two distributions, each normalised to sum 1 and stored as square roots, so that the distance
// between two prints is the Hellinger distance of each distribution (0 same, 1 disjoint),
// averaged:
// - colour: a 4×4×4 histogram of the sRGB values (64 bins);
// - texture: edge orientation in 8 directions, weighted by edge strength, in each quarter of
//   the picture (32 bins), so a turned or mirrored picture reads differently.
// Stored as 4 header bytes ("VPF" and the revision) and one byte per bin.
#include "FeatureExtractor.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vp::FeatureExtractor {
namespace {

constexpr std::size_t colourBins = 64;
constexpr std::size_t textureBins = 32;
constexpr std::size_t headerSize = 4;

void normaliseToRoots(std::span<double> bins) {
    double total = 0;
    for (const double bin : bins) total += bin;
    for (double& bin : bins) bin = total > 0 ? std::sqrt(bin / total) : 0;
}

float hellinger(std::span<const float> a, std::span<const float> b) {
    double squares = 0;
    for (std::size_t i = 0; i < a.size(); ++i) squares += (a[i] - b[i]) * (a[i] - b[i]);
    return static_cast<float>(std::sqrt(squares / 2));
}

} // namespace

std::optional<FeaturePrint> featurePrint(const Bitmap& image) {
    const auto width = static_cast<std::size_t>(std::max(image.width, 0));
    const auto height = static_cast<std::size_t>(std::max(image.height, 0));
    const auto channels = static_cast<std::size_t>(std::max(image.channels, 0));
    if (width < 3 || height < 3 || (channels != 1 && channels != 3) ||
        image.pixels.size() < width * height * channels)
        return std::nullopt;

    std::array<double, colourBins + textureBins> bins{};
    std::vector<float> luma(width * height);
    for (std::size_t i = 0; i < width * height; ++i) {
        const auto* pixel = &image.pixels[i * channels];
        const unsigned r = pixel[0];
        const unsigned g = channels == 3 ? pixel[1] : r;
        const unsigned b = channels == 3 ? pixel[2] : r;
        bins[(r >> 6) * 16 + (g >> 6) * 4 + (b >> 6)] += 1;
        luma[i] = 0.299f * static_cast<float>(r) + 0.587f * static_cast<float>(g) + 0.114f * static_cast<float>(b);
    }

    for (std::size_t y = 1; y + 1 < height; ++y)
        for (std::size_t x = 1; x + 1 < width; ++x) {
            const float dx = luma[y * width + x + 1] - luma[y * width + x - 1];
            const float dy = luma[(y + 1) * width + x] - luma[(y - 1) * width + x];
            const float strength = std::hypot(dx, dy);
            if (strength < 8) continue; // sensor noise and JPEG blocks, not edges
            double angle = std::atan2(dy, dx);
            if (angle < 0) angle += std::numbers::pi; // an edge has no sign
            const auto direction = std::min<std::size_t>(7, static_cast<std::size_t>(angle / std::numbers::pi * 8));
            const std::size_t quarter = (y * 2 / height) * 2 + x * 2 / width;
            bins[colourBins + quarter * 8 + direction] += strength;
        }

    normaliseToRoots(std::span(bins).first(colourBins));
    normaliseToRoots(std::span(bins).last(textureBins));
    FeaturePrint print{{'V', 'P', 'F', static_cast<std::uint8_t>(featurePrintRevision)}, featurePrintRevision};
    for (const double bin : bins) print.bytes.push_back(static_cast<std::uint8_t>(std::lround(bin * 255)));
    return print;
}

std::optional<FeaturePrintObservation> observation(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != headerSize + colourBins + textureBins || bytes[0] != 'V' || bytes[1] != 'P' ||
        bytes[2] != 'F' || bytes[3] != featurePrintRevision)
        return std::nullopt;
    FeaturePrintObservation result;
    for (const std::uint8_t byte : bytes.subspan(headerSize)) result.values.push_back(static_cast<float>(byte) / 255.0f);
    return result;
}

std::optional<float> featureDistance(const FeaturePrintObservation& a, const FeaturePrintObservation& b) {
    if (a.values.size() != colourBins + textureBins || b.values.size() != a.values.size()) return std::nullopt;
    const std::span<const float> x = a.values, y = b.values;
    return (hellinger(x.first(colourBins), y.first(colourBins)) +
            hellinger(x.last(textureBins), y.last(textureBins))) / 2;
}

} // namespace vp::FeatureExtractor
