// Our Y4M files against ffprobe and ffmpeg, both ways.

#include <gtest/gtest.h>

#include "media_common/link_handle.h"
#include "media_common/video/y4m_file_reader.h"
#include "media_common/video/y4m_sink.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/md5_digest.h"
#include "tests/media_common/video/y4m_test_util.h"
#include "tests/support/manual_scheduler.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media {
namespace {

using avi_testing::makeFrame;
using avi_testing::packedI420;
using testing::commandOutput;

class Y4MInteropTest : public ::testing::Test {
 protected:
  testing::ScopedTempDir dir_;
};

// Recorded through the sink, with a size change in the middle: both files
// decode to exactly the frames fed, at the header's 30 frames per second.
TEST_F(Y4MInteropTest, FfmpegDecodesOurRecordingsToTheFramesWeFed) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  SKIP_WITHOUT_TOOL("ffprobe");
  auto scheduler = std::make_shared<testing::ManualScheduler>();
  auto root = PropertyNode::create();
  auto sink = createY4MSink(ElementArgs(scheduler, root->getNode("y4m", true)));
  auto feeder = std::make_shared<OutputPad<ImageBuffer>>();
  feeder->initialize(PadArgs(root->getNode("feeder", true), scheduler));
  LinkHandle link(feeder->link(*sink->getInputPad()));
  root->getNode("y4m/filename", true)->setValue(PropertyValue(dir_.file("rec.y4m")));
  scheduler->runAll();
  std::vector<std::string> even;
  std::vector<std::string> odd;
  for (int i = 0; i < 7; ++i) {
    auto frame = i < 4 ? makeFrame(64, 48, i) : makeFrame(33, 17, i);
    (i < 4 ? even : odd).push_back(video_testing::md5Hex(packedI420(*frame)));
    feeder->sendBuffer(frame);
    scheduler->runAll();
  }
  link = LinkHandle();
  sink.reset();
  scheduler->shutdown(true);

  std::string const probe_command =
      "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
      "stream=width,height,r_frame_rate,nb_read_frames -of default=nw=1 ";
  EXPECT_EQ(commandOutput(probe_command + "'" + dir_.file("rec.y4m") + "'"),
            "width=64\nheight=48\nr_frame_rate=30/1\nnb_read_frames=4\n");
  EXPECT_EQ(commandOutput(probe_command + "'" + dir_.file("rec_part1.y4m") + "'"),
            "width=33\nheight=17\nr_frame_rate=30/1\nnb_read_frames=3\n");
  EXPECT_EQ(testing::ffmpegFrameMd5s("-i '" + dir_.file("rec.y4m") + "'"), even);
  EXPECT_EQ(testing::ffmpegFrameMd5s("-i '" + dir_.file("rec_part1.y4m") + "'"), odd);
}

// Files ffmpeg writes, progressive and interlaced, with and without a pixel
// aspect, read back to the byte with the rate of their header.
TEST_F(Y4MInteropTest, WeReadFfmpegFilesByteExact) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  struct Clip {
    std::string name;
    std::string size;
    std::string rate;
    std::string filters;
    std::string header_part;
    int width, height;
    float fps;
  } const clips[] = {
      {"progressive", "33x17", "25", "", " F25:1 Ip A1:1 ", 33, 17, 25.0f},
      {"top_first_aspect", "32x16", "30000/1001", "-vf setfield=tff,setsar=16/11",
       " F30000:1001 It A16:11 ", 32, 16, static_cast<float>(30000.0 / 1001.0)},
      {"bottom_first", "35x21", "10", "-vf setfield=bff", " F10:1 Ib ", 35, 21, 10.0f},
  };
  for (auto const& clip : clips) {
    SCOPED_TRACE(clip.name);
    std::string const path = dir_.file(clip.name + ".y4m");
    commandOutput("ffmpeg -v error -f lavfi -i testsrc=size=" + clip.size + ":rate=" + clip.rate +
                  " -frames:v 4 " + clip.filters + " -pix_fmt yuv420p -f yuv4mpegpipe -y '" + path +
                  "'");
    std::string const contents = avi_testing::contentsOf(path);
    std::string const header = contents.substr(0, contents.find('\n'));
    EXPECT_NE(header.find(clip.header_part), std::string::npos) << header;
    std::vector<std::string> const expected =
        y4m_testing::ffmpegI420Frames(path, clip.width, clip.height);
    ASSERT_EQ(expected.size(), 4u);

    Y4MFileReader reader;
    ASSERT_TRUE(reader.openFile(path));
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(i);
      Duration duration;
      auto frame = reader.readFrame(&duration);
      ASSERT_TRUE(frame);
      EXPECT_EQ(frame->width(), clip.width);
      EXPECT_EQ(frame->height(), clip.height);
      EXPECT_EQ(duration, Duration::fromSec(1.0 / clip.fps));
      EXPECT_EQ(packedI420(*frame), expected[i]);
    }
    Duration duration;
    EXPECT_FALSE(reader.readFrame(&duration));
    EXPECT_TRUE(reader.getEof());
  }
}

}  // namespace
}  // namespace dravo::media
