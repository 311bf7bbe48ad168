// Our AVI files against ffprobe and ffmpeg, both ways.

#include <gtest/gtest.h>

#include <cmath>

#include "media_common/video/avi_file_reader.h"
#include "media_common/video/avi_file_writer.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

using avi_testing::makeFrame;
using avi_testing::packedI420;

// An odd size (rows and chroma not word-sized) split by a size change: both
// parts play in ffmpeg as the frames written.
TEST(AVIInteropTest, FfmpegPlaysOurSplitI420Recording) {
  SKIP_WITHOUT_TOOL("ffprobe");
  SKIP_WITHOUT_TOOL("ffmpeg");
  testing::ScopedTempDir dir;
  std::vector<std::string> first, second;
  AVIFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir.file("rec.avi")));
  for (int i = 0; i < 5; ++i) {
    auto frame = i < 3 ? makeFrame(33, 17, i, 40 * i) : makeFrame(16, 8, i, 40 * i);
    (i < 3 ? first : second).push_back(packedI420(*frame));
    writer.writeFrame(frame);
  }
  writer.close();
  testing::expectFfmpegPlays(dir.file("rec.avi"), 33, 17, "25/1", first);
  testing::expectFfmpegPlays(dir.file("rec_part1.avi"), 16, 8, "25/1", second);
}

// Raw frames come out byte-exact, MJPEG ones as close as another decoder
// allows; the duration is that of the stream's rate in whole frames.
TEST(AVIInteropTest, WeReadFfmpegRecordings) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  testing::ScopedTempDir dir;
  struct Clip {
    std::string name, size, rate, codec_args;
    int width, height;
    float fps;
  } const clips[] = {
      {"raw", "33x17", "30000/1001", "-c:v rawvideo -pix_fmt yuv420p -vtag I420", 33, 17, 29},
      {"mjpeg", "35x21", "25", "-c:v mjpeg -pix_fmt yuvj420p", 35, 21, 25},
  };
  for (auto const& clip : clips) {
    SCOPED_TRACE(clip.name);
    std::string const path = dir.file(clip.name + ".avi");
    testing::commandOutput("ffmpeg -v error -f lavfi -i testsrc=size=" + clip.size + ":rate=" +
                           clip.rate + " -frames:v 5 " + clip.codec_args + " -y '" + path + "'");
    std::vector<std::string> const theirs =
        testing::ffmpegI420Frames(path, clip.width, clip.height);
    ASSERT_EQ(theirs.size(), 5u);
    bool const raw = clip.name == "raw";
    AVIFileReader reader;
    ASSERT_TRUE(reader.openFile(path));
    EXPECT_EQ(reader.format(), raw ? ImageBuffer::IMAGE_I420 : ImageBuffer::IMAGE_MJPEG);
    Duration duration;
    for (int i = 0; i < 5; ++i) {
      auto frame = reader.readFrame(&duration);
      ASSERT_TRUE(frame) << i;
      EXPECT_EQ(duration, Duration::fromSec(1.0 / clip.fps));
      std::string const ours = packedI420(*frame);
      ASSERT_EQ(ours.size(), theirs[i].size());
      double squares = 0;
      for (size_t b = 0; b < ours.size(); ++b)
        squares += std::pow(uint8_t(ours[b]) - uint8_t(theirs[i][b]), 2);
      // Mean squared error of 20 is a PSNR of about 35 dB.
      EXPECT_LE(squares / ours.size(), raw ? 0 : 20) << i;
    }
    EXPECT_FALSE(reader.readFrame(&duration));
    EXPECT_TRUE(reader.getEof());
  }
}

}  // namespace
}  // namespace dravo::media
