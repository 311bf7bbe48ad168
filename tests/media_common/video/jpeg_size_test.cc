// Reading the picture size of JPEG data: real files from TurboJPEG and from
// the command-line encoders, and data that must be refused.

#include <gtest/gtest.h>

#include <tuple>

#include "media_common/video/jpeg_header.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

using image_testing::Bytes;
using image_testing::makeJpeg;
using image_testing::wrapEncoded;

TEST(JpegSizeTest, DetectsTheSizeOfRealJpegsAndMotionJpegFrames) {
  auto image = wrapEncoded(makeJpeg(17, 9, TJSAMP_422), ImageBuffer::IMAGE_JPEG);
  EXPECT_EQ(std::pair(image->width(), image->height()), std::pair(17, 9));
  auto mjpeg =
      wrapEncoded(image_testing::withoutHuffmanTables(makeJpeg(96, 64)), ImageBuffer::IMAGE_MJPEG);
  EXPECT_EQ(std::pair(mjpeg->width(), mjpeg->height()), std::pair(96, 64));
  EXPECT_EQ(wrapEncoded(makeJpeg(32, 16), ImageBuffer::IMAGE_QV1)->width(), -1);  // JPEG only
}

// Broken headers are refused with the reason, and the image keeps its
// unknown size; a prefix of a good JPEG (each in its own allocation) gives
// either the size or a refusal, never a read past its end.
TEST(JpegSizeTest, RefusesGarbageImplausibleAndTruncatedHeaders) {
  Bytes const good = makeJpeg(40, 24);
  Bytes huge = good;  // a well-formed frame header claiming 65535x65535
  for (size_t i = 2; i + 8 < huge.size(); ++i) {
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = huge[i + 6] = huge[i + 7] = huge[i + 8] = 0xFF;
      break;
    }
  }
  for (Bytes const& bytes : {Bytes(500, 0x5A), huge, Bytes{0xFF, 0xD8}}) {
    testing::LogCapture log("video:2");
    auto image = wrapEncoded(bytes, ImageBuffer::IMAGE_JPEG);
    EXPECT_EQ(std::pair(image->width(), image->height()), std::pair(-1, -1));
    EXPECT_TRUE(log.contains("Error decoding (M)JPEG header: "));
    EXPECT_TRUE(log.contains("Can't autodetect width and height for format JPEG"));
  }
  testing::LogCapture quiet("video:2");
  for (size_t n = 1; n <= good.size(); n += 3) {
    auto image = wrapEncoded(Bytes(good.begin(), good.begin() + n), ImageBuffer::IMAGE_JPEG);
    EXPECT_TRUE(image->width() == -1 || (image->width() == 40 && image->height() == 24)) << n;
  }
}

// JPEG files written by independent encoders, made at run time.
TEST(JpegSizeTest, ReadsTheSizeOfFfmpegAndNetpbmJpegs) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  SKIP_WITHOUT_TOOL("pnmtojpeg");
  for (auto [command, width, height] :
       {std::tuple{"ffmpeg -loglevel error -f lavfi -i testsrc=size=176x144 -frames:v 1 "
                   "-pix_fmt yuvj420p -f image2pipe -c:v mjpeg -",
                   176, 144},
        std::tuple{"ppmmake rgb:20/80/c0 37 21 | pnmtojpeg", 37, 21}}) {
    std::string const jpeg = testing::commandOutput(command);
    auto image = wrapEncoded(Bytes(jpeg.begin(), jpeg.end()), ImageBuffer::IMAGE_JPEG);
    EXPECT_EQ(std::pair(image->width(), image->height()), std::pair(width, height)) << command;
  }
}

}  // namespace
}  // namespace dravo::media
