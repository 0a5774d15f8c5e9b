#include "ImageCompression.h"

#include "engine/common/Text.h"
#include "engine/scan/ParallelMap.h"
#include "platform/image/Images.h"
#include "platform/media/HeicEncoder.h"

#include <algorithm>
#include <mutex>
#include <numeric>
#include <sys/stat.h>

namespace vp {

std::string ImageItem::name() const { return lastPathComponent(path); }
std::string ImageItem::folder() const { return deletingLastPathComponent(path); }
std::string ImageItem::target() const {
    return deletingLastPathComponent(path) + "/" + deletingPathExtension(lastPathComponent(path)) + ".heic";
}
std::int64_t ImageItem::estimatedSavings() const {
    return estimatedSize ? std::max<std::int64_t>(0, snapshot.size - *estimatedSize) : 0;
}

std::vector<ImageItem> ImageScan::candidates() const {
    std::vector<ImageItem> found;
    std::copy_if(images.begin(), images.end(), std::back_inserter(found), [](const ImageItem& i) { return i.isCandidate(); });
    return found;
}

ImageCompressionPlan::ImageCompressionPlan(const std::vector<ImageItem>& candidates, std::vector<std::string> roots, Timestamp now)
    : id(Uuid::random()), created(now), roots(std::move(roots)) {
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(images),
                 [](const ImageItem& image) { return image.isCandidate(); });
}

std::int64_t ImageCompressionPlan::estimatedSavings() const {
    return std::accumulate(images.begin(), images.end(), std::int64_t{0},
                           [](std::int64_t sum, const ImageItem& image) { return sum + image.estimatedSavings(); });
}

std::int64_t ImageCompressionPlan::totalBytes() const {
    return std::accumulate(images.begin(), images.end(), std::int64_t{0},
                           [](std::int64_t sum, const ImageItem& image) { return sum + image.snapshot.size; });
}

namespace ImageEncoder {

bool isAvailable() { return HeicEncoder::isAvailable(); }

std::optional<std::int64_t> encodedSize(const std::string& path) { return HeicEncoder::encodedSize(path); }

std::optional<std::string> write(const std::string& path, const std::string& to) {
    const auto failure = HeicEncoder::write(path, to);
    if (!failure) return std::nullopt;
    switch (*failure) {
    case HeicEncoder::WriteFailure::unavailable: return "This computer cannot write HEIC.";
    case HeicEncoder::WriteFailure::unreadable: return "It could not be read.";
    case HeicEncoder::WriteFailure::severalImages: return "It holds more than one image.";
    case HeicEncoder::WriteFailure::notWritten: return "The HEIC copy could not be written.";
    }
    return "The HEIC copy could not be written.";
}

std::optional<std::string> verify(const std::string& copy, const std::string& original, std::int64_t originalSize) {
    struct stat status {};
    const std::int64_t size = ::lstat(copy.c_str(), &status) == 0 ? status.st_size : 0;
    if (size == 0) return "The HEIC copy was empty.";
    // In whole numbers: the copy must be smaller than 85% (17/20) of the original.
    if (size * 20 >= originalSize * 17) return "The HEIC copy was not small enough to be worth it, so the original was kept.";
    const auto copied = Images::properties(copy);
    if (!copied) return "The HEIC copy could not be read back.";
    if (!Images::thumbnail(copy, 64)) return "The HEIC copy does not decode.";
    const auto source = Images::properties(original);
    if (!source) return "The HEIC copy could not be read back.";
    // Copies are stored upright (HEIF viewers ignore the EXIF tag): a copy must have the size the
    // original is shown with, and a copy still lying on its side has lost the orientation.
    const bool quarterTurn = source->orientation.value_or(1) >= 5;
    const auto shownWidth = quarterTurn ? source->pixelHeight : source->pixelWidth;
    const auto shownHeight = quarterTurn ? source->pixelWidth : source->pixelHeight;
    const bool upright = copied->orientation.value_or(1) == 1;
    if (quarterTurn && copied->pixelWidth == source->pixelWidth && copied->pixelHeight == source->pixelHeight)
        return "The HEIC copy lost its orientation.";
    if (copied->pixelWidth != shownWidth || copied->pixelHeight != shownHeight)
        return "The HEIC copy has a different size in pixels.";
    if (source->orientation.value_or(1) != 1 && !upright) return "The HEIC copy lost its orientation.";
    if (source->dateTimeOriginal && !copied->dateTimeOriginal) return "The HEIC copy lost its capture date.";
    return std::nullopt;
}

} // namespace ImageEncoder

namespace ImageScanner {

namespace {

bool fromCatalogOrLibrary(const PhotoAsset& asset) { return asset.library || asset.lightroom || asset.captureOne; }

std::optional<ImageItem> listed(const PhotoAsset& asset) {
    if (fromCatalogOrLibrary(asset)) return std::nullopt;
    if (asset.format != PhotoFormat::jpeg && asset.format != PhotoFormat::tiff && asset.format != PhotoFormat::png)
        return std::nullopt;
    ImageItem item{asset.path, asset.root, asset.snapshot, asset.format, asset.pixelWidth.value_or(0),
                   asset.pixelHeight.value_or(0), std::nullopt, false, std::nullopt, asset.isCloudSynced};
    struct stat status {};
    if (asset.format == PhotoFormat::png) item.leftAlone = std::string(pngReason);
    else if (item.snapshot.size <= smallFile) item.leftAlone = std::string(smallReason);
    else if (item.width > 0 && item.height > 0 &&
             static_cast<double>(item.snapshot.size) * 8.0 / static_cast<double>(item.width * item.height) < 1.0)
        item.leftAlone = std::string(wellCompressedReason);
    else if (::lstat(item.target().c_str(), &status) == 0)
        item.leftAlone = lastPathComponent(item.target()) + " is already beside it";
    else if (!ImageEncoder::isAvailable())
        item.leftAlone = std::string(cannotWriteReason);
    return item;
}

} // namespace

ImageScan scan(const std::vector<PhotoAsset>& assets, const std::vector<std::string>& roots, const CancellationFlag& cancel,
               const Progress& progress) {
    ImageScan result{roots, {}, 0};
    std::vector<std::size_t> toEstimate;
    for (const auto& asset : assets)
        if (auto item = listed(asset)) {
            if (!item->leftAlone) toEstimate.push_back(result.images.size());
            result.images.push_back(std::move(*item));
        }

    // Every stride-th item, at most 16 of them, spread over the whole list.
    const std::size_t stride = std::max(toEstimate.size(), sampleCount) / sampleCount;
    std::vector<std::size_t> sample;
    for (std::size_t at = 0; at < toEstimate.size() && sample.size() < sampleCount; at += stride) sample.push_back(toEstimate[at]);

    std::mutex counting;
    std::int64_t done = 0;
    const auto total = static_cast<std::int64_t>(sample.size());
    const auto sizes = ExactMatcher::parallelMap(sample, &cancel, [&](std::size_t index) {
        auto size = ImageEncoder::encodedSize(result.images[index].path);
        std::int64_t now = 0;
        {
            std::lock_guard lock(counting);
            now = ++done;
        }
        if (progress) progress(now, total);
        return size;
    });
    std::int64_t encodedBytes = 0, originalBytes = 0;
    for (std::size_t i = 0; i < sample.size(); ++i) {
        if (!sizes[i] || !*sizes[i]) continue;
        ImageItem& item = result.images[sample[i]];
        item.estimatedSize = **sizes[i];
        item.measured = true;
        encodedBytes += **sizes[i];
        originalBytes += item.snapshot.size;
        ++result.sampled;
    }
    for (const std::size_t index : toEstimate) {
        ImageItem& item = result.images[index];
        if (originalBytes == 0) {
            item.leftAlone = std::string(unmeasuredReason);
            continue;
        }
        if (!item.measured)
            item.estimatedSize = static_cast<std::int64_t>(static_cast<double>(item.snapshot.size) *
                                                           (static_cast<double>(encodedBytes) / static_cast<double>(originalBytes)));
        if (*item.estimatedSize * 20 > item.snapshot.size * 17) item.leftAlone = std::string(tooLittleReason);
    }
    return result;
}

} // namespace ImageScanner

} // namespace vp
