#include "media_common/video/video_mode_picker.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/capture.h"

namespace dravo::media {
namespace {

// Smaller and slower modes cost twice what larger ones do; a wrong aspect
// costs at the same pixel count.
TEST(VideoModePickerTest, ScorePenalisesSmallerAndSlowerModesTwiceAndRangesSnapToTheirGrid) {
  float const l4 = std::log(4.0f);
  EXPECT_NEAR(VideoModePicker::videoModeScore(640, 480, 30, 320, 240, 30), -2 * l4 * l4, 1e-4);
  EXPECT_NEAR(VideoModePicker::videoModeScore(640, 480, 30, 1280, 960, 30), -l4 * l4, 1e-4);
  EXPECT_LT(VideoModePicker::videoModeScore(640, 480, 30, 480, 640, 30), -0.1f);
  EXPECT_EQ(VideoModePicker::findClosestInRange(5, 100, 10, 21), 25);
  EXPECT_EQ(VideoModePicker::findClosestInRange(0, 100, 10, 1000), 100);
}

TEST(VideoModePickerTest, FractionSearchTruncatesClampsAndChecksItsOutputs) {
  struct Case {
    int num_min, num_max, num_step, den_min, den_max, den_step;
    float target;
    int num, den;
  } const cases[] = {
      // 1/t for a float t slightly above 1/30 falls just below 30.
      {1, 1, 1, 1, 60, 1, 1.0f / 30.0f, 1, 29},
      // Numerators are truncated, not rounded: 1001 * 29.97f is just below 30000.
      {1000, 60000, 1, 1001, 1001, 1, 29.97f, 29999, 1001},
      {2, 10, 2, 1, 5, 1, 100.0f, 10, 1},  // out of reach: the nearest bounds
      {1, 1, 1, 0, 100, 5, 0.1f, 1, 10},   // denominator 0 starts at one step
      {1, 10, 1, 1, 10, 1, 0.5f, 1, 2},    // a tie (2/4) keeps the smaller denominator
  };
  for (Case const& c : cases) {
    int num = 0, den = 0;
    VideoModePicker::findClosestInFractionRange(c.num_min, c.num_max, c.num_step, c.den_min,
                                                c.den_max, c.den_step, c.target, &num, &den);
    EXPECT_EQ(std::pair(num, den), std::pair(c.num, c.den)) << c.target;
  }
  testing::LogCapture log("check:1");
  int num = -1;
  VideoModePicker::findClosestInFractionRange(1, 10, 1, 1, 10, 1, 0.5f, &num, nullptr);
  EXPECT_EQ(num, -1);
  EXPECT_TRUE(log.contains("Check failed den "));
}

}  // namespace
}  // namespace dravo::media
