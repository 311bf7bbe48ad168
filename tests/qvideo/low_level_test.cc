#include "qvideo/low_level.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/qvideo/test_planes.h"

namespace qvideo {
namespace {

using testing::maxDifference;
using testing::TestI420;
using testing::TestPlane;

class LowLevelRoundTripTest : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(LowLevelRoundTripTest, I420ThroughBgraComesBackWithinRounding) {
  auto const [width, height] = GetParam();
  LowLevel::initIfNeeded();
  TestI420 source(width, height);
  source.fillGradient();
  TestPlane bgra(4 * width, height);
  ASSERT_TRUE(LowLevel::convertFromI420toBGRA8888(
      width, height, source.y_.data(), source.y_.stride(), source.u_.data(), source.u_.stride(),
      source.v_.data(), source.v_.stride(), bgra.data(), bgra.stride()));
  EXPECT_TRUE(bgra.marginUntouched());

  TestI420 back(width, height);
  ASSERT_TRUE(LowLevel::convertFromBGRA8888toI420(
      width, height, bgra.data(), bgra.stride(), back.y_.data(), back.y_.stride(), back.u_.data(),
      back.u_.stride(), back.v_.data(), back.v_.stride()));
  EXPECT_TRUE(back.marginsUntouched());
  EXPECT_LE(maxDifference(source.y_, back.y_), 2);
  EXPECT_LE(maxDifference(source.u_, back.u_), 3);
  EXPECT_LE(maxDifference(source.v_, back.v_), 3);
}

TEST_P(LowLevelRoundTripTest, I420ThroughRgbAndBgrComesBackWithinRounding) {
  auto const [width, height] = GetParam();
  TestI420 source(width, height);
  source.fillGradient();
  TestPlane rgb(3 * width, height);
  ASSERT_TRUE(LowLevel::convertFromI420toRGB888(
      width, height, source.y_.data(), source.y_.stride(), source.u_.data(), source.u_.stride(),
      source.v_.data(), source.v_.stride(), rgb.data(), rgb.stride()));
  EXPECT_TRUE(rgb.marginUntouched());

  // Swap R and B to get the BGR888 layout the way back takes.
  TestPlane bgr(3 * width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) bgr.at(3 * x + c, y) = rgb.at(3 * x + 2 - c, y);
  TestI420 back(width, height);
  ASSERT_TRUE(LowLevel::convertFromBGR888toI420(
      width, height, bgr.data(), bgr.stride(), back.y_.data(), back.y_.stride(), back.u_.data(),
      back.u_.stride(), back.v_.data(), back.v_.stride()));
  EXPECT_TRUE(back.marginsUntouched());
  EXPECT_LE(maxDifference(source.y_, back.y_), 2);
  EXPECT_LE(maxDifference(source.u_, back.u_), 3);
  EXPECT_LE(maxDifference(source.v_, back.v_), 3);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LowLevelRoundTripTest,
                         ::testing::Values(std::make_tuple(64, 48), std::make_tuple(17, 9),
                                           std::make_tuple(1, 1), std::make_tuple(33, 2)));

// One I420 pixel block of a solid colour.
struct SolidI420 {
  explicit SolidI420(uint8_t y, uint8_t u, uint8_t v) : y_(2, 2), u_(1, 1), v_(1, 1) {
    y_.fill([=](int, int) { return y; });
    u_.fill([=](int, int) { return u; });
    v_.fill([=](int, int) { return v; });
  }
  TestPlane y_, u_, v_;
};

TEST(LowLevelConventionTest, LimitedRangeBt601AndByteOrders) {
  // Pure red in limited-range BT.601 is Y 81, U 90, V 240.
  SolidI420 red(81, 90, 240);
  TestPlane bgra(8, 2);
  ASSERT_TRUE(LowLevel::convertFromI420toBGRA8888(2, 2, red.y_.data(), red.y_.stride(),
                                                  red.u_.data(), red.u_.stride(), red.v_.data(),
                                                  red.v_.stride(), bgra.data(), bgra.stride()));
  EXPECT_LE(bgra.at(0, 0), 2);    // B
  EXPECT_LE(bgra.at(1, 0), 2);    // G
  EXPECT_GE(bgra.at(2, 0), 253);  // R
  EXPECT_EQ(bgra.at(3, 0), 255);  // A

  TestPlane rgb(6, 2);
  ASSERT_TRUE(LowLevel::convertFromI420toRGB888(2, 2, red.y_.data(), red.y_.stride(), red.u_.data(),
                                                red.u_.stride(), red.v_.data(), red.v_.stride(),
                                                rgb.data(), rgb.stride()));
  EXPECT_GE(rgb.at(0, 0), 253);  // R first
  EXPECT_LE(rgb.at(2, 0), 2);

  // Black and white land on the ends of the limited range.
  TestPlane bgr(6, 2);
  bgr.fill([](int x, int) { return x < 3 ? 0 : 255; });
  TestI420 yuv(2, 2);
  ASSERT_TRUE(LowLevel::convertFromBGR888toI420(2, 2, bgr.data(), bgr.stride(), yuv.y_.data(),
                                                yuv.y_.stride(), yuv.u_.data(), yuv.u_.stride(),
                                                yuv.v_.data(), yuv.v_.stride()));
  EXPECT_NEAR(yuv.y_.at(0, 0), 16, 1);
  EXPECT_NEAR(yuv.y_.at(1, 0), 235, 1);
  EXPECT_NEAR(yuv.u_.at(0, 0), 128, 1);

  // BGR888 "B,G,R" in memory becomes BGRX "B,G,R,255".
  TestPlane packed(3, 1);
  packed.fill([](int x, int) { return static_cast<uint8_t>(10 + x); });
  TestPlane bgrx(4, 1);
  ASSERT_TRUE(LowLevel::convertFromBGR888toBGRX8888(1, 1, packed.data(), packed.stride(),
                                                    bgrx.data(), bgrx.stride()));
  EXPECT_EQ(bgrx.at(0, 0), 10);
  EXPECT_EQ(bgrx.at(1, 0), 11);
  EXPECT_EQ(bgrx.at(2, 0), 12);
  EXPECT_EQ(bgrx.at(3, 0), 255);
  EXPECT_TRUE(bgrx.marginUntouched());
}

TEST(LowLevelConventionTest, BgrxIgnoresTheFourthByte) {
  TestPlane with_alpha(4 * 4, 2), with_junk(4 * 4, 2);
  with_alpha.fill([](int x, int y) { return static_cast<uint8_t>(x % 4 == 3 ? 255 : x * 9 + y); });
  with_junk.fill(
      [](int x, int y) { return static_cast<uint8_t>(x % 4 == 3 ? x * 31 : x * 9 + y); });
  TestI420 a(4, 2), b(4, 2);
  ASSERT_TRUE(LowLevel::convertFromBGRA8888toI420(4, 2, with_alpha.data(), with_alpha.stride(),
                                                  a.y_.data(), a.y_.stride(), a.u_.data(),
                                                  a.u_.stride(), a.v_.data(), a.v_.stride()));
  ASSERT_TRUE(LowLevel::convertFromBGRX8888toI420(4, 2, with_junk.data(), with_junk.stride(),
                                                  b.y_.data(), b.y_.stride(), b.u_.data(),
                                                  b.u_.stride(), b.v_.data(), b.v_.stride()));
  EXPECT_EQ(maxDifference(a.y_, b.y_), 0);
  EXPECT_EQ(maxDifference(a.u_, b.u_), 0);
  EXPECT_EQ(maxDifference(a.v_, b.v_), 0);
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
  int const ys = out.y_.stride(), us = out.u_.stride(), vs = out.v_.stride();
  EXPECT_FALSE(
      LowLevel::convertFromBGRA8888toI420(0, 4, bgra.data(), bgra.stride(), y, ys, u, us, v, vs));
  EXPECT_FALSE(
      LowLevel::convertFromBGRA8888toI420(4, -4, bgra.data(), bgra.stride(), y, ys, u, us, v, vs));
  EXPECT_FALSE(
      LowLevel::convertFromBGRA8888toI420(4, 4, nullptr, bgra.stride(), y, ys, u, us, v, vs));
  EXPECT_FALSE(LowLevel::convertFromBGRA8888toI420(4, 4, bgra.data(), 15, y, ys, u, us, v, vs));
  EXPECT_FALSE(
      LowLevel::convertFromBGRA8888toI420(4, 4, bgra.data(), bgra.stride(), y, 3, u, us, v, vs));
  EXPECT_FALSE(LowLevel::convertFromBGRA8888toI420(4, 4, bgra.data(), bgra.stride(), y, ys, nullptr,
                                                   us, v, vs));
  EXPECT_FALSE(
      LowLevel::convertFromI420toBGRA8888(4, 4, y, ys, u, us, v, 1, bgra.data(), bgra.stride()));
  EXPECT_FALSE(LowLevel::convertFromI420toRGB888(4, 4, y, ys, u, us, v, vs, bgra.data(), 11));
  EXPECT_FALSE(LowLevel::convertFromYUYVtoI420(bgra.data(), 4, 4, 7, y, ys, u, us, v, vs));
  EXPECT_FALSE(LowLevel::convertFromBGR888toBGRX8888(4, 4, bgra.data(), 11, y, ys));
  for (const auto* plane : {&out.y_, &out.u_, &out.v_})
    for (uint8_t byte : plane->bytes_) ASSERT_EQ(byte, testing::kCanary);
}

}  // namespace
}  // namespace qvideo
