#include "qvideo/qv_gray8.h"

#include <cstring>

namespace qvideo {

void padImage_reference(const QvGray8& image) {
  if (image.empty()) return;
  int const right_margin = image.stride_ - image.width_;
  if (right_margin > 0) {
    for (int y = 0; y < image.height_; ++y) {
      uint8_t* row = image.row(y);
      std::memset(row + image.width_, row[image.width_ - 1], right_margin);
    }
  }
  uint8_t const* last_row = image.row(image.height_ - 1);
  for (int y = image.height_; y < image.padded_height_; ++y)
    std::memcpy(image.row(y), last_row, image.stride_);
}

}  // namespace qvideo
