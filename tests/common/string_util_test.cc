#include "common/string_util.h"

#include <gtest/gtest.h>

namespace dravo {
namespace {

using Pieces = std::vector<std::string>;

TEST(StringUtilTest, SplitAndParseEdges) {
  EXPECT_EQ(SplitString("a,,b,", ",", kSplitKeepEmpty), (Pieces{"a", "", "b", ""}));
  EXPECT_EQ(SplitString(",a;;b", ",;", kSplitSkipEmpty), (Pieces{"a", "b"}));
  EXPECT_EQ(SplitString("", "\n", kSplitKeepEmpty), Pieces{""});
  uint32_t value = 7;
  EXPECT_TRUE(ParseUInt32("4294967295", &value) && value == 4294967295u);
  value = 7;
  for (const char* bad : {"", "4294967296", "99999999999999999999", "-1", "+1", " 1", "1a"})
    EXPECT_FALSE(ParseUInt32(bad, &value)) << bad;
  EXPECT_EQ(value, 7u) << "failures leave the output alone";
}

TEST(StringUtilTest, Utf16To8ReplacesLoneSurrogatesAndPrintfHasNoLimit) {
  EXPECT_EQ(utf16To8(u"A\u00e9\u20ac\U0001F600"), "A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
  const std::string replacement = "\xef\xbf\xbd";
  EXPECT_EQ(utf16To8(std::u16string{char16_t(0xD83D)}), replacement) << "high at the end";
  EXPECT_EQ(utf16To8(std::u16string{char16_t(0xDE00), char16_t(0xD83D), u'x'}),
            replacement + replacement + "x")
      << "lone low, high before a non-surrogate";
  std::string const long_text(1000, 'x');
  EXPECT_EQ(stringPrintf("%s!", long_text.c_str()), long_text + "!");
  EXPECT_EQ(GetShortSourceName("/src/media_common/debug_probe.cc"), "media_common/debug_probe.cc");
}

}  // namespace
}  // namespace dravo
