// Logging, checks, and string formatting.

#include "common/logging.h"

#include <gtest/gtest.h>

#include "common/check.h"
#include "common/string_util.h"
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
  EXPECT_TRUE(capture.contains("now visible") && !logging::isLoggerEnabled("anything", 3));
  EXPECT_FALSE(logging::configureLoggers("pad:-1,clock") || logging::getLoggerLevel("pad") != 5)
      << "a malformed list changes nothing";
  logging::resetLoggingConfiguration();
  EXPECT_EQ(logging::getLoggerLevel("anything"), 3);
}

TEST(CheckTest, ChecksLogAndContinueAssertionsReachTheHandler) {
  LogCapture capture;
  testing::AssertionCapture assertions;
  int x = 3;
  DRAVO_CHECK(x == 4);
  DRAVO_CHECK(x == 3);
  DRAVO_CHECK_EQ(x, 5);
  EXPECT_EQ(capture.messages("check"),
            (std::vector<std::string>{"Check failed x == 4 ", "Check failed: x == 5 (3 vs. 5)"}));
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

TEST(StringUtilTest, ParseUInt32TakesOnlyPlainDigitsInRangeAndPrintfHasNoLimit) {
  uint32_t value = 7;
  EXPECT_TRUE(ParseUInt32("4294967295", &value) && value == 4294967295u);
  value = 7;
  for (const char* bad : {"", "4294967296", "99999999999999999999", "-1", "+1", " 1", "1a"})
    EXPECT_FALSE(ParseUInt32(bad, &value)) << bad;
  EXPECT_EQ(value, 7u) << "failures leave the output alone";
  std::string const long_text(1000, 'x');
  EXPECT_EQ(stringPrintf("%s!", long_text.c_str()), long_text + "!");
}

}  // namespace
}  // namespace dravo
