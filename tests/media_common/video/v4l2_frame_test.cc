#include "media_common/video/v4l2_frame.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <vector>

namespace dravo::media {
namespace {

uint8_t pixel(ImageBuffer const& image, int x, int y, int plane) {
  return *image.getPixelAddress(x, y, plane);
}

TEST(V4L2FrameTest, YuyvRowsLoseTheDriversPadding) {
  // 4x2 YUYV with 4 bytes of padding per row.
  std::vector<uint8_t> bytes(2 * 12, 0xEE);
  for (int y = 0; y < 2; ++y)
    for (int i = 0; i < 8; ++i) bytes[y * 12 + i] = static_cast<uint8_t>(y * 16 + i);
  auto image = imageFromV4L2Buffer(V4L2_PIX_FMT_YUYV, 4, 2, 12, bytes.data(), bytes.size());
  ASSERT_TRUE(image);
  EXPECT_EQ(ImageBuffer::IMAGE_YUYV, image->format().pixel_format_);
  for (int y = 0; y < 2; ++y)
    for (int i = 0; i < 8; ++i) EXPECT_EQ(y * 16 + i, image->getPixelAddress(0, y, 0)[i]);
  // The last row needs no padding behind it.
  EXPECT_TRUE(imageFromV4L2Buffer(V4L2_PIX_FMT_YUYV, 4, 2, 12, bytes.data(), 20));
  EXPECT_FALSE(imageFromV4L2Buffer(V4L2_PIX_FMT_YUYV, 4, 2, 12, bytes.data(), 19));
}

TEST(V4L2FrameTest, Nv12AndPlanarYuvBecomeI420) {
  // 4x2: luma 0..7, one chroma row.
  std::vector<uint8_t> nv12 = {0, 1, 2, 3, 4, 5, 6, 7, 100, 200, 101, 201};
  auto from_nv12 = imageFromV4L2Buffer(V4L2_PIX_FMT_NV12, 4, 2, 4, nv12.data(), nv12.size());
  ASSERT_TRUE(from_nv12);
  EXPECT_EQ(ImageBuffer::IMAGE_I420, from_nv12->format().pixel_format_);
  EXPECT_EQ(5, pixel(*from_nv12, 1, 1, 0));
  EXPECT_EQ(100, pixel(*from_nv12, 0, 0, 1));
  EXPECT_EQ(201, pixel(*from_nv12, 1, 0, 2));

  std::vector<uint8_t> planar = {0, 1, 2, 3, 4, 5, 6, 7, 100, 101, 200, 201};
  auto from_planar =
      imageFromV4L2Buffer(V4L2_PIX_FMT_YUV420, 4, 2, 0, planar.data(), planar.size());
  ASSERT_TRUE(from_planar);
  EXPECT_EQ(7, pixel(*from_planar, 3, 1, 0));
  EXPECT_EQ(101, pixel(*from_planar, 1, 0, 1));
  EXPECT_EQ(200, pixel(*from_planar, 0, 0, 2));
  EXPECT_FALSE(imageFromV4L2Buffer(V4L2_PIX_FMT_YUV420, 4, 2, 0, planar.data(), 11));
  EXPECT_FALSE(imageFromV4L2Buffer(V4L2_PIX_FMT_NV12, 4, 2, 4, nv12.data(), 11));
}

TEST(V4L2FrameTest, JpegBytesAreCopiedWithTheModesSize) {
  std::vector<uint8_t> jpeg = {0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9};
  auto image = imageFromV4L2Buffer(V4L2_PIX_FMT_MJPEG, 320, 240, 0, jpeg.data(), jpeg.size());
  ASSERT_TRUE(image);
  EXPECT_EQ(ImageBuffer::IMAGE_MJPEG, image->format().pixel_format_);
  EXPECT_EQ(320, image->width());
  EXPECT_EQ(static_cast<int>(jpeg.size()), image->size());
  EXPECT_NE(jpeg.data(), image->data());
  EXPECT_EQ(0, std::memcmp(jpeg.data(), image->data(), jpeg.size()));
  EXPECT_FALSE(imageFromV4L2Buffer(V4L2_PIX_FMT_MJPEG, 320, 240, 0, jpeg.data(), 0));
  EXPECT_FALSE(imageFromV4L2Buffer(V4L2_PIX_FMT_MJPEG, 0, 240, 0, jpeg.data(), jpeg.size()));
  EXPECT_FALSE(imageFromV4L2Buffer(V4L2_PIX_FMT_H264, 320, 240, 0, jpeg.data(), jpeg.size()));
}

}  // namespace
}  // namespace dravo::media
