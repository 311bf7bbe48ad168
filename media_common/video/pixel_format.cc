#include "media_common/video/pixel_format.h"

#include <algorithm>
#include <cmath>

namespace dravo::media::image_format {

std::ostream& operator<<(std::ostream& out, const PixelFormat& format) {
  uint32_t const code = format;
  char const text[4] = {static_cast<char>(code & 0xFF), static_cast<char>((code >> 8) & 0xFF),
                        static_cast<char>((code >> 16) & 0xFF),
                        static_cast<char>((code >> 24) & 0xFF)};
  return out.write(text, 4);
}

float estimatedBytesPerPixel(PixelFormat format) {
  switch (format) {
    case IMAGE_I420:
    case IMAGE_ALIGNED_I420:
    case IMAGE_CONSTRAINED_I420:
      return 1.5f;
    case IMAGE_RGB24:
    case IMAGE_BGR24:
      return 3.0f;
    case IMAGE_BGRX32:
    case IMAGE_BGRA32:
    case IMAGE_PLATFORM_BUFFER:
      return 4.0f;
    case IMAGE_YUYV:
      return 2.0f;
    case IMAGE_JPEG:
    case IMAGE_MJPEG:
      return 0.2f;
    case IMAGE_QV1:
      return 0.1f;
    case IMAGE_UNKNOWN:
    case IMAGE_ANY:
      break;
  }
  return 10.0f;
}

bool isI420Variant(PixelFormat format) {
  return format == IMAGE_I420 || format == IMAGE_ALIGNED_I420 || format == IMAGE_CONSTRAINED_I420;
}

bool isSameOrMoreSpecificI420Format(PixelFormat a, PixelFormat b) {
  if (a == b) return true;
  return (a == IMAGE_ALIGNED_I420 || a == IMAGE_CONSTRAINED_I420) && b == IMAGE_I420;
}

PixelFormat idealFormat(PixelFormat format, unsigned width, unsigned height) {
  if (format == IMAGE_I420 && width % 8 == 0 && height % 2 == 0) return IMAGE_CONSTRAINED_I420;
  return format;
}

void constrainW8H2(unsigned width, unsigned height, unsigned* out_width, unsigned* out_height) {
  if (width % 8 == 0 && height % 2 == 0) {
    *out_width = width;
    *out_height = height;
    return;
  }
  unsigned const w = width & ~7u;
  // width is not 0 here: 0 is a multiple of 8, so an odd height with zero
  // width would divide by zero below; it keeps its even-rounded height.
  if (width == 0) {
    *out_width = 0;
    *out_height = height & ~1u;
    return;
  }
  float const half_height = static_cast<float>(w * height) / (2.0f * static_cast<float>(width));
  unsigned const follow = 2u * static_cast<unsigned>(llroundf(half_height));
  *out_width = w;
  *out_height = std::min(height & ~1u, follow);
}

}  // namespace dravo::media::image_format
