// Turning a libvips image into the service's Bitmap. Private to the libvips adapters of this
// folder, the only files that include libvips.
#pragma once

#include "Images.h"

#include <vips/vips8>

namespace vp::ImageDecoders {

/// 8-bit sRGB with three bands whatever comes in: 16-bit, grey, CMYK, palette, with or without
/// alpha (flattened on white, as a viewer shows it). Throws vips::VError when libvips fails.
Bitmap toBitmap(vips::VImage image);

ImageFailure failure(ImageFailure::Kind kind, std::string detail);
/// libvips's message as a damaged picture's failure.
ImageFailure failure(const vips::VError& error);

} // namespace vp::ImageDecoders
