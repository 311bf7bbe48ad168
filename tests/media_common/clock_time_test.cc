#include "media_common/clock_time.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/capture.h"

namespace dravo::media {
namespace {

Time t(int64_t ns) { return Time::fromNSec(ns); }

// Generation transitions are checked through every clock's readings; here
// only what the clocks never show: cross-generation arithmetic and printing.
TEST(ClockTimeTest, CrossGenerationDifferencesAreCheckedAndPrinted) {
  testing::LogCapture capture("check:1");
  EXPECT_EQ(Duration::fromNSec(600), ClockTime(4, t(1000)) - ClockTime(2, t(400)));
  EXPECT_TRUE(capture.contains("Check failed sameGeneration(rhs) "));
  EXPECT_LT(ClockTime(0x7FFFFFFFu, t(5)), ClockTime());  // uninitialized is above all
  std::ostringstream uninitialized;
  uninitialized << ClockTime();
  EXPECT_EQ("ClockTime(uninitialized)", uninitialized.str());
  // Unsigned: a lower generation wraps around.
  EXPECT_EQ("dgen=4294967294", ClockTime(2, t(1)).prettyPrintDifference(ClockTime(4, t(5))));
}

}  // namespace
}  // namespace dravo::media
