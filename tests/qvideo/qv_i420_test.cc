#include "qvideo/qv_i420.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/capture.h"

namespace qvideo {
namespace {

TEST(QvI420Test, OwnedImageHasAlignedSeparatePlanesAndPadsItsEdges) {
  QvI420 image(17, 9, 16);
  auto dummy = QvI420::createDummyImage(17, 9, 16);
  ASSERT_NE(dummy, nullptr);
  for (int i = 0; i < 3; ++i) {
    const QvGray8& plane = image.plane(i);
    EXPECT_EQ(plane.width_ * 100 + plane.height_, i == 0 ? 1709 : 905) << i;
    EXPECT_EQ((reinterpret_cast<uintptr_t>(plane.data_) | plane.stride_) % 16, 0u) << i;
    // A dummy has the same layout.
    EXPECT_EQ(dummy->plane(i).stride_, plane.stride_);
    EXPECT_EQ(dummy->plane(i).data_ - dummy->data(), plane.data_ - image.data());
    // The picture, then its edge samples repeated over the whole padded area
    // (AddressSanitizer reports a plane smaller than its padding).
    for (int y = 0; y < plane.height_; ++y)
      for (int x = 0; x < plane.width_; ++x)
        plane.row(y)[x] = static_cast<uint8_t>(i * 100 + 10 * y + x);
  }
  image.padImage();
  for (int i = 0; i < 3; ++i) {
    const QvGray8& plane = image.plane(i);
    for (int y = 0; y < plane.padded_height_; ++y)
      for (int x = 0; x < plane.stride_; ++x)
        ASSERT_EQ(plane.row(y)[x],
                  i * 100 + 10 * std::min(y, plane.height_ - 1) + std::min(x, plane.width_ - 1))
            << "plane " << i << " x=" << x << " y=" << y;
  }
  EXPECT_FALSE(QvI420::createDummyImage(4, 4, 12) ||
               QvI420::createDummyImage(1 << 30, 1 << 30, 16));
}

TEST(QvI420Test, WrappedMemoryIsUsedInPlaceNotFreedAndBadLayoutsRefused) {
  // Y 4x2 stride 6 at 0, U and V 2x1 stride 3 at 12 and 15.
  std::vector<uint8_t> memory(18);
  {
    QvI420 image(8, 8, 16);
    ASSERT_TRUE(image.init(memory.data(), 4, 2, 0, 12, 15, 6, 3));
    EXPECT_TRUE(image.v().data_ == memory.data() + 15 && image.u().height_ == 1);
    image.y().row(1)[3] = 99;
    EXPECT_FALSE(image.init(memory.data(), 4, 2, 0, 12, 15, 3, 2));  // Y stride < width
    EXPECT_FALSE(image.init(memory.data(), 4, 2, 0, 12, 15, 4, 1));  // chroma stride < 2
    EXPECT_FALSE(image.init(nullptr, 4, 2, 0, 12, 15, 4, 2));
  }
  // Still ours: AddressSanitizer would flag a free of vector memory.
  EXPECT_EQ(memory[9], 99);

  dravo::testing::AssertionCapture assertions;
  EXPECT_EQ(QvI420(4, 4, 3).data(), nullptr) << "alignment 3";
  EXPECT_EQ(assertions.messages().size(), 1u);
}

}  // namespace
}  // namespace qvideo
