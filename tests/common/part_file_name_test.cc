#include "common/part_file_name.h"

#include <gtest/gtest.h>

#include <set>

namespace dravo {
namespace {

struct PartCase {
  const char* name;
  const char* extension;
  int part;
  const char* expected;
};

class PartFileNameTest : public ::testing::TestWithParam<PartCase> {};

TEST_P(PartFileNameTest, DerivesThePartName) {
  PartCase const& c = GetParam();
  EXPECT_EQ(partFileName(c.name, c.extension, c.part), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PartFileNameTest,
    ::testing::Values(
        PartCase{"rec.avi", ".avi", 0, "rec.avi"},                 // part 0 is the name itself
        PartCase{"rec.avi", ".avi", 1, "rec_part1.avi"},           // the extension
        PartCase{"rec.avi", ".avi", 12, "rec_part12.avi"},         // counted, not chained
        PartCase{"take.wav.tmp", ".wav", 2, "take_part2.wav"},     // the rest is dropped
        PartCase{"a.y4m.y4m", ".y4m", 1, "a_part1.y4m"},           // the first one
        PartCase{"REC.Y4M", ".y4m", 1, "REC_part1.Y4M"},           // any case, kept as written
        PartCase{"rec_part1.avi", ".avi", 2, "rec_part1_part2.avi"},
        PartCase{"clip", ".avi", 3, "clip_part3"},                 // no extension: appended
        PartCase{"movies.avi/clip", ".avi", 1, "movies.avi/clip_part1"},  // never the directory
        PartCase{"d.wav/x.wav", ".wav", 1, "d.wav/x_part1.wav"},
        PartCase{"", ".avi", 1, ""}));

TEST(PartFileNameNamesTest, PartsOfOneRecordingNeverShareAName) {
  for (const char* name : {"rec.avi", "rec", "rec_part1", "rec_part1.avi", ".avi", "x.AVI.avi",
                           "dir.avi/", "a_part1.avi.avi"}) {
    std::set<std::string> names;
    for (int part = 0; part <= 12; ++part) names.insert(partFileName(name, ".avi", part));
    EXPECT_EQ(names.size(), 13u) << name;
  }
}

}  // namespace
}  // namespace dravo
