#include "QualityScore.h"

#include "Brisque.h"

#include <algorithm>
#include <cmath>

namespace vp::QualityScore {

std::int64_t points(float raw) {
    // NaN compares false with everything; it is no score at all, so it gets the least.
    if (std::isnan(raw) || raw <= -1) return 0;
    return std::lround((std::min(raw, 1.0f) + 1.0f) * 50.0f);
}

float rawFromBrisque(double brisque) { return static_cast<float>(1.0 - brisque / 50.0); }

bool looksLikeUtility(const Bitmap& image) {
    const auto width = static_cast<std::size_t>(std::max(image.width, 0));
    const auto height = static_cast<std::size_t>(std::max(image.height, 0));
    const auto channels = static_cast<std::size_t>(std::max(image.channels, 0));
    if (width < 2 || height < 2 || channels == 0 || image.pixels.size() < width * height * channels) return false;
    const auto same = [&](std::size_t a, std::size_t b) {
        return std::equal(&image.pixels[a * channels], &image.pixels[a * channels] + channels,
                          &image.pixels[b * channels]);
    };
    // A pixel is flat when its right and lower neighbours have exactly its colour.
    std::size_t flat = 0;
    for (std::size_t y = 0; y + 1 < height; ++y)
        for (std::size_t x = 0; x + 1 < width; ++x) {
            const std::size_t i = y * width + x;
            if (same(i, i + 1) && same(i, i + width)) ++flat;
        }
    return flat * 2 >= (width - 1) * (height - 1);
}

std::optional<Reading> score(const Bitmap& image) {
    const auto brisque = brisque::score(image);
    if (!brisque || !std::isfinite(*brisque)) return std::nullopt;
    return Reading{points(rawFromBrisque(*brisque)), looksLikeUtility(image), revision};
}

} // namespace vp::QualityScore
