#include "media_common/video/video_mode_picker.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/capture.h"

namespace dravo::media {
namespace {

TEST(VideoModePickerTest, ScorePenalisesSmallerAndSlowerModesTwiceAndRangesSnapToTheirGrid) {
  EXPECT_EQ(VideoModePicker::videoModeScore(640, 480, 30, 640, 480, 30), 0.0f);
  float const l4 = std::log(4.0f);
  EXPECT_NEAR(VideoModePicker::videoModeScore(640, 480, 30, 320, 240, 30), -2 * l4 * l4, 1e-4);
  EXPECT_NEAR(VideoModePicker::videoModeScore(640, 480, 30, 1280, 960, 30), -l4 * l4, 1e-4);
  EXPECT_NEAR(VideoModePicker::videoModeScore(640, 480, 30, 640, 480, 15),
              -2 * std::log(2.0f) * std::log(2.0f), 1e-4);
  // A wrong aspect ratio costs even at the same pixel count.
  EXPECT_LT(VideoModePicker::videoModeScore(640, 480, 30, 480, 640, 30), -0.1f);

  // Ranges snap to the step grid and clamp.
  EXPECT_EQ(VideoModePicker::findClosestInRange(0, 100, 10, 44), 40);
  EXPECT_EQ(VideoModePicker::findClosestInRange(0, 100, 10, 45), 50);
  EXPECT_EQ(VideoModePicker::findClosestInRange(0, 100, 10, -7), 0);
  EXPECT_EQ(VideoModePicker::findClosestInRange(0, 100, 10, 1000), 100);
  EXPECT_EQ(VideoModePicker::findClosestInRange(5, 100, 10, 21), 25);
  EXPECT_EQ(VideoModePicker::findClosestInRange(5, 100, 10, 19), 15);
}

TEST(VideoModePickerTest, FractionSearchTruncatesClampsAndChecksItsOutputs) {
  int num = 0;
  int den = 0;
  VideoModePicker::findClosestInFractionRange(1, 10, 1, 1, 10, 1, 0.5f, &num, &den);
  EXPECT_EQ(num, 1);
  EXPECT_EQ(den, 2);
  // 1/t for a float t slightly above 1/30 falls just below 30.
  VideoModePicker::findClosestInFractionRange(1, 1, 1, 1, 60, 1, 1.0f / 30.0f, &num, &den);
  EXPECT_EQ(num, 1);
  EXPECT_EQ(den, 29);
  // Numerators are truncated, not rounded: 1001 * 29.97f is just below 30000.
  VideoModePicker::findClosestInFractionRange(1000, 60000, 1, 1001, 1001, 1, 29.97f, &num, &den);
  EXPECT_EQ(num, 29999);
  EXPECT_EQ(den, 1001);
  VideoModePicker::findClosestInFractionRange(1, 10, 1, 1, 10, 1, -2.5f, &num, &den);
  EXPECT_EQ(num * 2, den * 5);
  // Targets out of reach give the nearest bound pair.
  VideoModePicker::findClosestInFractionRange(2, 10, 2, 1, 5, 1, 100.0f, &num, &den);
  EXPECT_EQ(num, 10);
  EXPECT_EQ(den, 1);
  VideoModePicker::findClosestInFractionRange(2, 10, 2, 1, 5, 1, 0.01f, &num, &den);
  EXPECT_EQ(num, 2);
  EXPECT_EQ(den, 5);
  // Denominator 0 in the range means "start at one step".
  VideoModePicker::findClosestInFractionRange(1, 1, 1, 0, 100, 5, 0.1f, &num, &den);
  EXPECT_EQ(den, 10);

  testing::LogCapture log("check:1");
  num = -1;
  VideoModePicker::findClosestInFractionRange(1, 10, 1, 1, 10, 1, 0.5f, &num, nullptr);
  EXPECT_EQ(num, -1);
  EXPECT_TRUE(log.contains("Check failed den "));
}

}  // namespace
}  // namespace dravo::media
