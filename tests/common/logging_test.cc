#include "common/logging.h"

#include <gtest/gtest.h>

#include "common/check.h"
#include "tests/support/capture.h"

DRAVO_LOGGER("logging_test");

namespace dravo {
namespace {

using testing::LogCapture;

TEST(LoggingTest, LevelsFilterBeforeFormattingAndFollowConfiguration) {
  LogCapture capture("logging_test:3");
  int formatted = 0;
  LOGF(4, "hidden %d", ++formatted);
  LOGS(5) << "hidden " << ++formatted;
  EXPECT_EQ(formatted, 0) << "a disabled log point must not evaluate its arguments";
  LOGF(3, "shown %d", 7);
  LOGS(2) << "streamed " << 8;
  ASSERT_EQ(capture.messages("logging_test"), (std::vector<std::string>{"shown 7", "streamed 8"}));
  // A configuration change reaches log points that already cached an answer.
  EXPECT_TRUE(logging::configureLoggers("pad:5,logging_test:6,*:2"));
  LOGF(4, "now %s", "visible");
  EXPECT_TRUE(capture.contains("now visible"));
  EXPECT_FALSE(logging::isLoggerEnabled("anything", 3));
  EXPECT_FALSE(logging::configureLoggers("pad:-1,clock") || logging::getLoggerLevel("pad") != 5)
      << "a malformed list changes nothing";
  logging::resetLoggingConfiguration();
  EXPECT_EQ(logging::getLoggerLevel("anything"), 3);
}

TEST(LoggingTest, ThrottledFilterHidesAndCounts) {
  logging::ThrottledLoggingFilter filter(Duration::fromSec(5));
  std::string results;
  for (int64_t second : {0, 1, 4, 5}) {
    int level = 3;
    std::string message = "dropped";
    filter.filterAt(Time::fromNSec(1000) + Duration::fromSec(second), &level, &message);
    results += std::to_string(level) + " " + message + "|";
  }
  EXPECT_EQ(results, "3 dropped|7 dropped|7 dropped|3 dropped (hid 2 messages)|");
}

TEST(CheckTest, ChecksLogAndContinueAssertionsReachTheHandler) {
  LogCapture capture;
  testing::AssertionCapture assertions;
  int x = 3;
  DRAVO_CHECK(x == 4);
  DRAVO_CHECK(x == 3);
  DRAVO_CHECK_EQ(x, 5);
  bool first_call = true, property_change_first_call_ = false;
  DRAVO_CHECK_EQ(first_call, property_change_first_call_);
  EXPECT_EQ(capture.messages("check"),
            (std::vector<std::string>{
                "Check failed x == 4 ", "Check failed: x == 5 (3 vs. 5)",
                "Check failed: first_call == property_change_first_call_ (true vs. false)"}));
  EXPECT_EQ(capture.lines()[0].level, 1);
  DRAVO_ASSERT(x == 1);
  DRAVO_ASSERT_MSG(false, "Tried to assign unknown property %s.", "fps");
  DRAVO_ASSERT(x == 3);
  EXPECT_EQ(assertions.messages(),
            (std::vector<std::string>{"Assertion failed: x == 1",
                                      "Assertion failed: Tried to assign unknown property fps."}));
}

TEST(CheckTest, DefaultHandlerStopsTheProcess) {
  EXPECT_DEATH(DRAVO_ASSERT(1 + 1 == 3), "Assertion failed: 1 \\+ 1 == 3");
  auto fatal = [] {
    logging::setBreakLevel(1);
    LOGF_TO("fatal", 1, "fatal condition");
  };
  EXPECT_DEATH(fatal(), "Reached terminating log level. Terminating");
}

}  // namespace
}  // namespace dravo
