#include "media_common/video/image_buffer.h"

#include <gtest/gtest.h>

#include "qvideo/qv_i420.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using Plane = ImageBuffer::Plane;
using FormatType = ImageBuffer::FormatType;

TEST(PixelFormatTest, I420FamilyRules) {
  EXPECT_TRUE(ImageBuffer::isSameOrMoreSpecificI420Format(ImageBuffer::IMAGE_ALIGNED_I420,
                                                          ImageBuffer::IMAGE_I420));
  EXPECT_FALSE(ImageBuffer::isSameOrMoreSpecificI420Format(ImageBuffer::IMAGE_I420,
                                                           ImageBuffer::IMAGE_ALIGNED_I420));
  EXPECT_EQ(ImageBuffer::idealFormat(ImageBuffer::IMAGE_I420, 640, 480),
            ImageBuffer::IMAGE_CONSTRAINED_I420);
  EXPECT_EQ(ImageBuffer::idealFormat(ImageBuffer::IMAGE_I420, 642, 480), ImageBuffer::IMAGE_I420);

  FormatType const plain = ImageBuffer(64, 32, ImageBuffer::IMAGE_I420).format();
  FormatType const aligned = ImageBuffer(64, 32, ImageBuffer::IMAGE_ALIGNED_I420).format();
  EXPECT_TRUE(plain.isSameOrMoreSpecificI420Format(aligned));
  EXPECT_FALSE(aligned.isSameOrMoreSpecificI420Format(plain));
}

TEST(ImageBufferLayoutTest, DefaultLayoutsForOddSizesEndAtTheLastAllocatedByte) {
  using IB = ImageBuffer;
  int const c_y = 640 * 476;  // constrained: width cut to 8, height follows the aspect
  struct Case {
    IB::PixelFormat format;
    int width, height;
    std::vector<Plane> planes;
    int min_allocation;
  } const cases[] = {
      {IB::IMAGE_I420, 5, 3, {{5, 3, 0, 5}, {3, 2, 15, 3}, {3, 2, 21, 3}}, 27},
      {IB::IMAGE_RGB24, 7, 3, {{7, 3, 0, 21}}, 63},
      {IB::IMAGE_BGR24, 7, 3, {{7, 3, 0, 21}}, 63},
      {IB::IMAGE_BGRX32, 7, 3, {{7, 3, 0, 28}}, 84},
      {IB::IMAGE_BGRA32, 7, 3, {{7, 3, 0, 28}}, 84},
      {IB::IMAGE_YUYV, 7, 3, {{7, 3, 0, 14}}, 42},
      {IB::IMAGE_CONSTRAINED_I420,
       646,
       481,
       {{640, 476, 0, 640}, {320, 238, c_y, 320}, {320, 238, c_y + c_y / 4, 320}},
       c_y * 3 / 2},
      {IB::IMAGE_JPEG, 7, 3, {}, 1},
      {IB::IMAGE_MJPEG, 7, 3, {}, 1},
      {IB::IMAGE_QV1, 7, 3, {}, 1},
      {IB::IMAGE_PLATFORM_BUFFER, 7, 3, {}, 1},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.format << " " << c.width << "x" << c.height);
    ImageBuffer image(c.width, c.height, c.format);
    EXPECT_EQ(image.planes(), c.planes);
    EXPECT_EQ(image.format().min_allocation_, c.min_allocation);
    if (c.planes.empty()) continue;
    Plane const& last = c.planes.back();
    int const p = static_cast<int>(c.planes.size()) - 1;
    EXPECT_EQ(image.getPixelAddress(last.stride_ - 1, last.height_ - 1, p),
              image.data() + c.min_allocation - 1);
  }
  EXPECT_EQ(ImageBuffer(641, 480, IB::IMAGE_CONSTRAINED_I420).height(), 480);
  // The height follows the width down but never rises above the input.
  unsigned w = 0;
  unsigned h = 0;
  ImageBuffer::constrainW8H2(15, 3, &w, &h);
  EXPECT_EQ(w, 8u);
  EXPECT_EQ(h, 2u);
  ImageBuffer::constrainW8H2(7, 5, &w, &h);
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(h, 0u);
}

TEST(ImageBufferLayoutTest, AlignedI420FollowsTheQvI420AndPadsItsMargins) {
  ImageBuffer image(21, 11, ImageBuffer::IMAGE_ALIGNED_I420);
  auto qv = image.getQvI420();
  ASSERT_TRUE(qv);
  EXPECT_EQ(image.data(), qv->data());
  EXPECT_EQ(image.format().min_allocation_, 0);
  ASSERT_EQ(image.planes().size(), 3u);
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(image.getPixelAddress(0, 0, p), qv->plane(p).data_);
    EXPECT_EQ(image.planes()[p].stride_ % 16, 0);
  }
  EXPECT_EQ(image.planes()[1].width_, 11);
  EXPECT_EQ(image.planes()[1].height_, 6);

  image_testing::fillPlanes(image, [](int p, int x, int y) { return p * 50 + x + y; });
  image.updateMargins();
  Plane const& y = image.planes()[0];
  EXPECT_EQ(*image.getPixelAddress(y.stride_ - 1, 0, 0), *image.getPixelAddress(20, 0, 0));
  EXPECT_EQ(*image.getPixelAddress(3, 13, 0), *image.getPixelAddress(3, 10, 0));
}

TEST(ImageBufferLayoutTest, UnknownFormatsAndHugeSizesGetNoPlanes) {
  testing::LogCapture log("video:2");
  ImageBuffer image(4, 4, ImageBuffer::IMAGE_ANY);
  EXPECT_TRUE(image.planes().empty());
  EXPECT_TRUE(log.contains("Unexpected format ****"));
  // Sizes too large for the offsets get no planes either.
  FormatType format;
  format.width_ = 70000;
  format.height_ = 70000;
  format.pixel_format_ = ImageBuffer::IMAGE_BGRA32;
  ImageBuffer::setupDefaultPlanes(format);
  EXPECT_TRUE(format.planes_.empty());
  EXPECT_EQ(format.min_allocation_, 0);
}

TEST(FormatTypeTest, EqualityIgnoresMinimumAllocationButNotAspectOrPlanes) {
  FormatType a = ImageBuffer(8, 4, ImageBuffer::IMAGE_I420).format();
  FormatType b = a;
  b.min_allocation_ = 1000;
  EXPECT_EQ(a, b);
  b.pixel_aspect_ = 1.25f;
  EXPECT_NE(a, b);
  b = a;
  b.planes_[2].stride_ += 1;
  EXPECT_NE(a, b);
  b = a;
  b.planes_.pop_back();
  EXPECT_NE(a, b);
}

TEST(ImageBufferTest, CopiesSharePixelsWrappedDataIsNotCopiedAndCarriersAllocateNothing) {
  auto bytes = std::make_shared<std::vector<unsigned char>>(12, 9);
  FormatType const format = ImageBuffer(4, 2, ImageBuffer::IMAGE_I420).format();
  ImageBuffer wrapped(format, bytes->data(), bytes);
  EXPECT_EQ(wrapped.data(), bytes->data());
  EXPECT_EQ(bytes.use_count(), 2);

  wrapped.setPriority(3);
  ImageBuffer copy(wrapped);
  EXPECT_EQ(copy.data(), wrapped.data());
  EXPECT_EQ(copy.format(), wrapped.format());
  EXPECT_EQ(copy.getPriority(), 3);
  EXPECT_EQ(bytes.use_count(), 3);
  ImageBuffer assigned(1, 1, ImageBuffer::IMAGE_RGB24);
  assigned = copy;
  EXPECT_EQ(assigned.data(), bytes->data());
  EXPECT_EQ(bytes.use_count(), 4);

  ImageBuffer carrier(0, 0, ImageBuffer::IMAGE_I420, nullptr, nullptr, 0);
  EXPECT_EQ(carrier.data(), nullptr);
  EXPECT_EQ(carrier.planes().size(), 3u);
  EXPECT_EQ(carrier.format().min_allocation_, 0);
}

TEST(ImageBufferTest, CallerErrorsAreLoggedChecks) {
  testing::LogCapture log("check:1");
  ImageBuffer image(4, 2, ImageBuffer::IMAGE_RGB24);
  EXPECT_EQ(image.getPixelAddress(0, 0, 1), nullptr);
  EXPECT_EQ(image.getPixelAddress(0, 0, -1), nullptr);
  auto const messages = log.messages("check");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].rfind("Check failed: plane < (int)format_.planes_.size()", 0), 0u);
  EXPECT_EQ(messages[1].rfind("Check failed: plane >= 0", 0), 0u);

  FormatType const format = ImageBuffer(16, 16, ImageBuffer::IMAGE_ALIGNED_I420).format();
  ImageBuffer wrapped(format, nullptr, nullptr);
  wrapped.updateMargins();
  EXPECT_TRUE(log.contains("Check failed allocation_.get() "));
}

}  // namespace
}  // namespace dravo::media
