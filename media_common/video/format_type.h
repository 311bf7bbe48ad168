#pragma once
// The description of a picture: size, pixel aspect, pixel format, plane
// layout and the bytes a buffer of it needs. Pads negotiate with these.
//
// Re-exported as `ImageBuffer::Plane` and `ImageBuffer::FormatType`. Plain
// values; any thread.

#include <cstdint>
#include <ostream>
#include <vector>

#include "media_common/video/pixel_format.h"

namespace dravo::media::image_format {

// One sample plane inside an image's data.
struct Plane {
  Plane() = default;
  Plane(int32_t width, int32_t height, int32_t offset, int32_t stride)
      : width_(width), height_(height), offset_(offset), stride_(stride) {}
  bool operator==(const Plane& other) const = default;

  int32_t width_ = 0;   // samples per row
  int32_t height_ = 0;  // rows
  int32_t offset_ = 0;  // bytes from the image's data pointer to the first sample
  int32_t stride_ = 0;  // bytes from one row to the next
};

struct FormatType {
  // True when width, height, pixel format, pixel aspect and every plane are
  // equal; `min_allocation_` does not count.
  bool operator==(const FormatType& other) const;
  bool operator!=(const FormatType& other) const { return !(*this == other); }

  bool isI420Variant() const { return image_format::isI420Variant(pixel_format_); }
  // True when `other` has this size and pixel aspect and its pixel format is
  // this one or a stricter I420 layout of it. Planes are not compared.
  bool isSameOrMoreSpecificI420Format(const FormatType& other) const;

  int32_t width_ = 0;   // negative until detected from JPEG data
  int32_t height_ = 0;  // negative until detected from JPEG data
  float pixel_aspect_ = 1.0f;
  PixelFormat pixel_format_ = IMAGE_UNKNOWN;
  std::vector<Plane> planes_;
  int32_t min_allocation_ = 0;
};

// e.g. "4x2 YV12 pix_aspect=1 min_allocation=12 ([4x2 ofs=0 stride=4],[2x1 ofs=8 stride=2],...)"
std::ostream& operator<<(std::ostream& out, const FormatType& format);

// Fills `planes_` and `min_allocation_` with the default layout of the
// format's pixel format at its size; constrained I420 also adjusts the size.
// Unknown and wildcard formats get no planes and a warning on "video".
void setupDefaultPlanes(FormatType& format);

// The default format of a pixel format at a size, pixel aspect 1.0.
FormatType defaultFormat(int width, int height, PixelFormat pixel_format);

}  // namespace dravo::media::image_format
