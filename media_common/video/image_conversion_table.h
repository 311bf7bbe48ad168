#pragma once
// Which function changes one pixel format into another.
//
// Constant data; any thread.

#include "media_common/video/image_conversion_functions.h"

namespace dravo::media::image_conversion {

// The function of the first table row whose source is `from` (or the
// wildcard IMAGE_ANY) and whose target is `to` (or IMAGE_ANY); null when the
// pair cannot be converted.
ConversionFunction findConversion(ImageBuffer::PixelFormat from, ImageBuffer::PixelFormat to);

}  // namespace dravo::media::image_conversion
