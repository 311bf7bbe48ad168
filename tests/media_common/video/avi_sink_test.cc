#include "media_common/video/avi_sink.h"

#include <gtest/gtest.h>

#include "media_common/video/avi_file_reader.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/file_sink_test_fixture.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

using avi_testing::makeFrame;
using avi_testing::packedI420;

class AVISinkTest : public FileSinkTest {
 protected:
  AVISinkTest() : FileSinkTest(createAVISink, "avi") {}
  void setName(std::string const& value) { set("filename", PropertyValue(value)); }
  std::vector<std::string> readBack(std::string const& name) {
    AVIFileReader reader;
    std::vector<std::string> frames;
    EXPECT_TRUE(reader.openFile(dir_.file(name))) << name;
    Duration duration;
    while (auto frame = reader.readFrame(&duration)) frames.push_back(packedI420(*frame));
    return frames;
  }
};

// Nothing is recorded before a name is set; a new name starts a new file.
// Raw frames are converted to I420, compressed ones kept as they come.
TEST_F(AVISinkTest, RecordsWhileNamedInI420OrAsCompressed) {
  feed(makeFrame(4, 2, 0, 0));
  setName(dir_.file("one.avi"));
  feed(makeFrame(4, 2, 1, 40));
  setName(dir_.file("conv.avi"));
  for (auto const& frame :
       {std::make_shared<ImageBuffer>(8, 6, ImageBuffer::IMAGE_BGR24),
        image_testing::wrapEncoded(image_testing::makeJpeg(16, 8), ImageBuffer::IMAGE_JPEG)}) {
    frame->setPriority(1);
    feed(frame);
  }
  sink_.reset();  // finalize completes the files
  EXPECT_EQ(readBack("one.avi"), std::vector<std::string>{packedI420(*makeFrame(4, 2, 1))});
  EXPECT_EQ(readBack("conv.avi").size(), 1u);
  std::string const second = avi_testing::contentsOf(dir_.file("conv_part1.avi"));
  ASSERT_GT(second.size(), 120u);
  EXPECT_EQ(second.substr(112, 4), "JPEG");
  EXPECT_EQ(avi_testing::le32At(second, 64), 16u);
}

// A set rate reaches the headers exactly, as ffprobe reads them.
TEST_F(AVISinkTest, FrameRatePropertyIsWrittenExactly) {
  setName(dir_.file("ntsc.avi"));
  set("frame_rate", PropertyValue(29.97));
  std::vector<std::string> frames;
  for (int i = 0; i < 3; ++i) {
    auto frame = makeFrame(8, 4, i, i * 40);
    frames.push_back(packedI420(*frame));
    feed(frame);
  }
  sink_.reset();
  std::string const bytes = avi_testing::contentsOf(dir_.file("ntsc.avi"));
  ASSERT_GT(bytes.size(), 140u);
  EXPECT_EQ(avi_testing::le32At(bytes, 128), 1001u);
  EXPECT_EQ(avi_testing::le32At(bytes, 132), 30000u);
  EXPECT_EQ(avi_testing::le32At(bytes, 32), 33367u);
  EXPECT_EQ(readBack("ntsc.avi"), frames);
  if (testing::haveTool("ffprobe") && testing::haveTool("ffmpeg"))
    testing::expectFfmpegPlays(dir_.file("ntsc.avi"), 8, 4, "30000/1001", frames);
}

}  // namespace
}  // namespace dravo::media
