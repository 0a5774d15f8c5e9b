// The measuring pipeline: one small rendition, three grey squares, hashes in four turns,
// sharpness and exposure, then the optional feature print and the quality score.
#include "FeatureExtractor.h"

#include "QualityScore.h"

#include <utility>

namespace vp::FeatureExtractor {
namespace {

template <class Word>
std::vector<Word> inAllTurns(std::vector<float> grid, int side, Word (*hash)(std::span<const float>)) {
    std::vector<Word> turns;
    turns.reserve(4);
    for (int turn = 0; turn < 4; ++turn) {
        if (turn > 0) grid = turnedClockwise(grid, side);
        turns.push_back(hash(grid));
    }
    return turns;
}

std::vector<std::uint64_t> detailWords(std::span<const float> grid) {
    const auto words = detailHash(grid);
    return {words.begin(), words.end()};
}

std::optional<Bitmap> greyBitmap(const Bitmap& image, int side) {
    auto square = Images::greySquare(image, side);
    if (!square || square->channels != 1 || square->width != side || square->height != side ||
        square->pixels.size() != static_cast<std::size_t>(side) * static_cast<std::size_t>(side))
        return std::nullopt;
    return std::move(*square);
}

std::optional<std::vector<float>> greyValues(const std::optional<Bitmap>& square) {
    if (!square) return std::nullopt;
    std::vector<float> values(square->pixels.size());
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(square->pixels[i]) / 255.0f;
    return values;
}

} // namespace

std::optional<std::vector<float>> grey(const Bitmap& image, int side) { return greyValues(greyBitmap(image, side)); }

std::optional<ImageFeatures> features(const std::string& path, WithFeaturePrint withFeaturePrint) {
    auto thumbnail = Images::thumbnail(path, renditionSize);
    if (!thumbnail) return std::nullopt;
    const auto properties = Images::properties(path);

    std::int64_t width = thumbnail->width;
    std::int64_t height = thumbnail->height;
    std::optional<std::string> exifDateTime;
    if (properties) {
        width = properties->pixelWidth.value_or(width);
        height = properties->pixelHeight.value_or(height);
        // Orientations 5 to 8 turn the stored picture a quarter: it is seen the other way up.
        if (properties->orientation && *properties->orientation >= 5 && *properties->orientation <= 8)
            std::swap(width, height);
        exifDateTime = properties->dateTimeOriginal;
    }
    return features(*thumbnail, width, height, captureDate(exifDateTime), withFeaturePrint);
}

std::optional<ImageFeatures> features(const Bitmap& image, std::int64_t width, std::int64_t height,
                                      std::optional<Timestamp> date, WithFeaturePrint withFeaturePrint) {
    // Only the 256 rendition is drawn from the thumbnail; the 64 and 32 ones are drawn from it.
    // Turning the colour thumbnail grey costs far more than drawing a small grey square, and
    // smooth reductions compose, so the small renditions come out as smooth either way.
    const auto square256 = greyBitmap(image, 256);
    if (!square256) return std::nullopt;
    auto grey32 = greyValues(greyBitmap(*square256, 32));
    auto grey64 = greyValues(greyBitmap(*square256, 64));
    const auto grey256 = greyValues(square256);
    if (!grey32 || !grey64 || !grey256) return std::nullopt;

    ImageFeatures result;
    result.hashes = inAllTurns<std::uint64_t>(std::move(*grey32), 32, &phash);
    result.detailHashes = inAllTurns<std::vector<std::uint64_t>>(std::move(*grey64), 64, &detailWords);
    const Measurement measurement = measure(*grey256, 256);
    result.sharpness = measurement.sharpness;
    result.meanLuma = measurement.mean;
    result.clipped = measurement.clipped;
    result.captureDate = date;
    result.pixelWidth = width;
    result.pixelHeight = height;

    if (withFeaturePrint == WithFeaturePrint::yes)
        if (auto print = featurePrint(image)) {
            result.featurePrint = std::move(print->bytes);
            result.featurePrintRevision = print->revision;
        }
    if (const auto quality = QualityScore::score(image)) {
        result.qualityScore = quality->score;
        result.isUtility = quality->isUtility;
        result.qualityRevision = quality->revision;
    }
    result.version = ImageFeatures::pipelineVersion;
    return result;
}

} // namespace vp::FeatureExtractor
