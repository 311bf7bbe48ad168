#include "qvideo/resampler_4taps.h"

#include <gtest/gtest.h>

#include <tuple>

#include "qvideo/qv_i420.h"
#include "tests/qvideo/test_planes.h"

namespace qvideo {
namespace {

using testing::TestPlane;

QvGray8 viewOf(TestPlane& plane) {
  QvGray8 view;
  view.width_ = plane.row_bytes_;
  view.height_ = plane.rows_;
  view.stride_ = plane.stride_;
  view.padded_height_ = plane.rows_;
  view.data_ = plane.data();
  return view;
}

class ResamplerSizeTest : public ::testing::TestWithParam<std::tuple<int, int, int, int>> {};

TEST_P(ResamplerSizeTest, ConstantPlaneStaysConstantAndOnlyItsRowsAreWritten) {
  auto const [source_width, source_height, width, height] = GetParam();
  TestPlane source(source_width, source_height);
  source.fill([](int, int) { return 77; });
  TestPlane destination(width, height);
  Resampler4Taps::resampleImg(viewOf(source), viewOf(destination));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) ASSERT_EQ(destination.at(x, y), 77) << x << "," << y;
  // The margin inside the stride carries the edge sample; the row below the
  // plane is not the plane's and keeps its canary.
  for (int x = width; x < destination.stride_; ++x) EXPECT_EQ(destination.at(x, 0), 77);
  for (int x = 0; x < destination.stride_; ++x)
    EXPECT_EQ(destination.at(x, height), testing::kCanary);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ResamplerSizeTest,
                         ::testing::Values(std::make_tuple(640, 480, 320, 240),
                                           std::make_tuple(641, 481, 17, 9),
                                           std::make_tuple(17, 9, 64, 48),
                                           std::make_tuple(1280, 720, 100, 3),
                                           std::make_tuple(5, 5, 5, 5)));

TEST(ResamplerTest, HalvingAveragesEachTwoByTwoBlockAndEmptySourcesWriteNothing) {
  TestPlane source(4, 4);
  source.fill([](int x, int y) {
    return static_cast<uint8_t>(40 * (y / 2) + 20 * (x / 2) + (x % 2) * 2 + (y % 2) * 4);
  });
  TestPlane destination(2, 2), untouched(4, 4);
  Resampler4Taps::resampleImg(viewOf(source), viewOf(destination));
  // Block (bx, by) holds base + {0, 2, 4, 6}: its mean is base + 3.
  for (int by = 0; by < 2; ++by)
    for (int bx = 0; bx < 2; ++bx) EXPECT_NEAR(destination.at(bx, by), 40 * by + 20 * bx + 3, 1);
  Resampler4Taps::resampleImg(QvGray8(), viewOf(untouched));
  for (uint8_t byte : untouched.bytes_) ASSERT_EQ(byte, testing::kCanary);
}

TEST(ResamplerTest, FillsTheMarginsOfAnAlignedDestination) {
  QvI420 source(64, 48, 16);
  QvI420 destination(23, 11, 16);
  for (int i = 0; i < 3; ++i) {
    const QvGray8& plane = source.plane(i);
    for (int y = 0; y < plane.height_; ++y)
      std::fill(plane.row(y), plane.row(y) + plane.width_, static_cast<uint8_t>(50 + i));
  }
  for (int i = 0; i < 3; ++i) {
    const QvGray8& plane = destination.plane(i);
    Resampler4Taps::resampleImg(source.plane(i), plane);
    for (int y = 0; y < plane.padded_height_; ++y)
      for (int x = 0; x < plane.stride_; ++x) ASSERT_EQ(plane.row(y)[x], 50 + i) << i;
  }
}

}  // namespace
}  // namespace qvideo
