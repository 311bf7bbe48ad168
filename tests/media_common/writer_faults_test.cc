// The file writers when the disk fills: each runs in a child process
// (tests/support/fault_writer_main.cc) against /dev/full or under a file-size
// limit, must finish normally, and must leave what it wrote before the limit
// readable by our readers and by the usual tools.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

// Reads every frame `reader` gives and checks each against the writer's
// pattern (luma (x, y) of frame n is x * 7 + y + n * 13); returns the count.
int readPatternFrames(VideoFileReader& reader) {
  Duration duration;
  int frames = 0;
  while (auto frame = reader.readFrame(&duration)) {
    EXPECT_EQ(frame->getPixelAddress(0, 2, 0)[5],
              static_cast<unsigned char>(5 * 7 + 2 + frames * 13));
    ++frames;
  }
  return frames;
}

TEST(WriterFaultsTest, EveryWriterFinishesOnAFullDisk) {
  for (char const* format : {"avi", "y4m", "wav", "pnm"})
    EXPECT_EQ(runWriter(format, "/dev/full", 20, 0), 0) << format;
}

class FileSizeLimitTest : public ::testing::Test {
 protected:
  std::string path(char const* name) const { return dir_.path() + "/" + name; }
  testing::ScopedTempDir dir_;
};

// AVI and Y4M recordings cut short by the limit: the frames before the cut
// read back intact, with our readers and with ffprobe.
struct CutRecording {
  char const* format;
  std::function<std::unique_ptr<VideoFileReader>()> make_reader;
  int min_frames;  // whole frames that fit in 64 KiB
};

TEST_F(FileSizeLimitTest, CutShortVideoKeepsItsFirstFramesReadable) {
  CutRecording const cases[] = {
      // The 4 KiB header area, then 12 frames of 4.5 KiB.
      {"avi", [] { return std::make_unique<AVIFileReader>(); }, 12},
      // 14 frames, then the start of one more that comes back cut short.
      {"y4m", [] { return std::make_unique<Y4MFileReader>(); }, 14},
  };
  for (CutRecording const& recording : cases) {
    SCOPED_TRACE(recording.format);
    std::string file = path(recording.format);
    ASSERT_EQ(runWriter(recording.format, file, 200, 64), 0);
    ASSERT_LE(std::filesystem::file_size(file), 64u * 1024);
    auto reader = recording.make_reader();
    ASSERT_TRUE(reader->openFile(file));
    int frames = readPatternFrames(*reader);
    EXPECT_GE(frames, recording.min_frames);
    EXPECT_LT(frames, 200);
    if (testing::haveTool("ffprobe")) {
      EXPECT_GE(testing::ffprobeFrameCount(file), recording.min_frames);
    }
  }
}

TEST_F(FileSizeLimitTest, WavCutShortKeepsItsSamplesReadable) {
  std::string file = path("cut.wav");
  ASSERT_EQ(runWriter("wav", file, 100, 64), 0);
  ASSERT_LE(std::filesystem::file_size(file), 64u * 1024);

  std::vector<std::vector<short>> channels;
  ASSERT_TRUE(WAVFileReader::readFromFile(file, &channels, nullptr));
  ASSERT_EQ(channels.size(), 2u);
  // 64 KiB minus the header hold a little over 8 blocks of 1000 frames.
  EXPECT_GE(channels[0].size(), 8000u);
  EXPECT_LT(channels[0].size(), 100000u);
  EXPECT_EQ(channels[0][1], static_cast<short>(2 * 31));  // sample 2 of block 0

  if (!testing::haveTool("sox")) GTEST_SKIP() << "sox is not installed";
  EXPECT_EQ(testing::runCommand("sox '" + file + "' -n stat 2>/dev/null").exit_code, 0);
}

TEST_F(FileSizeLimitTest, PnmBeyondTheLimitFailsWithoutCrashing) {
  // One 64x48 picture is 9 KiB; a 4 KiB limit cuts the first one short.
  EXPECT_EQ(runWriter("pnm", path("cut.ppm"), 3, 4), 0);
  EXPECT_LE(std::filesystem::file_size(path("cut.ppm")), 4u * 1024);
}

}  // namespace
}  // namespace dravo::media
