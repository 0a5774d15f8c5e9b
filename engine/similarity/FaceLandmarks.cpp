// dlib adapter: its HOG frontal face detector and the 68-point landmark model that Debian's
// libdlib-data ships.
#include "FaceLandmarks.h"

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>

#include <filesystem>
#include <memory>
#include <mutex>

namespace vp {
namespace {

constexpr const char* landmarkModel = "/usr/share/dlib/shape_predictor_68_face_landmarks.dat";

/// The landmark model is read once (about 100 MB, a second or so) and then only read: the
/// predictor's call is const and keeps no state, so every thread shares it.
const dlib::shape_predictor* sharedPredictor() {
    static const std::unique_ptr<dlib::shape_predictor> predictor = []() -> std::unique_ptr<dlib::shape_predictor> {
        std::error_code error;
        if (!std::filesystem::is_regular_file(landmarkModel, error)) return nullptr;
        try {
            auto loaded = std::make_unique<dlib::shape_predictor>();
            dlib::deserialize(landmarkModel) >> *loaded;
            if (loaded->num_parts() != 68) return nullptr;
            return loaded;
        } catch (const std::exception&) {
            return nullptr;
        }
    }();
    return predictor.get();
}

/// The detector keeps scratch state while it runs, so a call must have a detector of its own.
/// Copies are kept here and lent out one per call; at most as many exist as calls ever ran at
/// once (the worker pool has 4 threads).
class DetectorPool {
public:
    using Detector = dlib::frontal_face_detector;

    std::unique_ptr<Detector> borrow() {
        std::lock_guard lock(m_mutex);
        if (m_idle.empty()) return std::make_unique<Detector>(m_prototype);
        auto detector = std::move(m_idle.back());
        m_idle.pop_back();
        return detector;
    }
    void giveBack(std::unique_ptr<Detector> detector) {
        std::lock_guard lock(m_mutex);
        m_idle.push_back(std::move(detector));
    }

private:
    std::mutex m_mutex;
    const Detector m_prototype = dlib::get_frontal_face_detector();
    std::vector<std::unique_ptr<Detector>> m_idle;
};

DetectorPool& detectors() {
    static DetectorPool pool;
    return pool;
}

} // namespace

std::optional<std::vector<FaceShape>> findFaces(const Bitmap& image) {
    const auto* predictor = sharedPredictor();
    if (!predictor) return std::nullopt;
    const auto width = static_cast<std::size_t>(std::max(image.width, 0));
    const auto height = static_cast<std::size_t>(std::max(image.height, 0));
    const auto channels = static_cast<std::size_t>(std::max(image.channels, 0));
    if (width == 0 || height == 0 || (channels != 1 && channels != 3) ||
        image.pixels.size() < width * height * channels)
        return std::nullopt;

    // Both models work on grey values; converting once halves what they read.
    dlib::array2d<unsigned char> grey(static_cast<long>(height), static_cast<long>(width));
    for (std::size_t y = 0; y < height; ++y)
        for (std::size_t x = 0; x < width; ++x) {
            const auto* pixel = &image.pixels[(y * width + x) * channels];
            grey[static_cast<long>(y)][static_cast<long>(x)] =
                channels == 1 ? pixel[0]
                              : static_cast<unsigned char>((299 * pixel[0] + 587 * pixel[1] + 114 * pixel[2] + 500) / 1000);
        }

    std::vector<dlib::rectangle> found;
    try {
        auto detector = detectors().borrow();
        found = (*detector)(grey);
        detectors().giveBack(std::move(detector));
    } catch (const std::exception&) {
        return std::nullopt;
    }

    std::vector<FaceShape> faces;
    for (const auto& box : found) {
        const dlib::full_object_detection shape = (*predictor)(grey, box);
        FaceShape face{static_cast<double>(box.left()), static_cast<double>(box.top()),
                       static_cast<double>(box.width()), static_cast<double>(box.height()), {}};
        for (unsigned long i = 0; i < 68 && i < shape.num_parts(); ++i)
            face.landmarks[i] = {static_cast<double>(shape.part(i).x()), static_cast<double>(shape.part(i).y())};
        faces.push_back(face);
    }
    return faces;
}

} // namespace vp
