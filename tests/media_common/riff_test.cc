// RIFF list and chunk headers: read back verbatim or refused with their
// check, whatever the bytes.

#include "media_common/riff.h"

#include <gtest/gtest.h>

#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media::riff {
namespace {

using namespace std::string_literals;

// One header read from `bytes`: a "RIFF" list when `riff_list`, else a chunk
// header. A refused read names its failed check and leaves the chunk header
// alone; past a foreign list identifier it has consumed the list header.
struct Case {
  std::string bytes;
  char const* failed_check;  // null when the read succeeds
  std::string fourcc = "";   // the chunk's identifier, or the list's type
  uint32_t size = 0;         // as stored: sizes are never trusted here
  bool list = false;
  bool riff_list = false;
} const kCases[] = {
    {"RIFF\x04\x03\x02\x01WAVE"s, nullptr, "WAVE", 0x01020304, true, true},
    {"RIFF\x04\0\0\0WA"s, "f->read(data, 12) == 12", "", 0, false, true},
    {"RIFX\x04\0\0\0WAVE"s, "0 == strncmp(listname, data, 4)", "", 0, false, true},
    {"LIST\0\0\0\0movi"s, nullptr, "movi", 0xFFFFFFFC, true},  // size below its own type
    {"\xFF\xFE\0\x80\xFF\xFF\xFF\xFF"s, nullptr, "\xFF\xFE\0\x80"s, 0xFFFFFFFF},
    {"list\x05\0\0\0abcd"s, nullptr, "list", 5},  // identifiers are case-sensitive
    {"data\x10\0\0"s, "f->read(temp, 8) == 8"},
    {"LIST\x10\0\0\0mov"s, "f->read(temp, 4) == 4"},
};

TEST(RiffTest, HeadersReadBackVerbatimOrFailWithTheirCheck) {
  testing::ScopedTempDir dir;
  for (Case const& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    testing::LogCapture log("riff:2");
    ASSERT_TRUE(File::writeStringToFile(dir.file("in.riff"), c.bytes));
    auto in = File::open(dir.file("in.riff"), File::kRead);
    ChunkHeader header{"keep", 7, false};
    char type[5] = "";
    bool const read =
        c.riff_list ? readList(in, "RIFF", &header.chunk_size, type) : readChunkHeader(in, &header);
    ASSERT_EQ(read, !c.failed_check);
    EXPECT_EQ(log.messages("riff"), c.failed_check ? std::vector<std::string>{c.failed_check}
                                                   : std::vector<std::string>{});
    if (c.riff_list && read) header.fourcc = type;
    EXPECT_EQ(header.fourcc, c.failed_check ? "keep"s : c.fourcc);
    EXPECT_EQ(read ? header.chunk_size : c.size, c.size);
    if (read || c.bytes.size() >= 12) {
      EXPECT_EQ(in->tell(), c.list || c.riff_list ? 12 : 8);
    }
  }
}

}  // namespace
}  // namespace dravo::media::riff
