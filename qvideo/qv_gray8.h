#pragma once
// One 8-bit sample plane described over memory it does not own.
//
// A QvGray8 is a plain view: `width_` x `height_` samples of picture, rows
// `stride_` bytes apart, starting at `data_`. Rows [height_, padded_height_) and,
// in every row up to `padded_height_`, the bytes [width_, stride_) form the
// padding margin; they belong to the plane's memory and may be written by
// padImage_reference. A view made over someone else's memory has
// `padded_height_ == height_`. Copy it freely; whoever made it keeps the memory
// alive. Any thread may use it; writers of one plane must not overlap.

#include <cstdint>

namespace qvideo {

struct QvGray8 {
  int width_ = 0;            // samples per row of picture
  int height_ = 0;           // rows of picture
  int stride_ = 0;           // bytes from one row to the next, >= width
  int padded_height_ = 0;    // rows that may be written, >= height
  uint8_t* data_ = nullptr;  // first sample of the first row

  bool empty() const { return width_ <= 0 || height_ <= 0 || data_ == nullptr; }
  uint8_t* row(int y) const { return data_ + static_cast<intptr_t>(y) * stride_; }
};

// Fills the plane's padding margin by repeating edge samples: each row's last
// sample runs on to the end of the stride, then the last row (margin
// included) is copied into every row up to padded_height_. The picture itself
// is not changed. Does nothing for an empty plane.
void padImage_reference(const QvGray8& image);

}  // namespace qvideo
