// OpenCV adapter for the BRISQUE model. The trained model and its feature ranges come from
// Debian's opencv-data package.
#include "Brisque.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/quality/qualitybrisque.hpp>

#include <algorithm>
#include <filesystem>
#include <mutex>

namespace vp::brisque {
namespace {

constexpr const char* modelFile = "/usr/share/opencv4/quality/brisque_model_live.yml";
constexpr const char* rangeFile = "/usr/share/opencv4/quality/brisque_range_live.yml";
constexpr int scoredSide = 384;

/// Loaded once: parsing the model takes longer than scoring a picture. Scoring only reads the
/// model (feature extraction allocates its own matrices and the SVM's prediction is const), so
/// one instance serves every thread.
cv::Ptr<cv::quality::QualityBRISQUE> sharedModel() {
    static const cv::Ptr<cv::quality::QualityBRISQUE> model = []() -> cv::Ptr<cv::quality::QualityBRISQUE> {
        std::error_code error;
        if (!std::filesystem::exists(modelFile, error) || !std::filesystem::exists(rangeFile, error))
            return nullptr;
        try {
            return cv::quality::QualityBRISQUE::create(modelFile, rangeFile);
        } catch (const cv::Exception&) {
            return nullptr;
        }
    }();
    return model;
}

} // namespace

std::optional<double> score(const Bitmap& image) {
    if (image.width < 16 || image.height < 16 || (image.channels != 1 && image.channels != 3) ||
        image.pixels.size() < static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) *
                                  static_cast<std::size_t>(image.channels))
        return std::nullopt;
    const auto model = sharedModel();
    if (!model) return std::nullopt;
    try {
        // OpenCV reads the pixels in place; the model looks at luminance only.
        const cv::Mat pixels(image.height, image.width, image.channels == 3 ? CV_8UC3 : CV_8UC1,
                             const_cast<std::uint8_t*>(image.pixels.data()));
        cv::Mat grey;
        if (image.channels == 3)
            cv::cvtColor(pixels, grey, cv::COLOR_RGB2GRAY);
        else
            grey = pixels;
        // The model reads at most 384 pixels a side: a third of its time at 512, and on the photos
        // we tried it still ranks blurred, noisy and over-compressed versions of a photo below the
        // original as clearly as at 512.
        const double scale = static_cast<double>(scoredSide) / std::max(grey.cols, grey.rows);
        if (scale < 1) {
            cv::Mat smaller;
            cv::resize(grey, smaller, cv::Size(), scale, scale, cv::INTER_AREA);
            grey = smaller;
        }
        return model->compute(grey)[0];
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
}

} // namespace vp::brisque
