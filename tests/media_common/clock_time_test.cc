#include "media_common/clock_time.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/capture.h"

namespace dravo::media {
namespace {

Time t(int64_t ns) { return Time::fromNSec(ns); }

std::string print(ClockTime const& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

TEST(ClockTimeTest, OrdersByGenerationFirstThenTime) {
  EXPECT_LT(ClockTime(4, t(999999)), ClockTime(5, Time::min()));
  EXPECT_LT(ClockTime(5, t(1)), ClockTime(5, t(2)));
  EXPECT_FALSE(ClockTime(5, t(2)) < ClockTime(5, t(1)));
  EXPECT_FALSE(ClockTime(5, t(2)) < ClockTime(5, t(2)));
  EXPECT_LE(ClockTime(5, t(2)), ClockTime(5, t(2)));
  EXPECT_GT(ClockTime(6, t(0)), ClockTime(5, t(100)));
  // Generations compare as unsigned: the uninitialized value is above all.
  EXPECT_LT(ClockTime(0x7FFFFFFFu, t(5)), ClockTime());
  EXPECT_EQ(ClockTime(3, t(7)), ClockTime(ClockTime(3, t(1)), t(7)));
  EXPECT_NE(ClockTime(3, t(7)), ClockTime(2, t(7)));
}

TEST(ClockTimeTest, CompareGeneration) {
  EXPECT_EQ(0, ClockTime(4, t(1)).compareGeneration(ClockTime(4, t(9))));
  EXPECT_EQ(1, ClockTime(5, t(1)).compareGeneration(ClockTime(4, t(9))));
  EXPECT_EQ(-1, ClockTime(4, t(1)).compareGeneration(ClockTime(5, t(0))));
  EXPECT_TRUE(ClockTime(4, t(1)).sameGeneration(ClockTime(4, t(2))));
}

TEST(ClockTimeTest, FrozenStateTransitions) {
  EXPECT_FALSE(ClockTime().isInitialized());
  EXPECT_TRUE(ClockTime(0, t(0)).isInitialized());
  EXPECT_TRUE(ClockTime(5, Time()).isFrozen());
  EXPECT_FALSE(ClockTime(4, t(3)).isFrozen());

  EXPECT_EQ(ClockTime(5, Time()), ClockTime(4, t(3)).nextFrozen());
  EXPECT_EQ(ClockTime(7, Time()), ClockTime(5, Time()).nextFrozen());
  EXPECT_EQ(ClockTime(6, Time()), ClockTime(5, Time()).nextUnfrozen());
  EXPECT_EQ(ClockTime(6, Time()), ClockTime(4, t(3)).nextUnfrozen());
  EXPECT_EQ(ClockTime(5, Time()), ClockTime(4, t(3)).whenFrozen());
  EXPECT_EQ(ClockTime(5, Time()), ClockTime(5, Time()).whenFrozen());
  EXPECT_EQ(ClockTime(4, t(3)), ClockTime(4, t(3)).whenUnfrozen());
  EXPECT_EQ(ClockTime(6, Time()), ClockTime(5, Time()).whenUnfrozen());
  // Every frozen-state operation yields the zero time.
  EXPECT_EQ(Time(), ClockTime(8, t(123)).nextFrozen().time());

  EXPECT_EQ(7u, ClockTimePrivate::setFrozenState(6u, true));
  EXPECT_EQ(7u, ClockTimePrivate::setFrozenState(7u, true));
  EXPECT_EQ(8u, ClockTimePrivate::setFrozenState(7u, false));
  EXPECT_EQ(6u, ClockTimePrivate::setFrozenState(6u, false));
  EXPECT_EQ(ClockTime(7, t(9)), ClockTimePrivate::setFrozenState(ClockTime(6, t(9)), true));
  EXPECT_EQ(ClockTime(7, Time()), ClockTimePrivate::nextGeneration(ClockTime(6, t(9))));
}

TEST(ClockTimeTest, ArithmeticStaysInTheGeneration) {
  ClockTime a(2, t(1000));
  EXPECT_EQ(ClockTime(2, t(1500)), a + Duration::fromNSec(500));
  a += Duration::fromNSec(-200);
  EXPECT_EQ(ClockTime(2, t(800)), a);
  EXPECT_EQ(Duration::fromNSec(300), ClockTime(2, t(1100)) - a);
}

TEST(ClockTimeTest, SubtractingAcrossGenerationsIsALoggedCheck) {
  testing::LogCapture capture("check:1");
  Duration d = ClockTime(4, t(1000)) - ClockTime(2, t(400));
  EXPECT_EQ(Duration::fromNSec(600), d);
  EXPECT_TRUE(capture.contains("Check failed sameGeneration(rhs) "));
}

TEST(ClockTimeTest, Printing) {
  EXPECT_EQ("ClockTime(uninitialized)", print(ClockTime()));
  std::ostringstream expected;
  expected << "ClockTime(3, " << t(2500000000) << ")";
  EXPECT_EQ(expected.str(), print(ClockTime(3, t(2500000000))));

  std::ostringstream dt;
  dt << "dt=" << Duration::fromMSec(40);
  EXPECT_EQ(dt.str(), ClockTime(2, t(140000000)).prettyPrintDifference(ClockTime(2, t(100000000))));
  EXPECT_EQ("dgen=2", ClockTime(4, t(1)).prettyPrintDifference(ClockTime(2, t(5))));
  // Unsigned: a lower generation wraps around.
  EXPECT_EQ("dgen=4294967294", ClockTime(2, t(1)).prettyPrintDifference(ClockTime(4, t(5))));
}

}  // namespace
}  // namespace dravo::media
