#include "media_common/video/pnm_sink.h"

#include <gtest/gtest.h>

#include "media_common/video/image_buffer_converter.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/file_sink_test_fixture.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using avi_testing::contentsOf;
using avi_testing::makeFrame;

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
  EXPECT_FALSE(File::exists(dir_.file("g_00002.pnm")));
  auto rgb = ImageBufferConverter::easyConvert(ImageBuffer::IMAGE_RGB24, makeFrame(6, 4, 3));
  EXPECT_EQ(contentsOf(dir_.file("g_00003.pnm")),
            "P6\n6 4 255\n" + std::string(reinterpret_cast<char const*>(rgb->data()), 6 * 4 * 3));

  testing::LogCapture log("pnm_sink:2");
  std::string const bad = dir_.file("missing/x.pnm");
  EXPECT_FALSE(PNMSink::saveBufferToFile(makeFrame(6, 4, 4), bad));
  EXPECT_EQ(log.messages("pnm_sink"), std::vector<std::string>{"Could not create file " + bad});
}

}  // namespace
}  // namespace dravo::media
