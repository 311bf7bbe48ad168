#include "qvideo/low_level.h"

#include <gtest/gtest.h>

#include "tests/qvideo/test_planes.h"

namespace qvideo {
namespace {

using testing::maxDifference;
using testing::TestI420;
using testing::TestPlane;

// Runs an I420-to-packed conversion of `in` into `out`.
template <typename Convert>
bool fromI420(Convert convert, TestI420& in, TestPlane& out) {
  return convert(in.width_, in.height_, in.y_.data(), in.y_.stride(), in.u_.data(), in.u_.stride(),
                 in.v_.data(), in.v_.stride(), out.data(), out.stride());
}

// Runs a packed-to-I420 conversion of `in` into `out`.
template <typename Convert>
bool toI420(Convert convert, TestPlane& in, TestI420& out) {
  return convert(out.width_, out.height_, in.data(), in.stride(), out.y_.data(), out.y_.stride(),
                 out.u_.data(), out.u_.stride(), out.v_.data(), out.v_.stride());
}

int maxPictureDifference(TestI420 const& a, TestI420 const& b) {
  return std::max(
      {maxDifference(a.y_, b.y_), maxDifference(a.u_, b.u_), maxDifference(a.v_, b.v_)});
}

// The wrappers pick libyuv's call for each byte order: a round trip through
// each packed layout comes back within rounding, odd sizes included, and
// nothing outside the pictures is written.
TEST(LowLevelTest, I420ThroughBgraBgrxAndRgbComesBackWithinRounding) {
  for (auto [width, height] : {std::pair{17, 9}, std::pair{1, 1}}) {
    SCOPED_TRACE(width);
    TestI420 source(width, height), back(width, height), back_bgrx(width, height),
        back_bgr(width, height);
    source.fillGradient();
    TestPlane bgra(4 * width, height), rgb(3 * width, height), bgr(3 * width, height);
    ASSERT_TRUE(fromI420(LowLevel::convertFromI420toBGRA8888, source, bgra));
    ASSERT_TRUE(toI420(LowLevel::convertFromBGRA8888toI420, bgra, back));
    EXPECT_LE(maxPictureDifference(source, back), 3);
    for (int x = 3; x < 4 * width; x += 4) bgra.at(x, 0) = 0;  // BGRX ignores the fourth byte
    ASSERT_TRUE(toI420(LowLevel::convertFromBGRX8888toI420, bgra, back_bgrx));
    EXPECT_EQ(maxPictureDifference(back, back_bgrx), 0);

    ASSERT_TRUE(fromI420(LowLevel::convertFromI420toRGB888, source, rgb));
    // Swap R and B to get the BGR888 layout the way back takes.
    bgr.fill([&](int x, int y) { return rgb.at(x - x % 3 + 2 - x % 3, y); });
    ASSERT_TRUE(toI420(LowLevel::convertFromBGR888toI420, bgr, back_bgr));
    EXPECT_LE(maxPictureDifference(source, back_bgr), 3);
    EXPECT_TRUE(bgra.marginUntouched());
    EXPECT_TRUE(rgb.marginUntouched());
    EXPECT_TRUE(back_bgr.marginsUntouched());
  }
}

TEST(LowLevelTest, LimitedRangeBt601AndByteOrders) {
  // Pure red in limited-range BT.601 is Y 81, U 90, V 240.
  TestI420 red(2, 2);
  red.y_.fill([](int, int) { return 81; });
  red.u_.fill([](int, int) { return 90; });
  red.v_.fill([](int, int) { return 240; });
  TestPlane bgra(8, 2), rgb(6, 2);
  ASSERT_TRUE(fromI420(LowLevel::convertFromI420toBGRA8888, red, bgra));
  EXPECT_LE(bgra.at(0, 0), 2);    // B
  EXPECT_GE(bgra.at(2, 0), 253);  // R
  EXPECT_EQ(bgra.at(3, 0), 255);  // A
  ASSERT_TRUE(fromI420(LowLevel::convertFromI420toRGB888, red, rgb));
  EXPECT_GE(rgb.at(0, 0), 253);  // R first

  // BGR888 "B,G,R" in memory becomes BGRX "B,G,R,255".
  TestPlane packed(3, 1), bgrx(4, 1);
  packed.fill([](int x, int) { return static_cast<uint8_t>(10 + x); });
  ASSERT_TRUE(LowLevel::convertFromBGR888toBGRX8888(1, 1, packed.data(), packed.stride(),
                                                    bgrx.data(), bgrx.stride()));
  for (int c = 0; c < 4; ++c) EXPECT_EQ(bgrx.at(c, 0), c < 3 ? 10 + c : 255);

  // YUYV: Y as is; U and V of rows 0 and 1 averaged, the odd last row alone.
  TestPlane yuyv(4, 3);
  yuyv.fill(
      [](int x, int y) { return static_cast<uint8_t>(x % 2 == 0 ? 100 + y : 20 * x + 5 * y); });
  TestI420 out(2, 3);
  ASSERT_TRUE(LowLevel::convertFromYUYVtoI420(yuyv.data(), 2, 3, yuyv.stride(), out.y_.data(),
                                              out.y_.stride(), out.u_.data(), out.u_.stride(),
                                              out.v_.data(), out.v_.stride()));
  EXPECT_EQ(out.y_.at(1, 2), 102);
  EXPECT_EQ(out.u_.at(0, 0), 23);  // (20 + 25) / 2, rounded up
  EXPECT_EQ(out.v_.at(0, 1), 70);
  EXPECT_TRUE(out.marginsUntouched());
}

TEST(LowLevelTest, BadArgumentsAreRefusedWithoutWriting) {
  TestI420 out(4, 4);
  TestPlane bgra(16, 4);
  uint8_t* y = out.y_.data();
  uint8_t* u = out.u_.data();
  uint8_t* v = out.v_.data();
  uint8_t* src = bgra.data();
  int const ys = out.y_.stride(), us = out.u_.stride(), vs = out.v_.stride(), ss = bgra.stride();
  auto const toI420 = LowLevel::convertFromBGRA8888toI420;
  EXPECT_FALSE(toI420(0, 4, src, ss, y, ys, u, us, v, vs));
  EXPECT_FALSE(toI420(4, -4, src, ss, y, ys, u, us, v, vs));
  EXPECT_FALSE(toI420(4, 4, nullptr, ss, y, ys, u, us, v, vs));
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
