#include "media_common/video/image_buffer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "qvideo/qv_i420.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using Plane = ImageBuffer::Plane;
using FormatType = ImageBuffer::FormatType;

std::string text(const FormatType& format) {
  std::ostringstream out;
  out << format;
  return out.str();
}

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

TEST(ImageBufferLayoutTest, PackedI420WithOddSizes) {
  ImageBuffer image(5, 3, ImageBuffer::IMAGE_I420);
  EXPECT_EQ(image.planes(), (std::vector<Plane>{{5, 3, 0, 5}, {3, 2, 15, 3}, {3, 2, 21, 3}}));
  EXPECT_EQ(image.format().min_allocation_, 27);
  EXPECT_EQ(image.format().pixel_aspect_, 1.0f);
  EXPECT_EQ(image.size(), 0);
  ASSERT_NE(image.data(), nullptr);
  // The last sample of V is the last allocated byte.
  EXPECT_EQ(image.getPixelAddress(2, 1, 2), image.data() + 26);
}

TEST(ImageBufferLayoutTest, PackedFormatsHaveOnePlane) {
  struct Case {
    ImageBuffer::PixelFormat format;
    int bytes;
  };
  for (Case c : {Case{ImageBuffer::IMAGE_RGB24, 3}, Case{ImageBuffer::IMAGE_BGR24, 3},
                 Case{ImageBuffer::IMAGE_BGRX32, 4}, Case{ImageBuffer::IMAGE_BGRA32, 4},
                 Case{ImageBuffer::IMAGE_YUYV, 2}}) {
    ImageBuffer image(7, 3, c.format);
    EXPECT_EQ(image.planes(), (std::vector<Plane>{{7, 3, 0, 7 * c.bytes}})) << c.format;
    EXPECT_EQ(image.format().min_allocation_, 21 * c.bytes);
    EXPECT_EQ(image.getPixelAddress(3 * c.bytes, 2, 0),
              image.data() + 2 * 7 * c.bytes + 3 * c.bytes);
  }
  for (auto format : {ImageBuffer::IMAGE_JPEG, ImageBuffer::IMAGE_MJPEG, ImageBuffer::IMAGE_QV1,
                      ImageBuffer::IMAGE_PLATFORM_BUFFER}) {
    ImageBuffer image(7, 3, format);
    EXPECT_TRUE(image.planes().empty());
    EXPECT_EQ(image.format().min_allocation_, 1);
  }
}

TEST(ImageBufferLayoutTest, ConstrainedI420CutsWidthToEightAndKeepsAspect) {
  ImageBuffer a(641, 480, ImageBuffer::IMAGE_CONSTRAINED_I420);
  EXPECT_EQ(a.width(), 640);
  EXPECT_EQ(a.height(), 480);
  ImageBuffer b(646, 481, ImageBuffer::IMAGE_CONSTRAINED_I420);
  EXPECT_EQ(b.width(), 640);
  EXPECT_EQ(b.height(), 476);
  ImageBuffer c(640, 480, ImageBuffer::IMAGE_CONSTRAINED_I420);
  EXPECT_EQ(c.width(), 640);
  EXPECT_EQ(c.height(), 480);
  EXPECT_EQ(c.planes()[2], (Plane{320, 240, 640 * 480 + 320 * 240, 320}));
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

TEST(FormatTypeTest, StreamOutput) {
  EXPECT_EQ(text(ImageBuffer(4, 2, ImageBuffer::IMAGE_I420).format()),
            "4x2 YV12 pix_aspect=1 min_allocation=12 ([4x2 ofs=0 stride=4],[2x1 ofs=8 "
            "stride=2],[2x1 ofs=10 stride=2])");
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
