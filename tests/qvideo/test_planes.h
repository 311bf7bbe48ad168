#pragma once
// Plane buffers for the qvideo tests: rows wider than the picture and a
// spare row below, all pre-filled with a canary so unwritten bytes show.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace qvideo::testing {

inline constexpr uint8_t kCanary = 0xA5;

// `row_bytes` of picture per row, 7 canary bytes after each row and one
// spare canary row below the picture.
struct TestPlane {
  TestPlane(int row_bytes, int rows)
      : row_bytes_(row_bytes),
        rows_(rows),
        stride_(row_bytes + 7),
        bytes_(stride_ * (rows + 1), kCanary) {}

  uint8_t* data() { return bytes_.data(); }
  uint8_t& at(int x, int y) const { return bytes_[y * stride_ + x]; }

  void fill(const std::function<uint8_t(int x, int y)>& value) {
    for (int y = 0; y < rows_; ++y)
      for (int x = 0; x < row_bytes_; ++x) at(x, y) = value(x, y);
  }
  // Every byte outside the picture still holds the canary.
  ::testing::AssertionResult marginUntouched() const {
    for (int y = 0; y <= rows_; ++y)
      for (int x = 0; x < stride_; ++x)
        if ((x >= row_bytes_ || y >= rows_) && at(x, y) != kCanary)
          return ::testing::AssertionFailure() << "byte at x=" << x << " y=" << y << " written";
    return ::testing::AssertionSuccess();
  }

  int row_bytes_, rows_, stride_;
  mutable std::vector<uint8_t> bytes_;
};

// Y, U and V planes of a width x height I420 picture.
struct TestI420 {
  TestI420(int width, int height)
      : width_(width),
        height_(height),
        y_(width, height),
        u_((width + 1) / 2, (height + 1) / 2),
        v_((width + 1) / 2, (height + 1) / 2) {}

  ::testing::AssertionResult marginsUntouched() const {
    for (const TestPlane* plane : {&y_, &u_, &v_})
      if (auto result = plane->marginUntouched(); !result) return result;
    return ::testing::AssertionSuccess();
  }

  int width_, height_;
  TestPlane y_, u_, v_;
};

}  // namespace qvideo::testing
