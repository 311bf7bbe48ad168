// The file writers when the disk fills: each runs in a child process
// (tests/support/fault_writer_main.cc) against /dev/full or under a file-size
// limit, must finish normally, and must leave what it wrote before the limit
// readable by our readers and by the usual tools.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "media_common/audio/wav_file_reader.h"
#include "media_common/video/avi_file_reader.h"
#include "media_common/video/y4m_file_reader.h"
#include "tests/support/run_command.h"
#include "tests/support/scoped_temp_dir.h"

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

class FileSizeLimitTest : public ::testing::Test {
 protected:
  std::string path(char const* name) const { return dir_.path() + "/" + name; }
  testing::ScopedTempDir dir_;
};

TEST_F(FileSizeLimitTest, AviCutShortKeepsItsFirstFramesReadable) {
  std::string file = path("cut.avi");
  ASSERT_EQ(runWriter("avi", file, 200, 64), 0);
  ASSERT_LE(std::filesystem::file_size(file), 64u * 1024);

  AVIFileReader reader;
  ASSERT_TRUE(reader.openFile(file));
  Duration duration;
  int frames = 0;
  while (auto frame = reader.readFrame(&duration)) {
    ASSERT_EQ(frame->width(), 64);
    // The writer's pattern: luma (x, y) of frame n is x * 7 + y + n * 13.
    EXPECT_EQ(frame->getPixelAddress(0, 2, 0)[5],
              static_cast<unsigned char>(5 * 7 + 2 + frames * 13));
    ++frames;
  }
  // 64 KiB hold the 4 KiB header area and 12 frames of 4.5 KiB.
  EXPECT_GE(frames, 12);
  EXPECT_LT(frames, 200);

  if (!testing::haveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  auto probe = testing::runCommand(
      "ffprobe -v error -count_frames -select_streams v:0 "
      "-show_entries stream=nb_read_frames -of csv=p=0 '" +
      file + "'");
  EXPECT_EQ(probe.exit_code, 0);
  EXPECT_GE(std::atoi(probe.output.c_str()), 12) << probe.output;
}

TEST_F(FileSizeLimitTest, Y4mCutShortKeepsItsWholeFramesReadable) {
  std::string file = path("cut.y4m");
  ASSERT_EQ(runWriter("y4m", file, 200, 64), 0);
  ASSERT_LE(std::filesystem::file_size(file), 64u * 1024);

  Y4MFileReader reader;
  ASSERT_TRUE(reader.openFile(file));
  Duration duration;
  int frames = 0;
  while (auto frame = reader.readFrame(&duration)) {
    EXPECT_EQ(frame->getPixelAddress(0, 2, 0)[5],
              static_cast<unsigned char>(5 * 7 + 2 + frames * 13));
    ++frames;
  }
  // 64 KiB hold 14 frames of 4.5 KiB and the start of the next one, which
  // comes back cut short.
  EXPECT_GE(frames, 14);
  EXPECT_LT(frames, 200);

  if (!testing::haveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  auto probe = testing::runCommand(
      "ffprobe -v error -count_frames -select_streams v:0 "
      "-show_entries stream=nb_read_frames -of csv=p=0 '" +
      file + "'");
  EXPECT_EQ(probe.exit_code, 0);
  EXPECT_GE(std::atoi(probe.output.c_str()), 14) << probe.output;
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
