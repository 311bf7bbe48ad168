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

// Part 0 is the name itself; parts replace the first extension and what
// follows, in any letter case, counted rather than chained; without an
// extension they append; the directory never changes.
INSTANTIATE_TEST_SUITE_P(Rules, PartFileNameTest,
                         ::testing::Values(PartCase{"rec.avi", ".avi", 0, "rec.avi"},
                                           PartCase{"rec.avi", ".avi", 1, "rec_part1.avi"},
                                           PartCase{"rec.avi", ".avi", 12, "rec_part12.avi"},
                                           PartCase{"take.wav.tmp", ".wav", 2, "take_part2.wav"},
                                           PartCase{"a.y4m.y4m", ".y4m", 1, "a_part1.y4m"},
                                           PartCase{"REC.Y4M", ".y4m", 1, "REC_part1.Y4M"},
                                           PartCase{"r_part1.avi", ".avi", 2, "r_part1_part2.avi"},
                                           PartCase{"clip", ".avi", 3, "clip_part3"},
                                           PartCase{"m.avi/clip", ".avi", 1, "m.avi/clip_part1"},
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
