#include "media_common/clock_time.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/capture.h"

namespace dravo::media {
namespace {

Time t(int64_t ns) { return Time::fromNSec(ns); }

TEST(ClockTimeTest, OrdersByUnsignedGenerationThenTime) {
  EXPECT_LT(ClockTime(4, t(999999)), ClockTime(5, Time::min()));
  EXPECT_LT(ClockTime(5, t(1)), ClockTime(5, t(2)));
  EXPECT_FALSE(ClockTime(5, t(2)) < ClockTime(5, t(2)));
  // The uninitialized value is above every generation.
  EXPECT_LT(ClockTime(0x7FFFFFFFu, t(5)), ClockTime());
  EXPECT_EQ(1, ClockTime(5, t(1)).compareGeneration(ClockTime(4, t(9))));
  EXPECT_EQ(-1, ClockTime(4, t(1)).compareGeneration(ClockTime(5, t(0))));
}

TEST(ClockTimeTest, FrozenStateTransitionsAlwaysDropTheTime) {
  EXPECT_EQ(ClockTime(5, Time()), ClockTime(4, t(3)).nextFrozen());
  EXPECT_EQ(ClockTime(7, Time()), ClockTime(5, Time()).nextFrozen());
  EXPECT_EQ(ClockTime(6, Time()), ClockTime(5, Time()).nextUnfrozen());
  EXPECT_EQ(ClockTime(6, Time()), ClockTime(4, t(3)).nextUnfrozen());
  EXPECT_EQ(ClockTime(5, Time()), ClockTime(5, Time()).whenFrozen());
  EXPECT_EQ(ClockTime(4, t(3)), ClockTime(4, t(3)).whenUnfrozen());
  EXPECT_EQ(ClockTime(6, Time()), ClockTime(5, Time()).whenUnfrozen());
  EXPECT_EQ(7u, ClockTimePrivate::setFrozenState(7u, true));
  EXPECT_EQ(8u, ClockTimePrivate::setFrozenState(7u, false));
  EXPECT_EQ(ClockTime(7, Time()), ClockTimePrivate::nextGeneration(ClockTime(6, t(9))));
}

TEST(ClockTimeTest, SubtractingAcrossGenerationsIsALoggedCheck) {
  testing::LogCapture capture("check:1");
  EXPECT_EQ(Duration::fromNSec(600), ClockTime(4, t(1000)) - ClockTime(2, t(400)));
  EXPECT_TRUE(capture.contains("Check failed sameGeneration(rhs) "));
}

TEST(ClockTimeTest, Printing) {
  std::ostringstream uninitialized, dt;
  uninitialized << ClockTime();
  EXPECT_EQ("ClockTime(uninitialized)", uninitialized.str());
  dt << "dt=" << Duration::fromMSec(40);
  EXPECT_EQ(dt.str(), ClockTime(2, t(140000000)).prettyPrintDifference(ClockTime(2, t(100000000))));
  // Unsigned: a lower generation wraps around.
  EXPECT_EQ("dgen=4294967294", ClockTime(2, t(1)).prettyPrintDifference(ClockTime(4, t(5))));
}

}  // namespace
}  // namespace dravo::media
