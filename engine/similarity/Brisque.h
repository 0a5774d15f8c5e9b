// The BRISQUE model, behind one function so that only Brisque.cpp includes OpenCV.
#pragma once

#include "platform/image/Images.h"

#include <optional>

namespace vp::brisque {

/// BRISQUE score of `image`, nominally 0 (best) to 100 (worst). Nothing when the model files
/// are missing, the picture is empty or OpenCV fails. Safe from several threads.
std::optional<double> score(const Bitmap& image);

} // namespace vp::brisque
