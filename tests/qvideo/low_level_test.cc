#include "qvideo/low_level.h"

#include <gtest/gtest.h>

#include "tests/qvideo/test_planes.h"

namespace qvideo {
namespace {

using testing::TestI420;
using testing::TestPlane;

// Runs an I420-to-packed conversion of `in` into `out`.
template <typename Convert>
bool fromI420(Convert convert, TestI420& in, TestPlane& out) {
  return convert(in.width_, in.height_, in.y_.data(), in.y_.stride_, in.u_.data(), in.u_.stride_,
                 in.v_.data(), in.v_.stride_, out.data(), out.stride_);
}

// Round trips through every wrapper are checked, with PSNR, by the image
// conversion tests; here: absolute byte order and range, the chroma rule of
// YUYV, and arguments libyuv would misread.
TEST(LowLevelTest, LimitedRangeBt601AndByteOrders) {
  // Pure red in limited-range BT.601 is Y 81, U 90, V 240.
  TestI420 red(3, 3);  // odd: the last chroma sample covers one pixel
  for (auto [plane, level] : {std::pair{&red.y_, 81}, {&red.u_, 90}, {&red.v_, 240}})
    plane->fill([level = level](int, int) { return level; });
  TestPlane bgra(12, 3), rgb(9, 3);
  ASSERT_TRUE(fromI420(LowLevel::convertFromI420toBGRA8888, red, bgra));
  EXPECT_TRUE(bgra.at(0, 0) <= 2 && bgra.at(2, 0) >= 253 && bgra.at(3, 0) == 255);  // B G R A
  ASSERT_TRUE(fromI420(LowLevel::convertFromI420toRGB888, red, rgb));
  EXPECT_GE(rgb.at(0, 0), 253);  // R first
  EXPECT_TRUE(bgra.marginUntouched() && rgb.marginUntouched());

  // YUYV: Y as is; U and V of rows 0 and 1 averaged, the odd last row alone.
  TestPlane yuyv(4, 3);
  yuyv.fill(
      [](int x, int y) { return static_cast<uint8_t>(x % 2 == 0 ? 100 + y : 20 * x + 5 * y); });
  TestI420 out(2, 3);
  ASSERT_TRUE(LowLevel::convertFromYUYVtoI420(yuyv.data(), 2, 3, yuyv.stride_, out.y_.data(),
                                              out.y_.stride_, out.u_.data(), out.u_.stride_,
                                              out.v_.data(), out.v_.stride_));
  // U: (20 + 25) / 2, rounded up.
  EXPECT_EQ(std::make_tuple(out.y_.at(1, 2), out.u_.at(0, 0), out.v_.at(0, 1)),
            std::make_tuple(102, 23, 70));
  EXPECT_TRUE(out.marginsUntouched());
}

TEST(LowLevelTest, BadArgumentsAreRefusedWithoutWriting) {
  TestI420 out(4, 4);
  TestPlane bgra(16, 4);
  uint8_t *y = out.y_.data(), *u = out.u_.data(), *v = out.v_.data(), *src = bgra.data();
  int const ys = out.y_.stride_, us = out.u_.stride_, vs = out.v_.stride_, ss = bgra.stride_;
  auto const toI420 = LowLevel::convertFromBGRA8888toI420;
  EXPECT_FALSE(toI420(4, -4, src, ss, y, ys, u, us, v, vs));
  EXPECT_FALSE(toI420(4, 4, src, 15, y, ys, u, us, v, vs));
  EXPECT_FALSE(toI420(4, 4, src, ss, y, 3, u, us, v, vs));
  EXPECT_FALSE(toI420(4, 4, src, ss, y, ys, nullptr, us, v, vs));
  EXPECT_FALSE(LowLevel::convertFromI420toBGRA8888(4, 4, y, ys, u, us, v, 1, src, ss));
  EXPECT_FALSE(LowLevel::convertFromI420toRGB888(4, 4, y, ys, u, us, v, vs, src, 11));
  EXPECT_FALSE(LowLevel::convertFromYUYVtoI420(src, 4, 4, 7, y, ys, u, us, v, vs));
  EXPECT_FALSE(LowLevel::convertFromBGR888toBGRX8888(4, 4, src, 11, y, ys));
  EXPECT_TRUE(out.marginsUntouched());
  for (uint8_t byte : out.y_.bytes_) ASSERT_EQ(byte, testing::kCanary);
}

}  // namespace
}  // namespace qvideo
