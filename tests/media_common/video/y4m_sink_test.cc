#include "media_common/video/y4m_sink.h"

#include <gtest/gtest.h>

#include "media_common/video/avi_sink.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/file_sink_test_fixture.h"
#include "tests/support/capture.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

using avi_testing::contentsOf;
using avi_testing::makeFrame;
using avi_testing::packedI420;

std::string const kHeader = "YUV4MPEG2 W4 H2 F30:1 Ip A1:1\n";

class Y4MSinkTest : public FileSinkTest {
 protected:
  Y4MSinkTest() : FileSinkTest(createY4MSink, "y4m") {}
  void setName(std::string const& value) { set("filename", PropertyValue(value)); }
};

// A size change continues in part files; a new name starts a new recording
// whose parts count from 1 again. Nothing recorded is overwritten.
TEST_F(Y4MSinkTest, WritesPackedFramesAndContinuesInPartFilesOnSizeChanges) {
  testing::LogCapture log("y4m_sink:4");
  setName(dir_.file("rec.Y4M"));
  int const sizes[][2] = {{4, 2}, {4, 2}, {6, 4}, {4, 2}};
  for (int i = 0; i < 4; ++i) feed(makeFrame(sizes[i][0], sizes[i][1], i));
  setName(dir_.file("plain"));
  feed(makeFrame(4, 2, 4));
  feed(makeFrame(2, 2, 5));
  sink_.reset();
  auto frame = [](int w, int h, int seed) {
    return "FRAME\n" + packedI420(*makeFrame(w, h, seed));
  };
  EXPECT_EQ(contentsOf(dir_.file("rec.Y4M")), kHeader + frame(4, 2, 0) + frame(4, 2, 1));
  EXPECT_EQ(contentsOf(dir_.file("rec_part2.Y4M")), kHeader + frame(4, 2, 3));
  EXPECT_EQ(contentsOf(dir_.file("plain")), kHeader + frame(4, 2, 4));
  EXPECT_EQ(contentsOf(dir_.file("plain_part1")),
            "YUV4MPEG2 W2 H2 F30:1 Ip A1:1\n" + frame(2, 2, 5));
  EXPECT_TRUE(log.contains("continuing in " + dir_.file("rec_part1.Y4M")));
}

TEST_F(Y4MSinkTest, FailedCreationDropsFramesAndRetries) {
  testing::LogCapture log("y4m_sink:2");
  for (int i = 0; i < 2; ++i) feed(makeFrame(4, 2, i));  // no name: every frame fails
  EXPECT_EQ(log.messages("y4m_sink"),
            (std::vector<std::string>{"Could not create file ", "Could not create file "}));
  std::string const later = dir_.file("later") + "/rec.y4m";
  setName(later);
  feed(makeFrame(4, 2, 2));
  ASSERT_TRUE(File::recursivelyCreateDir(dir_.file("later")));
  feed(makeFrame(4, 2, 3));
  sink_.reset();
  EXPECT_EQ(contentsOf(later), kHeader + "FRAME\n" + packedI420(*makeFrame(4, 2, 3)));
}

// Recorded through the sink with a size change in the middle: both files
// play as the frames fed, at the header's 30 frames per second.
TEST_F(Y4MSinkTest, FfmpegPlaysOurSplitRecording) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  SKIP_WITHOUT_TOOL("ffprobe");
  setName(dir_.file("rec.y4m"));
  std::vector<std::string> first, second;
  for (int i = 0; i < 7; ++i) {
    auto frame = makeFrame(i < 4 ? 64 : 33, i < 4 ? 48 : 17, i);
    (i < 4 ? first : second).push_back(packedI420(*frame));
    feed(frame);
  }
  sink_.reset();
  testing::expectFfmpegPlays(dir_.file("rec.y4m"), 64, 48, "30/1", first);
  testing::expectFfmpegPlays(dir_.file("rec_part1.y4m"), 33, 17, "30/1", second);
}

// Unset (or not positive) keeps the fixed 30:1; set, the header states the
// rate as an exact fraction, read when a file is started.
TEST_F(Y4MSinkTest, FrameRatePropertyStatesTheRateExactly) {
  auto header = [](std::string const& path) {
    std::string const contents = contentsOf(path);
    return contents.substr(0, contents.find('\n'));
  };
  std::vector<std::pair<double, std::string>> const cases = {
      {0.0, "F30:1"}, {-5.0, "F30:1"}, {25.0, "F25:1"}, {29.97, "F30000:1001"}, {60.0, "F60:1"}};
  for (size_t i = 0; i < cases.size(); ++i) {
    if (cases[i].first != 0) set("frame_rate", PropertyValue(cases[i].first));
    setName(dir_.file(std::to_string(i) + ".y4m"));
    feed(makeFrame(4, 2, 0));
    set("frame_rate", PropertyValue(10.0));  // waits for the next file
    feed(makeFrame(4, 2, 1));
  }
  setName(dir_.file("next.y4m"));
  feed(makeFrame(4, 2, 2));
  sink_.reset();
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(header(dir_.file(std::to_string(i) + ".y4m")),
              "YUV4MPEG2 W4 H2 " + cases[i].second + " Ip A1:1");
  EXPECT_EQ(header(dir_.file("next.y4m")), "YUV4MPEG2 W4 H2 F10:1 Ip A1:1");
}

TEST(VideoFileSinkTest, ChoosesTheSinkByExtension) {
  testing::ScopedTempDir dir;
  auto scheduler = std::make_shared<testing::ManualScheduler>();
  testing::LogCapture log("y4m_sink:2");
  auto y4m = createVideoFileSink(ElementArgs(scheduler), dir.file("a.y4m"));
  EXPECT_TRUE(std::dynamic_pointer_cast<Y4MSink>(y4m));
  EXPECT_TRUE(std::dynamic_pointer_cast<AVISink>(
      createVideoFileSink(ElementArgs(scheduler), dir.file("b.AVI"))));
  EXPECT_FALSE(createVideoFileSink(ElementArgs(scheduler), dir.file("c.mp4")));
  EXPECT_TRUE(log.contains("Unsupported extension mp4 for recording video."));
  scheduler->runAll();
  EXPECT_EQ(y4m->getPropertyNode("filename")->getValue(), PropertyValue(dir.file("a.y4m")));
  y4m.reset();
  scheduler->shutdown(true);
}

}  // namespace
}  // namespace dravo::media
