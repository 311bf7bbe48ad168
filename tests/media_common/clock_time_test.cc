#include "media_common/clock_time.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/capture.h"

namespace dravo::media {
namespace {

Time t(int64_t ns) { return Time::fromNSec(ns); }

TEST(ClockTimeTest, OrdersByGenerationFirstAndFrozenTransitionsDropTheTime) {
  EXPECT_LT(ClockTime(4, t(999999)), ClockTime(5, Time::min()));
  EXPECT_LT(ClockTime(0x7FFFFFFFu, t(5)), ClockTime());  // uninitialized is above all
  EXPECT_EQ(-1, ClockTime(4, t(1)).compareGeneration(ClockTime(5, t(0))));
  EXPECT_EQ(ClockTime(5, Time()), ClockTime(4, t(3)).nextFrozen());
  EXPECT_EQ(ClockTime(7, Time()), ClockTime(5, Time()).nextFrozen());
  EXPECT_EQ(ClockTime(4, t(3)), ClockTime(4, t(3)).whenUnfrozen());
  EXPECT_EQ(ClockTime(6, Time()), ClockTime(5, Time()).whenUnfrozen());
  EXPECT_EQ(8u, ClockTimePrivate::setFrozenState(7u, false));
}

TEST(ClockTimeTest, CrossGenerationDifferencesAreCheckedAndPrinted) {
  testing::LogCapture capture("check:1");
  EXPECT_EQ(Duration::fromNSec(600), ClockTime(4, t(1000)) - ClockTime(2, t(400)));
  EXPECT_TRUE(capture.contains("Check failed sameGeneration(rhs) "));
  std::ostringstream uninitialized;
  uninitialized << ClockTime();
  EXPECT_EQ("ClockTime(uninitialized)", uninitialized.str());
  // Unsigned: a lower generation wraps around.
  EXPECT_EQ("dgen=4294967294", ClockTime(2, t(1)).prettyPrintDifference(ClockTime(4, t(5))));
}

}  // namespace
}  // namespace dravo::media
