#include "media_common/riff.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media::riff {
namespace {

using namespace std::string_literals;

class RiffTest : public ::testing::Test {
 protected:
  // A file holding `bytes`, open for reading at its start.
  std::shared_ptr<File> fileWith(std::string const& bytes) {
    std::string const path = dir_.file("in.riff");
    EXPECT_TRUE(File::writeStringToFile(path, bytes));
    return File::open(path, File::kRead);
  }
  std::string contentsOf(std::shared_ptr<File>& written) {
    written.reset();
    std::string contents;
    EXPECT_TRUE(File::readFileToStringIfExists(dir_.file("out.riff"), &contents));
    return contents;
  }

  testing::ScopedTempDir dir_;
  testing::LogCapture log_{"riff:2"};
};

TEST_F(RiffTest, WritesExactBytesAndReadsThemBackWithoutSeeking) {
  auto out = File::open(dir_.file("out.riff"), File::kWrite);
  writeList(out, "RIFF", 0x01020304, "AVI ");
  writeList(out, "LIST", 4, "hdrl");
  writeChunkHeader(out, "avih", 0);
  writeChunkHeader(out, "data", 0xFFFFFFFF);
  std::string const bytes = contentsOf(out);
  EXPECT_EQ(bytes,
            "RIFF\x04\x03\x02\x01"
            "AVI LIST\x04\0\0\0hdrlavih\0\0\0\0data\xFF\xFF\xFF\xFF"s);

  auto in = fileWith(bytes);
  unsigned int size = 0;
  char type[5] = "????";
  ASSERT_TRUE(readList(in, "RIFF", &size, type));
  EXPECT_EQ(size, 0x01020304u) << "the size field is stored unchanged";
  EXPECT_STREQ(type, "AVI ");

  ChunkHeader header;
  ASSERT_TRUE(readChunkHeader(in, &header));
  EXPECT_EQ(header.fourcc, "hdrl") << "a LIST chunk reports its list type";
  EXPECT_EQ(header.chunk_size, 0u);
  EXPECT_TRUE(header.list);
  EXPECT_EQ(in->tell(), 24) << "positioned after the list type";

  ASSERT_TRUE(readChunkHeader(in, &header));
  EXPECT_EQ(header.fourcc, "avih");
  EXPECT_EQ(header.chunk_size, 0u);
  EXPECT_FALSE(header.list);
  ASSERT_TRUE(readChunkHeader(in, &header));
  EXPECT_EQ(header.chunk_size, 0xFFFFFFFFu);
  EXPECT_EQ(in->tell(), 40);
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(RiffTest, FailedReadsLogTheirCheckAndLeaveTheHeaderAlone) {
  struct Case {
    std::string bytes;
    char const* log;
  } const cases[] = {
      {"", "f->read(temp, 8) == 8"},
      {"dat", "f->read(temp, 8) == 8"},
      {"data\x10\0\0"s, "f->read(temp, 8) == 8"},
      {"LIST\x10\0\0\0"s, "f->read(temp, 4) == 4"},
      {"LIST\x10\0\0\0mov"s, "f->read(temp, 4) == 4"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    log_.clear();
    ChunkHeader header{"keep", 7, false};
    EXPECT_FALSE(readChunkHeader(fileWith(c.bytes), &header));
    EXPECT_EQ(header.fourcc, "keep");
    EXPECT_EQ(header.chunk_size, 7u);
    EXPECT_EQ(log_.messages("riff"), std::vector<std::string>{c.log});
  }
  // A list header cut short, or with another identifier (consumed anyway).
  std::vector<std::string> lists;
  for (size_t length = 0; length < 12; ++length)
    lists.push_back("RIFF\x04\0\0\0WAVE"s.substr(0, length));
  for (std::string const& id : {"RIFX"s, "riff"s, "LIST"s, "\0\0\0\0"s})
    lists.push_back(id + "\x04\0\0\0WAVE"s);
  for (std::string const& bytes : lists) {
    SCOPED_TRACE(::testing::PrintToString(bytes));
    log_.clear();
    auto in = fileWith(bytes);
    unsigned int size = 0;
    char type[5];
    EXPECT_FALSE(readList(in, "RIFF", &size, type));
    EXPECT_EQ(log_.messages("riff"),
              std::vector<std::string>{bytes.size() < 12 ? "f->read(data, 12) == 12"
                                                         : "0 == strncmp(listname, data, 4)"});
    if (bytes.size() == 12) {
      EXPECT_EQ(in->tell(), 12);
    }
  }
}

TEST_F(RiffTest, ShortIdentifiersAreReportedAndNeverReadPastTheirEnd) {
  testing::LogCapture checks("check:1");
  auto out = File::open(dir_.file("out.riff"), File::kWrite);
  writeChunkHeader(out, "ab", 1);
  writeList(out, "LIS", 2, "");
  EXPECT_EQ(contentsOf(out), "ab  \x01\0\0\0LIS \x02\0\0\0    "s);
  unsigned int size;
  char type[5];
  EXPECT_FALSE(readList(fileWith("RIFF\x04\0\0\0WAVE"s), "RI", &size, type));
  EXPECT_EQ(checks.messages("check"),
            (std::vector<std::string>{
                "Check failed strlen(chunkname) >= 4u ", "Check failed strlen(listname) >= 4u ",
                "Check failed strlen(fourcc) >= 4u ", "Check failed strlen(listname) >= 4u "}));
}

// Whatever the bytes, a read either fails cleanly or reports the fields
// exactly as they lie on disk; the sizes are never trusted here.
TEST_F(RiffTest, HostileHeadersAreReportedVerbatim) {
  struct Case {
    std::string bytes;
    bool ok;
    std::string fourcc;
    uint32_t size;
    bool list;
  } const cases[] = {
      {"LIST\x04\0\0\0movi"s, true, "movi", 0, true},
      {"LIST\0\0\0\0movi"s, true, "movi", 0xFFFFFFFC, true},  // size below its own type
      {"LIST\x03\0\0\0LIST"s, true, "LIST", 0xFFFFFFFF, true},
      {"\xFF\xFE\0\x80\xFF\xFF\xFF\xFF"s, true, "\xFF\xFE\0\x80"s, 0xFFFFFFFF, false},
      {"list\x05\0\0\0abcd"s, true, "list", 5, false},  // identifiers are case-sensitive
      {"LIST\xFF\xFF\xFF\xFF"s, false, "", 0, false},
      {"RIFF"s, false, "", 0, false},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    auto in = fileWith(c.bytes);
    ChunkHeader header;
    ASSERT_EQ(readChunkHeader(in, &header), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(header.fourcc, c.fourcc);
    EXPECT_EQ(header.chunk_size, c.size);
    EXPECT_EQ(header.list, c.list);
    EXPECT_EQ(in->tell(), c.list ? 12 : 8);
  }
}

}  // namespace
}  // namespace dravo::media::riff
