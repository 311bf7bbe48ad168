#include "media_common/video/v4l2_frame.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <vector>

namespace dravo::media {
namespace {

uint8_t pixel(ImageBuffer const& image, int x, int y, int plane) {
  return *image.getPixelAddress(x, y, plane);
}

// Driver buffers of each format become images (YUYV is checked by the
// source's tests); a buffer too short for the mode or a format we cannot
// deliver gives none.
TEST(V4L2FrameTest, BuffersBecomeImagesUnlessTooShort) {
  // 4x2 NV12 and planar YUV: luma 0..7, one chroma row.
  std::vector<uint8_t> nv12 = {0, 1, 2, 3, 4, 5, 6, 7, 100, 200, 101, 201};
  std::vector<uint8_t> planar = {0, 1, 2, 3, 4, 5, 6, 7, 100, 101, 200, 201};
  for (auto [fourcc, bytes] :
       {std::pair{V4L2_PIX_FMT_NV12, &nv12}, {V4L2_PIX_FMT_YUV420, &planar}}) {
    auto i420 = imageFromV4L2Buffer(fourcc, 4, 2, 4, bytes->data(), bytes->size());
    ASSERT_TRUE(i420);
    EXPECT_EQ(ImageBuffer::IMAGE_I420, i420->format().pixel_format_);
    EXPECT_EQ(7, pixel(*i420, 3, 1, 0));
    EXPECT_EQ(101, pixel(*i420, 1, 0, 1));
    EXPECT_EQ(200, pixel(*i420, 0, 0, 2));
    EXPECT_FALSE(imageFromV4L2Buffer(fourcc, 4, 2, 4, bytes->data(), 11));
  }

  // JPEG bytes are copied, with the mode's size.
  std::vector<uint8_t> jpeg = {0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9};
  auto mjpeg = imageFromV4L2Buffer(V4L2_PIX_FMT_MJPEG, 320, 240, 0, jpeg.data(), jpeg.size());
  ASSERT_TRUE(mjpeg);
  EXPECT_EQ(ImageBuffer::IMAGE_MJPEG, mjpeg->format().pixel_format_);
  EXPECT_EQ(320, mjpeg->width());
  EXPECT_EQ(std::vector<uint8_t>(mjpeg->data(), mjpeg->data() + mjpeg->size()), jpeg);
  EXPECT_NE(jpeg.data(), mjpeg->data());
  EXPECT_FALSE(imageFromV4L2Buffer(V4L2_PIX_FMT_MJPEG, 320, 240, 0, jpeg.data(), 0));
  EXPECT_FALSE(imageFromV4L2Buffer(V4L2_PIX_FMT_MJPEG, 0, 240, 0, jpeg.data(), jpeg.size()));
  EXPECT_FALSE(imageFromV4L2Buffer(V4L2_PIX_FMT_H264, 320, 240, 0, jpeg.data(), jpeg.size()));
}

}  // namespace
}  // namespace dravo::media
