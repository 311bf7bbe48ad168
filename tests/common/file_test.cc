#include "common/file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "tests/support/capture.h"

namespace dravo {
namespace {

// A fresh directory under the system temp dir, removed with its files.
class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dravo_file_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0); }
  std::string path(std::string const& name) const { return File::joinPath(dir_, name); }

  std::string dir_;
  testing::LogCapture quiet_;  // failed opens log at level 2
};

TEST_F(FileTest, RoundTripSeekTellSizeAndShortReads) {
  auto file = File::open(path("data.bin"), File::kWrite);
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->write("hello world", 11));
  EXPECT_EQ(file->size(), 11) << "size counts unflushed bytes";
  ASSERT_TRUE(file->seek(6));
  ASSERT_TRUE(file->write("WORLD", 5));
  EXPECT_EQ(file->tell(), 11);
  EXPECT_FALSE(file->seek(-1, File::kFromStart));
  EXPECT_EQ(file->tell(), 11);
  file.reset();

  file = File::open(path("data.bin"), File::kRead);
  ASSERT_TRUE(file);
  char buffer[32] = {};
  ASSERT_TRUE(file->seek(-5, File::kFromEnd));
  EXPECT_EQ(file->read(buffer, sizeof buffer), 5u) << "a read past the end is short";
  EXPECT_EQ(std::string(buffer, 5), "WORLD");
  EXPECT_EQ(file->read(buffer, sizeof buffer), 0u);
  EXPECT_TRUE(file->eof());
  EXPECT_FALSE(file->write("x", 1)) << "read-only file";

  file = File::open(path("data.bin"), File::kAppend);
  ASSERT_TRUE(file->write("!", 1));
  file.reset();
  std::string contents;
  ASSERT_TRUE(File::readFileToStringIfExists(path("data.bin"), &contents));
  EXPECT_EQ(contents, "hello WORLD!");
}

TEST_F(FileTest, OpenFailuresGiveNull) {
  EXPECT_FALSE(File::open(path("missing"), File::kRead));
  EXPECT_FALSE(File::open(path("missing"), File::kReadWrite));
  EXPECT_FALSE(File::open(dir_, File::kRead)) << "a directory is not a file";
  EXPECT_FALSE(File::open(path("no/such/dir/file"), File::kWrite));
  ASSERT_TRUE(File::open(path("once"), File::kWrite, File::kExclusive));
  EXPECT_FALSE(File::open(path("once"), File::kWrite, File::kExclusive));
}

TEST_F(FileTest, ReadLineIsBounded) {
  ASSERT_TRUE(File::writeStringToFile(path("lines"), "short\r\n0123456789\n\nlast"));
  auto file = File::open(path("lines"), File::kRead);
  std::string line;
  ASSERT_TRUE(file->readLine(&line, 100));
  EXPECT_EQ(line, "short\r");
  ASSERT_TRUE(file->readLine(&line, 4));
  EXPECT_EQ(line, "0123");
  ASSERT_TRUE(file->readLine(&line, 100));
  EXPECT_EQ(line, "456789");
  ASSERT_TRUE(file->readLine(&line, 100));
  EXPECT_EQ(line, "");
  ASSERT_TRUE(file->readLine(&line, 100));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(file->readLine(&line, 100));
}

TEST_F(FileTest, WholeFileHelpers) {
  std::string contents = "stale";
  EXPECT_FALSE(File::readFileToStringIfExists(path("missing"), &contents));
  EXPECT_EQ(contents, "");

  std::string binary("a\0b\n", 4);
  ASSERT_TRUE(File::writeStringToFile(path("f"), binary));
  ASSERT_TRUE(File::writeStringToFile(path("f"), binary + binary)) << "replaces";
  ASSERT_TRUE(File::readFileToStringIfExists(path("f"), &contents));
  EXPECT_EQ(contents, binary + binary);
  EXPECT_FALSE(File::readFileToStringIfExists(path("f"), &contents, 7)) << "over the limit";
  EXPECT_EQ(contents, "");
  EXPECT_FALSE(File::writeStringToFile(path("no/dir/f"), "x"));

  EXPECT_TRUE(File::remove(path("f")));
  EXPECT_FALSE(File::exists(path("f")));
  EXPECT_FALSE(File::remove(path("f")));
  // No temporary files are left behind.
  EXPECT_EQ(system(("test -z \"$(ls '" + dir_ + "')\"").c_str()), 0);
}

TEST_F(FileTest, RecursivelyCreateDir) {
  std::string deep = path("a/b//c/");
  EXPECT_TRUE(File::recursivelyCreateDir(deep));
  EXPECT_TRUE(File::recursivelyCreateDir(deep)) << "existing is fine";
  EXPECT_TRUE(File::writeStringToFile(path("a/b/c/x"), "1"));
  EXPECT_FALSE(File::recursivelyCreateDir(path("a/b/c/x/y"))) << "a file is in the way";
  EXPECT_FALSE(File::recursivelyCreateDir(""));
}

TEST_F(FileTest, OffsetsBeyondFourGiB) {
  auto file = File::open(path("sparse"), File::kWrite);
  ASSERT_TRUE(file);
  constexpr int64_t kFar = (int64_t{5} << 30) + 3;
  if (!file->seek(kFar) || !file->write("end", 3) || !file->flush())
    GTEST_SKIP() << "the file system refuses sparse files this large";
  EXPECT_EQ(file->size(), kFar + 3);
  file = File::open(path("sparse"), File::kRead);
  ASSERT_TRUE(file->seek(-3, File::kFromEnd));
  EXPECT_EQ(file->tell(), kFar);
  char buffer[3];
  ASSERT_EQ(file->read(buffer, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "end");
}

TEST(FilePathTest, Extension) {
  EXPECT_EQ(File::extension("movie.Y4M"), "Y4M");
  EXPECT_EQ(File::extension("/a/b/archive.tar.gz"), "gz");
  EXPECT_EQ(File::extension("dir.x/file"), "");
  EXPECT_EQ(File::extension("file"), "");
  EXPECT_EQ(File::extension("file."), "");
  EXPECT_EQ(File::extension(".hidden"), "hidden");
  EXPECT_EQ(File::extension(""), "");
}

TEST(FilePathTest, JoinPath) {
  EXPECT_EQ(File::joinPath("a", "b"), "a/b");
  EXPECT_EQ(File::joinPath("a/", "/b"), "a/b");
  EXPECT_EQ(File::joinPath("/", "b"), "/b");
  EXPECT_EQ(File::joinPath("", "b"), "b");
  EXPECT_EQ(File::joinPath("a", ""), "a");
}

// Restores an environment variable when destroyed.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    had_ = getenv(name) != nullptr;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_;
};

TEST(FilePathTest, ConfigPathPrecedence) {
  ScopedEnv override_path("DRAVO_CONFIG_PATH", nullptr);
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  ScopedEnv home("HOME", "/home/tester");
  EXPECT_EQ(getConfigPath(), "/home/tester/.config/media_common");
  {
    ScopedEnv set_xdg("XDG_CONFIG_HOME", "/xdg/");
    EXPECT_EQ(getConfigPath(), "/xdg/media_common");
    ScopedEnv set_override("DRAVO_CONFIG_PATH", "/tmp/cfg");
    EXPECT_EQ(getConfigPath(), "/tmp/cfg");
  }
  ScopedEnv relative_xdg("XDG_CONFIG_HOME", "relative");
  EXPECT_EQ(getConfigPath(), "/home/tester/.config/media_common");
}

}  // namespace
}  // namespace dravo
