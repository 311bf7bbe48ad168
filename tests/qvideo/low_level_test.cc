#include "qvideo/low_level.h"

#include <gtest/gtest.h>

#include <tuple>

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

::testing::AssertionResult closeTo(TestI420 const& a, TestI420 const& b, int luma, int chroma) {
  if (maxDifference(a.y_, b.y_) > luma || maxDifference(a.u_, b.u_) > chroma ||
      maxDifference(a.v_, b.v_) > chroma)
    return ::testing::AssertionFailure() << "pictures differ";
  return ::testing::AssertionSuccess();
}

class LowLevelRoundTripTest : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(LowLevelRoundTripTest, I420ThroughBgraAndRgbComesBackWithinRounding) {
  auto const [width, height] = GetParam();
  LowLevel::initIfNeeded();
  TestI420 source(width, height), back(width, height), back_bgr(width, height);
  source.fillGradient();
  TestPlane bgra(4 * width, height), rgb(3 * width, height), bgr(3 * width, height);
  ASSERT_TRUE(fromI420(LowLevel::convertFromI420toBGRA8888, source, bgra));
  ASSERT_TRUE(toI420(LowLevel::convertFromBGRA8888toI420, bgra, back));
  EXPECT_TRUE(closeTo(source, back, 2, 3));

  ASSERT_TRUE(fromI420(LowLevel::convertFromI420toRGB888, source, rgb));
  // Swap R and B to get the BGR888 layout the way back takes.
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) bgr.at(3 * x + c, y) = rgb.at(3 * x + 2 - c, y);
  ASSERT_TRUE(toI420(LowLevel::convertFromBGR888toI420, bgr, back_bgr));
  EXPECT_TRUE(closeTo(source, back_bgr, 2, 3));
  EXPECT_TRUE(bgra.marginUntouched());
  EXPECT_TRUE(rgb.marginUntouched());
  EXPECT_TRUE(back.marginsUntouched());
  EXPECT_TRUE(back_bgr.marginsUntouched());
}

INSTANTIATE_TEST_SUITE_P(Sizes, LowLevelRoundTripTest,
                         ::testing::Values(std::make_tuple(64, 48), std::make_tuple(17, 9),
                                           std::make_tuple(1, 1), std::make_tuple(33, 2)));

TEST(LowLevelConventionTest, LimitedRangeBt601AndByteOrders) {
  // Pure red in limited-range BT.601 is Y 81, U 90, V 240.
  TestI420 red(2, 2);
  red.y_.fill([](int, int) { return 81; });
  red.u_.fill([](int, int) { return 90; });
  red.v_.fill([](int, int) { return 240; });
  TestPlane bgra(8, 2), rgb(6, 2);
  ASSERT_TRUE(fromI420(LowLevel::convertFromI420toBGRA8888, red, bgra));
  EXPECT_LE(bgra.at(0, 0), 2);    // B
  EXPECT_LE(bgra.at(1, 0), 2);    // G
  EXPECT_GE(bgra.at(2, 0), 253);  // R
  EXPECT_EQ(bgra.at(3, 0), 255);  // A
  ASSERT_TRUE(fromI420(LowLevel::convertFromI420toRGB888, red, rgb));
  EXPECT_GE(rgb.at(0, 0), 253);  // R first
  EXPECT_LE(rgb.at(2, 0), 2);

  // Black and white land on the ends of the limited range.
  TestPlane bgr(6, 2);
  bgr.fill([](int x, int) { return x < 3 ? 0 : 255; });
  TestI420 yuv(2, 2);
  ASSERT_TRUE(toI420(LowLevel::convertFromBGR888toI420, bgr, yuv));
  EXPECT_NEAR(yuv.y_.at(0, 0), 16, 1);
  EXPECT_NEAR(yuv.y_.at(1, 0), 235, 1);
  EXPECT_NEAR(yuv.u_.at(0, 0), 128, 1);

  // BGR888 "B,G,R" in memory becomes BGRX "B,G,R,255".
  TestPlane packed(3, 1), bgrx(4, 1);
  packed.fill([](int x, int) { return static_cast<uint8_t>(10 + x); });
  ASSERT_TRUE(LowLevel::convertFromBGR888toBGRX8888(1, 1, packed.data(), packed.stride(),
                                                    bgrx.data(), bgrx.stride()));
  for (int c = 0; c < 4; ++c) EXPECT_EQ(bgrx.at(c, 0), c < 3 ? 10 + c : 255);
  EXPECT_TRUE(bgrx.marginUntouched());

  // BGRX ignores the fourth byte.
  TestPlane with_alpha(4 * 4, 2), with_junk(4 * 4, 2);
  with_alpha.fill([](int x, int y) { return static_cast<uint8_t>(x % 4 == 3 ? 255 : x * 9 + y); });
  with_junk.fill(
      [](int x, int y) { return static_cast<uint8_t>(x % 4 == 3 ? x * 31 : x * 9 + y); });
  TestI420 a(4, 2), b(4, 2);
  ASSERT_TRUE(toI420(LowLevel::convertFromBGRA8888toI420, with_alpha, a));
  ASSERT_TRUE(toI420(LowLevel::convertFromBGRX8888toI420, with_junk, b));
  EXPECT_TRUE(closeTo(a, b, 0, 0));
}

TEST(LowLevelYuyvTest, SplitsPlanesAndAveragesChromaOfRowPairs) {
  int const width = 6, height = 3;
  TestPlane yuyv(2 * width, height);
  // Y counts up; U and V name their pair and row.
  yuyv.fill([](int x, int y) {
    if (x % 2 == 0) return static_cast<uint8_t>(100 + y * 10 + x / 2);
    return static_cast<uint8_t>(x % 4 == 1 ? 20 + 4 * y + x / 4 : 200 - 4 * y - x / 4);
  });
  TestI420 out(width, height);
  ASSERT_TRUE(LowLevel::convertFromYUYVtoI420(yuyv.data(), width, height, yuyv.stride(),
                                              out.y_.data(), out.y_.stride(), out.u_.data(),
                                              out.u_.stride(), out.v_.data(), out.v_.stride()));
  EXPECT_TRUE(out.marginsUntouched());
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) EXPECT_EQ(out.y_.at(x, y), 100 + y * 10 + x) << x << "," << y;
  for (int pair = 0; pair < 3; ++pair) {
    // Rows 0 and 1 average (rounding up); the odd last row stands alone.
    EXPECT_EQ(out.u_.at(pair, 0), 20 + pair + 2) << pair;
    EXPECT_EQ(out.v_.at(pair, 0), 200 - pair - 2) << pair;
    EXPECT_EQ(out.u_.at(pair, 1), 20 + 8 + pair) << pair;
    EXPECT_EQ(out.v_.at(pair, 1), 200 - 8 - pair) << pair;
  }
}

TEST(LowLevelArgumentsTest, RefusesWithoutWriting) {
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
  for (const auto* plane : {&out.y_, &out.u_, &out.v_})
    for (uint8_t byte : plane->bytes_) ASSERT_EQ(byte, testing::kCanary);
}

}  // namespace
}  // namespace qvideo
