// Faces and their 68 landmarks, behind one function so that only FaceLandmarks.cpp includes
// dlib. The landmarks follow the common 68-point layout: 0–16 jaw, 17–26 brows, 27–35 nose,
// 36–41 right eye, 42–47 left eye (as seen in the picture: 36–41 is on the left), 48–59 outer
// lips, 60–67 inner lips.
#pragma once

#include "platform/image/Images.h"

#include <array>
#include <optional>
#include <vector>

namespace vp {

struct FacePoint {
    double x = 0;
    double y = 0;
    bool operator==(const FacePoint&) const = default;
};

struct FaceShape {
    double left = 0; ///< bounds of the face in pixels of the picture searched
    double top = 0;
    double width = 0;
    double height = 0;
    std::array<FacePoint, 68> landmarks{};
    bool operator==(const FaceShape&) const = default;
};

/// Every frontal face dlib's detector finds in `image`, with its landmarks. Nothing when the
/// detector or the landmark model cannot be loaded. Safe from several threads at once.
std::optional<std::vector<FaceShape>> findFaces(const Bitmap& image);

} // namespace vp
