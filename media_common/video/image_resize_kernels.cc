#include "media_common/video/image_resize_kernels.h"

#include <cstddef>
#include <vector>

namespace dravo::media::image_conversion {
namespace {

// Rows are blended first, into 16-bit sums (3 * near + far, at most 1020),
// then columns; both loops are plain arithmetic over arrays, which the
// compiler turns into vector code.
void blendRows(const uint8_t* near, const uint8_t* far, uint16_t* out, int width) {
  for (int x = 0; x < width; ++x) out[x] = static_cast<uint16_t>(3 * near[x] + far[x]);
}

// Sums of 16 weights per sample after both passes; +8 rounds to nearest.
void blendColumns(const uint16_t* in, uint8_t* out, int out_width) {
  for (int k = 0; k < out_width / 2; ++k) {
    out[2 * k] = static_cast<uint8_t>((3 * in[3 * k] + in[3 * k + 1] + 8) >> 4);
    out[2 * k + 1] = static_cast<uint8_t>((in[3 * k + 1] + 3 * in[3 * k + 2] + 8) >> 4);
  }
}

}  // namespace

bool isTwoThirds(int src_width, int src_height, int dst_width, int dst_height) {
  return dst_width > 0 && dst_height > 0 && 2 * src_width == 3 * dst_width &&
         2 * src_height == 3 * dst_height;
}

void shrinkTwoThirds(const uint8_t* src, int src_stride, int src_width, int src_height,
                     uint8_t* dst, int dst_stride) {
  int const dst_width = src_width / 3 * 2;
  int const dst_height = src_height / 3 * 2;
  std::vector<uint16_t> upper(static_cast<size_t>(src_width));
  std::vector<uint16_t> lower(static_cast<size_t>(src_width));
  for (int y = 0; y < dst_height; y += 2) {
    const uint8_t* row0 = src + static_cast<ptrdiff_t>(y / 2 * 3) * src_stride;
    const uint8_t* row1 = row0 + src_stride;
    const uint8_t* row2 = row1 + src_stride;
    // Output row y samples source row 0.25 of the block, row y + 1 row 1.75.
    blendRows(row0, row1, upper.data(), src_width);
    blendRows(row2, row1, lower.data(), src_width);
    uint8_t* out = dst + static_cast<ptrdiff_t>(y) * dst_stride;
    blendColumns(upper.data(), out, dst_width);
    blendColumns(lower.data(), out + dst_stride, dst_width);
  }
}

}  // namespace dravo::media::image_conversion
