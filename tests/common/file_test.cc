// Files, and the names of the files a recording continues in.

#include "common/file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "common/part_file_name.h"
#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo {
namespace {

// A fresh directory for the test's files; failed opens log at level 2.
class FileTest : public ::testing::Test {
 protected:
  std::string path(std::string const& name) const { return dir_.file(name); }
  testing::ScopedTempDir dir_;
  testing::LogCapture quiet_;
};

TEST_F(FileTest, SizeSeekLinesShortReadsAndOpenFailures) {
  auto file = File::open(path("data.bin"), File::kWrite);
  ASSERT_TRUE(file && file->write("hello world\n0123", 16));
  EXPECT_EQ(file->size(), 16) << "size counts unflushed bytes";
  EXPECT_FALSE(file->seek(-1, File::kFromStart));
  file = File::open(path("data.bin"), File::kAppend);
  ASSERT_TRUE(file->seek(0) && file->write("456789\n\nlast", 12)) << "appends at any position";
  file = File::open(path("data.bin"), File::kRead);
  EXPECT_FALSE(file->write("x", 1)) << "read-only file";
  // Lines lose their newline; a long one comes in pieces of the limit.
  std::string line, lines;
  while (file->readLine(&line, lines.empty() ? 100 : 4)) lines += line + "|";
  EXPECT_EQ(lines, "hello world|0123|4567|89||last|");
  char buffer[32] = {};
  ASSERT_TRUE(file->seek(-5, File::kFromEnd));
  EXPECT_EQ(file->read(buffer, sizeof buffer), 5u) << "a read past the end is short";
  EXPECT_TRUE(file->eof());
  EXPECT_FALSE(File::open(path("missing"), File::kReadWrite) ||
               File::open(dir_.path(), File::kRead) ||
               File::open(path("data.bin"), File::kAppend, File::kExclusive));
}

TEST_F(FileTest, WholeFilesAreReplacedWithoutLeftoversAndDirectoriesMadeOnce) {
  std::string contents = "stale";
  EXPECT_FALSE(File::readFileToStringIfExists(path("missing"), &contents));
  EXPECT_EQ(contents, "");
  std::string const binary("a\0b\n", 4);
  ASSERT_TRUE(File::writeStringToFile(path("f"), "longer text replaced") &&
              File::writeStringToFile(path("f"), binary));
  ASSERT_TRUE(File::readFileToStringIfExists(path("f"), &contents));
  EXPECT_EQ(contents, binary);
  EXPECT_FALSE(File::readFileToStringIfExists(path("f"), &contents, 3)) << "over the limit";
  EXPECT_FALSE(File::writeStringToFile(path("no/dir/f"), "x"));
  EXPECT_TRUE(File::remove(path("f")) && !File::remove(path("f")));
  EXPECT_EQ(system(("test -z \"$(ls '" + dir_.path() + "')\"").c_str()), 0) << "temporary files";
  EXPECT_TRUE(File::recursivelyCreateDir(path("a/b//c/")) &&
              File::recursivelyCreateDir(path("a/b//c/")) &&
              File::writeStringToFile(path("a/b/c/x"), "1"));
  EXPECT_FALSE(File::recursivelyCreateDir(path("a/b/c/x/y"))) << "a file is in the way";
}

// The name itself is part 0; parts replace the first extension and what
// follows, in any letter case, counted rather than chained; without an
// extension they append; the directory never changes.
TEST(PartFileNameTest, DerivesThePartName) {
  for (auto [name, extension, part, expected] :
       std::vector<std::tuple<char const*, char const*, int, char const*>>{
           {"rec.avi", ".avi", 0, "rec.avi"},
           {"rec.avi", ".avi", 12, "rec_part12.avi"},
           {"take.wav.tmp", ".wav", 2, "take_part2.wav"},
           {"a.y4m.y4m", ".y4m", 1, "a_part1.y4m"},
           {"REC.Y4M", ".y4m", 1, "REC_part1.Y4M"},
           {"r_part1.avi", ".avi", 2, "r_part1_part2.avi"},
           {"clip", ".avi", 3, "clip_part3"},
           {"m.avi/clip", ".avi", 1, "m.avi/clip_part1"},
           {"", ".avi", 1, ""}})
    EXPECT_EQ(partFileName(name, extension, part), expected) << name << " part " << part;
}

}  // namespace
}  // namespace dravo
