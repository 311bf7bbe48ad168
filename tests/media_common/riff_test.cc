// RIFF list and chunk headers: read back verbatim or refused with their
// check, whatever the bytes.

#include "media_common/riff.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media::riff {
namespace {

using namespace std::string_literals;

// A scratch directory and the RIFF code's log.
class RiffTest : public ::testing::Test {
 protected:
  // A file holding `bytes`, open for reading at its start.
  std::shared_ptr<File> fileWith(std::string const& bytes) {
    std::string const path = dir_.file("in.riff");
    EXPECT_TRUE(File::writeStringToFile(path, bytes));
    return File::open(path, File::kRead);
  }

  testing::ScopedTempDir dir_;
  testing::LogCapture log_{"riff:2"};
};

TEST_F(RiffTest, HeadersReadBackVerbatimOrFailWithTheirCheckAndShortNamesAreRefused) {
  unsigned int size = 0;
  char type[5];
  ASSERT_TRUE(readList(fileWith("RIFF\x04\x03\x02\x01WAVE"s), "RIFF", &size, type));
  EXPECT_EQ(size, 0x01020304u);  // stored unchanged
  EXPECT_STREQ(type, "WAVE");
  // A short read, then a foreign identifier, which is consumed.
  for (std::string const& bytes : {"RIFF\x04\0\0\0WA"s, "RIFX\x04\0\0\0WAVE"s}) {
    SCOPED_TRACE(::testing::PrintToString(bytes));
    log_.clear();
    auto in = fileWith(bytes);
    EXPECT_FALSE(readList(in, "RIFF", &size, type));
    EXPECT_EQ(log_.messages("riff"),
              std::vector<std::string>{bytes.size() < 12 ? "f->read(data, 12) == 12"
                                                         : "0 == strncmp(listname, data, 4)"});
    EXPECT_TRUE(bytes.size() < 12 || in->tell() == 12);
  }

  // Whatever the bytes, a chunk header read either fails cleanly, leaving the
  // header alone and logging its check, or reports the fields exactly as they
  // lie on disk; the sizes are never trusted here.
  struct Case {
    std::string bytes;
    char const* failed_check;  // null when the read succeeds
    std::string fourcc = "";
    uint32_t size = 0;
    bool list = false;
  } const cases[] = {
      {"LIST\0\0\0\0movi"s, nullptr, "movi", 0xFFFFFFFC, true},  // size below its own type
      {"\xFF\xFE\0\x80\xFF\xFF\xFF\xFF"s, nullptr, "\xFF\xFE\0\x80"s, 0xFFFFFFFF, false},
      {"list\x05\0\0\0abcd"s, nullptr, "list", 5, false},  // identifiers are case-sensitive
      {"data\x10\0\0"s, "f->read(temp, 8) == 8"},
      {"LIST\x10\0\0\0mov"s, "f->read(temp, 4) == 4"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    log_.clear();
    auto in = fileWith(c.bytes);
    ChunkHeader header{"keep", 7, false};
    ASSERT_EQ(readChunkHeader(in, &header), !c.failed_check);
    if (c.failed_check) {
      EXPECT_EQ(header.fourcc, "keep");
      EXPECT_EQ(header.chunk_size, 7u);
      EXPECT_EQ(log_.messages("riff"), std::vector<std::string>{c.failed_check});
      continue;
    }
    EXPECT_EQ(header.fourcc, c.fourcc);
    EXPECT_EQ(header.chunk_size, c.size);
    EXPECT_EQ(header.list, c.list);
    EXPECT_EQ(in->tell(), c.list ? 12 : 8);
  }

  // Short identifiers are reported and never read past their end.
  testing::LogCapture checks("check:1");
  auto out = File::open(dir_.file("out.riff"), File::kWrite);
  writeChunkHeader(out, "ab", 1);
  writeList(out, "LIS", 2, "");
  out.reset();
  std::string contents;
  EXPECT_TRUE(File::readFileToStringIfExists(dir_.file("out.riff"), &contents));
  EXPECT_EQ(contents, "ab  \x01\0\0\0LIS \x02\0\0\0    "s);
  EXPECT_FALSE(readList(fileWith("RIFF\x04\0\0\0WAVE"s), "RI", &size, type));
  EXPECT_EQ(checks.messages("check"),
            (std::vector<std::string>{
                "Check failed strlen(chunkname) >= 4u ", "Check failed strlen(listname) >= 4u ",
                "Check failed strlen(fourcc) >= 4u ", "Check failed strlen(listname) >= 4u "}));
}

}  // namespace
}  // namespace dravo::media::riff
