// The file writers when the disk fills: each runs in a child process
// (tests/support/fault_writer_main.cc) against /dev/full or under a file-size
// limit, must finish normally, and must leave what it wrote before the limit
// readable by our readers and by the usual tools.

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "common/file.h"
#include "media_common/audio/wav_file_reader.h"
#include "media_common/video/avi_file_reader.h"
#include "media_common/video/y4m_file_reader.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

// The writer process, with SIGXFSZ ignored so that a write past the limit
// fails with EFBIG instead of killing it, as a full disk would.
int runWriter(std::string const& format, std::string const& path, int count, int limit_kib) {
  std::string limit = limit_kib > 0 ? "ulimit -f " + std::to_string(limit_kib) + "; " : "";
  std::string command = "bash -c \"" + limit + "trap '' XFSZ; exec '" FAULT_WRITER_PATH "' " +
                        format + " '" + path + "' " + std::to_string(count) + "\" 2>/dev/null";
  return testing::runCommand(command).exit_code;
}

TEST(WriterFaultsTest, EveryWriterFinishesOnAFullDisk) {
  for (char const* format : {"avi", "y4m", "wav", "pnm"})
    EXPECT_EQ(runWriter(format, "/dev/full", 20, 0), 0) << format;
}

// A scratch directory for recordings cut short by a file-size limit.
class FileSizeLimitTest : public ::testing::Test {
 protected:
  std::string path(char const* name) const { return dir_.path() + "/" + name; }
  testing::ScopedTempDir dir_;
};

// AVI and Y4M recordings cut short by the limit: the frames before the cut
// read back intact, with our readers and with ffprobe. 64 KiB hold the AVI's
// 4 KiB header area and 12 frames of 4.5 KiB (13 in RIFF lists of 16 KiB,
// as a recording past 1 GiB continues), or 14 Y4M frames and the start of one
// more that comes back cut short.
TEST_F(FileSizeLimitTest, CutShortVideoKeepsItsFirstFramesReadable) {
  AVIFileReader avi;
  Y4MFileReader y4m;
  for (auto [format, reader, min_frames] :
       {std::tuple<char const*, VideoFileReader*, int>{"avi", &avi, 12},
        {"avi-odml", &avi, 13},
        {"y4m", &y4m, 14}}) {
    SCOPED_TRACE(format);
    std::string file = path(format);
    ASSERT_EQ(runWriter(format, file, 200, 64), 0);
    ASSERT_LE(std::filesystem::file_size(file), 64u * 1024);
    ASSERT_TRUE(reader->openFile(file));
    // Each frame read matches the writer's pattern: luma (x, y) of frame n is
    // x * 7 + y + n * 13.
    Duration duration;
    int frames = 0;
    for (; auto frame = reader->readFrame(&duration); ++frames)
      EXPECT_EQ(frame->getPixelAddress(0, 2, 0)[5], static_cast<uint8_t>(37 + frames * 13));
    EXPECT_GE(frames, min_frames);
    EXPECT_LT(frames, 200);
    // The headers count the frames written whole, not those the file refused.
    if (std::string(format) == "avi") {
      std::string bytes;
      ASSERT_TRUE(File::readFileToStringIfExists(file, &bytes, 1 << 20));
      EXPECT_EQ(uint8_t(bytes[48]) | uint8_t(bytes[49]) << 8, frames);
    } else if (std::string(format) == "avi-odml") {
      EXPECT_GE(avi.riffSegments(), 3);
      EXPECT_EQ(avi.declaredTotalFrames(), frames);
    }
    if (testing::haveTool("ffprobe")) {
      EXPECT_GE(testing::ffprobeFrameCount(file), min_frames);
    }
  }
}

TEST_F(FileSizeLimitTest, WavCutShortKeepsItsSamplesReadable) {
  std::string file = path("cut.wav");
  ASSERT_EQ(runWriter("wav", file, 100, 64), 0);
  std::vector<std::vector<short>> channels;
  ASSERT_TRUE(WAVFileReader::readFromFile(file, &channels, nullptr));
  ASSERT_EQ(channels.size(), 2u);
  // 64 KiB minus the header hold a little over 8 blocks of 1000 frames.
  EXPECT_GE(channels[0].size(), 8000u);
  EXPECT_LT(channels[0].size(), 100000u);
  EXPECT_EQ(channels[0][1], static_cast<short>(2 * 31));  // sample 2 of block 0
}

}  // namespace
}  // namespace dravo::media
