#pragma once
// Draws a mouse-pointer picture onto a captured BGRX picture.
//
// Plain functions on caller-owned memory; any thread.

#include <cstdint>
#include <vector>

namespace dravo::media {

// A pointer picture: premultiplied ARGB, one 32-bit value per pixel (alpha
// in the top byte), rows top to bottom without padding. (x_, y_) is where
// its top-left pixel goes, in the coordinates of the screen.
struct CursorImage {
  int32_t x_ = 0;
  int32_t y_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  std::vector<uint32_t> argb_;  // width_ * height_ values
};

// Blends `cursor` over the `width` x `height` BGRX picture at `pixels`
// (`stride` bytes from row to row) that shows the screen from
// (origin_x, origin_y) on. Parts outside the picture are left out; the
// padding byte of each written pixel is left as it was.
void blendCursor(CursorImage const& cursor, int32_t origin_x, int32_t origin_y, uint8_t* pixels,
                 int32_t stride, int32_t width, int32_t height);

}  // namespace dravo::media
