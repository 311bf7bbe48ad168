#include "media_common/video/cursor_overlay.h"

#include <algorithm>

namespace dravo::media {

namespace {

// c + d * (255 - a) / 255, rounded, for premultiplied c <= a.
inline uint8_t over(uint32_t c, uint32_t d, uint32_t inverse_alpha) {
  uint32_t const t = d * inverse_alpha + 128;
  return static_cast<uint8_t>(std::min<uint32_t>(255, c + ((t + (t >> 8)) >> 8)));
}

}  // namespace

void blendCursor(CursorImage const& cursor, int32_t origin_x, int32_t origin_y, uint8_t* pixels,
                 int32_t stride, int32_t width, int32_t height) {
  if (cursor.width_ <= 0 || cursor.height_ <= 0 ||
      cursor.argb_.size() < static_cast<size_t>(cursor.width_) * cursor.height_)
    return;
  int64_t const left = int64_t{cursor.x_} - origin_x;
  int64_t const top = int64_t{cursor.y_} - origin_y;
  int64_t const x0 = std::max<int64_t>(0, left);
  int64_t const y0 = std::max<int64_t>(0, top);
  int64_t const x1 = std::min<int64_t>(width, left + cursor.width_);
  int64_t const y1 = std::min<int64_t>(height, top + cursor.height_);
  for (int64_t y = y0; y < y1; ++y) {
    uint32_t const* source = &cursor.argb_[static_cast<size_t>((y - top) * cursor.width_)];
    uint8_t* row = pixels + y * stride;
    for (int64_t x = x0; x < x1; ++x) {
      uint32_t const argb = source[x - left];
      uint32_t const alpha = argb >> 24;
      if (alpha == 0) continue;
      uint8_t* pixel = row + x * 4;
      uint32_t const inverse_alpha = 255 - alpha;
      pixel[0] = over(argb & 0xff, pixel[0], inverse_alpha);
      pixel[1] = over((argb >> 8) & 0xff, pixel[1], inverse_alpha);
      pixel[2] = over((argb >> 16) & 0xff, pixel[2], inverse_alpha);
    }
  }
}

}  // namespace dravo::media
