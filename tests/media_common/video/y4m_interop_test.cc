// Our Y4M files against ffprobe and ffmpeg, both ways.

#include <gtest/gtest.h>

#include "media_common/video/y4m_file_reader.h"
#include "media_common/video/y4m_sink.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/file_sink_test_fixture.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

using avi_testing::makeFrame;
using avi_testing::packedI420;

class Y4MInteropTest : public FileSinkTest {
 protected:
  Y4MInteropTest() : FileSinkTest(createY4MSink, "y4m") {}
};

// Recorded through the sink with a size change in the middle: both files
// play as the frames fed, at the header's 30 frames per second.
TEST_F(Y4MInteropTest, FfmpegPlaysOurSplitRecording) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  SKIP_WITHOUT_TOOL("ffprobe");
  set("filename", PropertyValue(dir_.file("rec.y4m")));
  std::vector<std::string> first, second;
  for (int i = 0; i < 7; ++i) {
    auto frame = i < 4 ? makeFrame(64, 48, i) : makeFrame(33, 17, i);
    (i < 4 ? first : second).push_back(packedI420(*frame));
    feed(frame);
  }
  sink_.reset();
  testing::expectFfmpegPlays(dir_.file("rec.y4m"), 64, 48, "30/1", first);
  testing::expectFfmpegPlays(dir_.file("rec_part1.y4m"), 33, 17, "30/1", second);
}

// Interlaced with a pixel aspect: read to the byte at the header's rate.
TEST_F(Y4MInteropTest, WeReadFfmpegFilesByteExact) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  std::string const path = dir_.file("clip.y4m");
  testing::commandOutput(
      "ffmpeg -v error -f lavfi -i testsrc=size=35x21:rate=30000/1001 -frames:v 4 "
      "-vf setfield=tff,setsar=16/11 -pix_fmt yuv420p -f yuv4mpegpipe -y '" +
      path + "'");
  std::string const contents = avi_testing::contentsOf(path);
  EXPECT_NE(contents.substr(0, contents.find('\n')).find(" F30000:1001 It A16:11 "),
            std::string::npos);
  std::vector<std::string> const expected = testing::ffmpegI420Frames(path, 35, 21);
  ASSERT_EQ(expected.size(), 4u);
  Y4MFileReader reader;
  ASSERT_TRUE(reader.openFile(path));
  Duration duration;
  for (int i = 0; i < 4; ++i) {
    auto frame = reader.readFrame(&duration);
    ASSERT_TRUE(frame) << i;
    EXPECT_EQ(duration, Duration::fromSec(1.0 / static_cast<float>(30000.0 / 1001.0)));
    EXPECT_EQ(packedI420(*frame), expected[i]) << i;
  }
  EXPECT_FALSE(reader.readFrame(&duration));
  EXPECT_TRUE(reader.getEof());
}

}  // namespace
}  // namespace dravo::media
