// The bridges between image buffers and the qvideo types: copies (whole and
// centred crops), wraps without copying, and QV1 frames as images.

#include <gtest/gtest.h>

#include "media_common/video/image_buffer_converter.h"
#include "qvideo/encoded_frame.h"
#include "qvideo/qv_i420.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using Converter = ImageBufferConverter;

int sample(int p, int x, int y) { return (p * 60 + x * 7 + y * 13) & 255; }

std::shared_ptr<ImageBuffer> patterned(int width, int height) {
  auto image = std::make_shared<ImageBuffer>(width, height, ImageBuffer::IMAGE_I420);
  image_testing::fillPlanes(*image, sample);
  return image;
}

TEST(QvI420BridgeTest, CopiesKeepEverySampleAndPadTheMarginsCropsTakeTheCentre) {
  auto const image = patterned(7, 5);
  qvideo::QvI420 qv(7, 5, 16);
  Converter::copyImageBufferToQvI420(image, &qv);
  for (int p = 0; p < 3; ++p) {
    qvideo::QvGray8 const& plane = qv.plane(p);
    for (int y = 0; y < plane.height_; ++y)
      for (int x = 0; x < plane.width_; ++x)
        ASSERT_EQ(plane.row(y)[x], sample(p, x, y)) << p << " " << x << "," << y;
    EXPECT_EQ(plane.row(0)[plane.stride_ - 1], plane.row(0)[plane.width_ - 1]) << p;
  }
  auto const back = Converter::copyQvI420ToImageBuffer(qv, ImageBuffer::IMAGE_I420);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->format(), image->format());
  EXPECT_EQ(std::string(back->data(), back->data() + 7 * 5 + 2 * 4 * 3),
            std::string(image->data(), image->data() + 7 * 5 + 2 * 4 * 3));
  EXPECT_EQ(back->getPriority(), -1000);

  // 10x6 into 4x2: luma from (3, 2), chroma (5x3 into 2x1) from (1, 1).
  qvideo::QvI420 crop(4, 2, 16);
  Converter::copyAndCropImageBufferToQvI420(patterned(10, 6), &crop);
  EXPECT_EQ(crop.y().row(1)[3], sample(0, 6, 3));
  EXPECT_EQ(crop.u().row(0)[1], sample(1, 2, 1));
  EXPECT_EQ(crop.v().row(0)[0], sample(2, 1, 1));

  testing::LogCapture log("image_converter:1");
  qvideo::QvI420 untouched(4, 2, 16);
  untouched.y().row(0)[0] = 9;
  Converter::copyImageBufferToQvI420(std::make_shared<ImageBuffer>(4, 2, ImageBuffer::IMAGE_RGB24),
                                     &untouched);
  EXPECT_EQ(untouched.y().row(0)[0], 9);
  EXPECT_TRUE(log.contains("Invalid image format RGB3"));
}

TEST(QvI420BridgeTest, WrapsShareThePixelsBothWays) {
  auto const image = patterned(7, 5);
  qvideo::QvI420 view;
  Converter::wrapImageBufferToQvI420(image, &view);
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(view.plane(p).data_, image->getPixelAddress(0, 0, p)) << p;
    EXPECT_EQ(view.plane(p).stride_, image->planes()[p].stride_) << p;
  }

  qvideo::QvI420 aligned(7, 5, 16);
  auto const wrapped = Converter::wrapQvI420ToImageBuffer(aligned);
  ASSERT_TRUE(wrapped);
  EXPECT_EQ(wrapped->format().pixel_format_, ImageBuffer::IMAGE_I420);
  EXPECT_EQ(std::pair(wrapped->width(), wrapped->height()), std::pair(7, 5));
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(wrapped->getPixelAddress(0, 0, p), aligned.plane(p).data_) << p;
    EXPECT_EQ(wrapped->getPixelAddress(0, 1, p), aligned.plane(p).row(1)) << p;
  }
}

TEST(Qv1BridgeTest, AFrameTravelsAsItsBytesAndGarbageIsRefused) {
  qvideo::QvI420 picture(6, 4, 16);
  Converter::copyImageBufferToQvI420(patterned(6, 4), &picture);
  auto frame = std::make_shared<qvideo::EncodedFrame>();
  ASSERT_TRUE(frame->storeI420(picture));
  std::string bytes;
  frame->serialize(&bytes);

  auto const image = Converter::createImageBufferFromQv1EncodedFrame(frame);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->format().pixel_format_, ImageBuffer::IMAGE_QV1);
  EXPECT_EQ(image->getPriority(), -1000);
  ASSERT_EQ(image->size(), static_cast<int>(bytes.size()));
  EXPECT_EQ(std::string(image->data(), image->data() + image->size()), bytes);

  auto const parsed = Converter::createQv1EncodedFrameFromImageBuffer(image);
  ASSERT_TRUE(parsed);
  std::string reparsed;
  parsed->serialize(&reparsed);
  EXPECT_EQ(reparsed, bytes);

  bytes[0] = 'X';
  auto copy = std::make_shared<std::string>(bytes);
  auto const garbage = std::make_shared<ImageBuffer>(1, 1, ImageBuffer::IMAGE_QV1,
                                                     reinterpret_cast<unsigned char*>(copy->data()),
                                                     copy, static_cast<int>(copy->size()));
  EXPECT_EQ(Converter::createQv1EncodedFrameFromImageBuffer(garbage), nullptr);
}

}  // namespace
}  // namespace dravo::media
