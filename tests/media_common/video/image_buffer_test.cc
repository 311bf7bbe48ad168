#include "media_common/video/image_buffer.h"

#include <gtest/gtest.h>

#include "qvideo/qv_i420.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using IB = ImageBuffer;
using Plane = IB::Plane;
using FormatType = IB::FormatType;

TEST(ImageBufferLayoutTest, DefaultLayoutsForOddSizesEndAtTheLastAllocatedByte) {
  int const c_y = 640 * 476;  // constrained: width cut to 8, height follows the aspect
  struct Case {
    IB::PixelFormat format;
    int width, height;
    std::vector<Plane> planes;
    int min_allocation;
  } const cases[] = {
      {IB::IMAGE_I420, 5, 3, {{5, 3, 0, 5}, {3, 2, 15, 3}, {3, 2, 21, 3}}, 27},
      {IB::IMAGE_BGR24, 7, 3, {{7, 3, 0, 21}}, 63},
      {IB::IMAGE_YUYV, 7, 3, {{7, 3, 0, 14}}, 42},
      {IB::IMAGE_CONSTRAINED_I420,
       646,
       481,
       {{640, 476, 0, 640}, {320, 238, c_y, 320}, {320, 238, c_y + c_y / 4, 320}},
       c_y * 3 / 2},
      {IB::IMAGE_MJPEG, 7, 3, {}, 1},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.format);
    ImageBuffer image(c.width, c.height, c.format);
    EXPECT_EQ(image.planes(), c.planes);
    EXPECT_EQ(image.format().min_allocation_, c.min_allocation);
    if (c.planes.empty()) continue;
    Plane const& last = c.planes.back();
    EXPECT_EQ(image.getPixelAddress(last.stride_ - 1, last.height_ - 1, int(c.planes.size()) - 1),
              image.data() + c.min_allocation - 1);
  }
  EXPECT_EQ(IB::idealFormat(IB::IMAGE_I420, 640, 480), IB::IMAGE_CONSTRAINED_I420);
  EXPECT_EQ(IB::idealFormat(IB::IMAGE_I420, 642, 480), IB::IMAGE_I420);
  // The height follows the width down but never rises above the input.
  unsigned w = 0;
  unsigned h = 0;
  IB::constrainW8H2(15, 3, &w, &h);
  EXPECT_EQ(std::pair(w, h), std::pair(8u, 2u));
}

TEST(ImageBufferLayoutTest, AlignedI420FollowsTheQvI420AndPadsItsMargins) {
  ImageBuffer image(21, 11, IB::IMAGE_ALIGNED_I420);
  auto qv = image.getQvI420();
  ASSERT_TRUE(qv);
  EXPECT_EQ(image.data(), qv->data());
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(image.getPixelAddress(0, 0, p), qv->plane(p).data_);
    EXPECT_EQ(image.planes()[p].stride_ % 16, 0);
  }
  EXPECT_TRUE(IB::isSameOrMoreSpecificI420Format(IB::IMAGE_ALIGNED_I420, IB::IMAGE_I420));
  EXPECT_FALSE(IB::isSameOrMoreSpecificI420Format(IB::IMAGE_I420, IB::IMAGE_ALIGNED_I420));

  image_testing::fillPlanes(image, [](int p, int x, int y) { return p * 50 + x + y; });
  image.updateMargins();
  Plane const& y = image.planes()[0];
  EXPECT_EQ(*image.getPixelAddress(y.stride_ - 1, 0, 0), *image.getPixelAddress(20, 0, 0));
  EXPECT_EQ(*image.getPixelAddress(3, 13, 0), *image.getPixelAddress(3, 10, 0));
}

TEST(ImageBufferTest, CopiesAndWrappersSharePixelsAndFormatEqualityIgnoresTheAllocation) {
  auto bytes = std::make_shared<std::vector<unsigned char>>(12, 9);
  FormatType const format = ImageBuffer(4, 2, IB::IMAGE_I420).format();
  ImageBuffer wrapped(format, bytes->data(), bytes);
  wrapped.setPriority(3);
  ImageBuffer assigned(1, 1, IB::IMAGE_RGB24);
  assigned = ImageBuffer(wrapped);
  EXPECT_EQ(assigned.data(), bytes->data());
  EXPECT_EQ(assigned.getPriority(), 3);
  EXPECT_EQ(bytes.use_count(), 3);

  FormatType other = format;
  other.min_allocation_ = 1000;
  EXPECT_EQ(format, other);
  other.planes_[2].stride_ += 1;
  EXPECT_NE(format, other);
}

TEST(ImageBufferTest, UnknownFormatsHugeSizesAndCallerErrorsAreLogged) {
  testing::LogCapture log("video:2,check:1");
  EXPECT_TRUE(ImageBuffer(4, 4, IB::IMAGE_ANY).planes().empty());
  EXPECT_TRUE(log.contains("Unexpected format ****"));
  for (IB::PixelFormat format : {IB::IMAGE_BGRA32, IB::IMAGE_ALIGNED_I420}) {
    SCOPED_TRACE(format);
    log.clear();
    ImageBuffer huge(70000, 70000, format);  // too large for 32-bit offsets
    EXPECT_TRUE(huge.planes().empty());
    EXPECT_EQ(huge.format().min_allocation_, 0);
    EXPECT_EQ(huge.data(), nullptr);
    EXPECT_TRUE(log.contains("Image size out of range: 70000x70000"));
  }

  ImageBuffer image(4, 2, IB::IMAGE_RGB24);
  EXPECT_EQ(image.getPixelAddress(0, 0, 1), nullptr);
  EXPECT_EQ(image.getPixelAddress(0, 0, -1), nullptr);
  EXPECT_TRUE(log.contains("Check failed: plane < (int)format_.planes_.size()"));
  EXPECT_TRUE(log.contains("Check failed: plane >= 0"));
  ImageBuffer unallocated(ImageBuffer(16, 16, IB::IMAGE_ALIGNED_I420).format(), nullptr, nullptr);
  unallocated.updateMargins();
  EXPECT_TRUE(log.contains("Check failed allocation_.get() "));
}

}  // namespace
}  // namespace dravo::media
