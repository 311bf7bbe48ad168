#include "qvideo/resampler_4taps.h"

#include <gtest/gtest.h>

#include "tests/qvideo/test_planes.h"

namespace qvideo {
namespace {

using testing::TestPlane;

QvGray8 viewOf(TestPlane& plane) {
  return {plane.row_bytes_, plane.rows_, plane.stride_, plane.rows_, plane.data()};
}

TEST(ResamplerTest, HalvingAveragesBlocksPadsTheStrideAndLeavesOtherRowsAlone) {
  TestPlane source(4, 4), destination(2, 2), untouched(4, 4);
  source.fill([](int x, int y) {
    return static_cast<uint8_t>(40 * (y / 2) + 20 * (x / 2) + (x % 2) * 2 + (y % 2) * 4);
  });
  Resampler4Taps::resampleImg(viewOf(source), viewOf(destination));
  // Block (bx, by) holds base + {0, 2, 4, 6}: its mean is base + 3.
  for (int by = 0; by < 2; ++by)
    for (int bx = 0; bx < 2; ++bx) EXPECT_NEAR(destination.at(bx, by), 40 * by + 20 * bx + 3, 1);
  // The margin inside the stride carries the edge sample; the row below the
  // plane is not the plane's and keeps its canary.
  for (int x = 2; x < destination.stride_; ++x) {
    EXPECT_EQ(destination.at(x, 1), destination.at(1, 1));
    EXPECT_EQ(destination.at(x, 2), testing::kCanary);
  }
  Resampler4Taps::resampleImg(QvGray8(), viewOf(untouched));
  EXPECT_EQ(untouched.at(0, 0), testing::kCanary) << "an empty source writes nothing";
}

}  // namespace
}  // namespace qvideo
