#include "common/file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>

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

  EXPECT_FALSE(File::open(path("missing"), File::kReadWrite));
  EXPECT_FALSE(File::open(dir_.path(), File::kRead)) << "a directory is not a file";
  EXPECT_FALSE(File::open(path("data.bin"), File::kAppend, File::kExclusive));
}

TEST_F(FileTest, WholeFileHelpersAndDirectories) {
  std::string contents = "stale";
  EXPECT_FALSE(File::readFileToStringIfExists(path("missing"), &contents));
  EXPECT_EQ(contents, "");
  std::string const binary("a\0b\n", 4);
  ASSERT_TRUE(File::writeStringToFile(path("f"), "longer text replaced") &&
              File::writeStringToFile(path("f"), binary + binary));
  ASSERT_TRUE(File::readFileToStringIfExists(path("f"), &contents));
  EXPECT_EQ(contents, binary + binary);
  EXPECT_FALSE(File::readFileToStringIfExists(path("f"), &contents, 7)) << "over the limit";
  EXPECT_FALSE(File::writeStringToFile(path("no/dir/f"), "x"));
  EXPECT_TRUE(File::remove(path("f")) && !File::remove(path("f")));
  // No temporary files are left behind.
  EXPECT_EQ(system(("test -z \"$(ls '" + dir_.path() + "')\"").c_str()), 0);

  EXPECT_TRUE(File::recursivelyCreateDir(path("a/b//c/")) &&
              File::recursivelyCreateDir(path("a/b//c/")))
      << "existing is fine";
  EXPECT_TRUE(File::writeStringToFile(path("a/b/c/x"), "1"));
  EXPECT_FALSE(File::recursivelyCreateDir(path("a/b/c/x/y"))) << "a file is in the way";
}

TEST_F(FileTest, OffsetsBeyondFourGiB) {
  auto file = File::open(path("sparse"), File::kWrite);
  constexpr int64_t kFar = (int64_t{5} << 30) + 3;
  if (!file->seek(kFar) || !file->write("end", 3) || !file->flush())
    GTEST_SKIP() << "the file system refuses sparse files this large";
  EXPECT_EQ(file->size(), kFar + 3);
  file = File::open(path("sparse"), File::kRead);
  ASSERT_TRUE(file->seek(-3, File::kFromEnd));
  EXPECT_EQ(file->tell(), kFar);
}

TEST(FilePathTest, ExtensionJoinPathAndConfigPathPrecedence) {
  for (auto [name, extension] :
       {std::pair{"/a/b/archive.tar.gz", "gz"}, std::pair{"dir.x/file", ""}, std::pair{"file.", ""},
        std::pair{".hidden", "hidden"}})
    EXPECT_EQ(File::extension(name), extension) << name;
  EXPECT_EQ(File::joinPath("a/", "/b") + File::joinPath("", "b"), "a/bb");

  std::vector<std::pair<const char*, std::optional<std::string>>> saved;
  for (const char* name : {"DRAVO_CONFIG_PATH", "XDG_CONFIG_HOME", "HOME"})
    saved.emplace_back(name,
                       getenv(name) ? std::optional<std::string>(getenv(name)) : std::nullopt);
  unsetenv("DRAVO_CONFIG_PATH");
  setenv("HOME", "/home/tester", 1);
  setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(getConfigPath(), "/home/tester/.config/media_common");
  setenv("XDG_CONFIG_HOME", "/xdg/", 1);
  EXPECT_EQ(getConfigPath(), "/xdg/media_common");
  setenv("DRAVO_CONFIG_PATH", "/tmp/cfg", 1);
  EXPECT_EQ(getConfigPath(), "/tmp/cfg");
  for (auto const& [name, value] : saved) value ? setenv(name, value->c_str(), 1) : unsetenv(name);
}

}  // namespace
}  // namespace dravo
