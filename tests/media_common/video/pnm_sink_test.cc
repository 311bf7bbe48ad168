#include "media_common/video/pnm_sink.h"

#include <gtest/gtest.h>

#include "media_common/video/image_buffer_converter.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/file_sink_test_fixture.h"
#include "tests/support/capture.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

using avi_testing::contentsOf;
using avi_testing::makeFrame;

// The packed RGB24 bytes of `frame` as the converter makes them.
std::string rgbBytes(std::shared_ptr<ImageBuffer const> const& frame) {
  auto rgb = ImageBufferConverter::easyConvert(ImageBuffer::IMAGE_RGB24, frame);
  EXPECT_TRUE(rgb);
  return rgb ? std::string(reinterpret_cast<char const*>(rgb->data()),
                           static_cast<size_t>(rgb->width()) * rgb->height() * 3)
             : std::string();
}

class PNMSinkTest : public FileSinkTest {
 protected:
  PNMSinkTest() : FileSinkTest(createPNMSink, "pnm") {}
  void setPrefix(std::string const& value) { set("prefix", PropertyValue(value)); }
};

TEST_F(PNMSinkTest, NumbersEveryFrameAndSavesOnlyWithAPrefix) {
  setPrefix(dir_.file("f"));
  feed(makeFrame(6, 4, 0));
  feed(makeFrame(6, 4, 1));
  setPrefix("");
  feed(makeFrame(6, 4, 2));  // counted, not saved
  setPrefix(dir_.file("g"));
  feed(makeFrame(6, 4, 3));
  EXPECT_TRUE(File::exists(dir_.file("f_00001.pnm")));
  EXPECT_FALSE(File::exists(dir_.file("f_00002.pnm")));
  EXPECT_FALSE(File::exists(dir_.file("g_00002.pnm")));
  EXPECT_EQ(contentsOf(dir_.file("g_00003.pnm")), "P6\n6 4 255\n" + rgbBytes(makeFrame(6, 4, 3)));

  testing::LogCapture log("pnm_sink:2");
  std::string const bad = dir_.file("missing/x.pnm");
  EXPECT_FALSE(PNMSink::saveBufferToFile(makeFrame(6, 4, 4), bad));
  EXPECT_EQ(log.messages("pnm_sink"), std::vector<std::string>{"Could not create file " + bad});
}

// netpbm accepts the pictures, and its round trip through PNG keeps every
// sample of the frame converted to RGB.
TEST_F(PNMSinkTest, NetpbmReadsThePictures) {
  SKIP_WITHOUT_TOOL("pnmfile");
  SKIP_WITHOUT_TOOL("pnmtopng");
  SKIP_WITHOUT_TOOL("pngtopnm");
  setPrefix(dir_.file("pic"));
  auto frame = makeFrame(33, 17, 4);
  feed(frame);
  std::string const path = dir_.file("pic_00000.pnm");
  EXPECT_NE(testing::commandOutput("pnmfile '" + path + "'").find("PPM raw, 33 by 17  maxval 255"),
            std::string::npos);
  std::string const round_trip = testing::commandOutput("pnmtopng '" + path + "' | pngtopnm");
  std::string const raster = rgbBytes(frame);
  ASSERT_GE(round_trip.size(), raster.size());
  EXPECT_EQ(round_trip.substr(round_trip.size() - raster.size()), raster);
}

}  // namespace
}  // namespace dravo::media
