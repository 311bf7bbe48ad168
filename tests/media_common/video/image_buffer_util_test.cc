#include "media_common/video/image_buffer_util.h"

#include <gtest/gtest.h>

#include "media_common/video/font_8x16.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

unsigned char kRed[3] = {81, 90, 240};

std::shared_ptr<ImageBuffer> grey(int w, int h) {
  auto image = std::make_shared<ImageBuffer>(w, h, ImageBuffer::IMAGE_I420);
  image_testing::fillPlanes(*image, [](int p, int, int) { return p == 0 ? 100 : 128; });
  return image;
}

// Luma samples of the image equal to `value`, as (x, y) pairs.
std::vector<std::pair<int, int>> lumaWith(const ImageBuffer& image, int value, int plane = 0) {
  std::vector<std::pair<int, int>> out;
  ImageBuffer::Plane const& p = image.planes()[plane];
  for (int y = 0; y < p.height_; ++y)
    for (int x = 0; x < p.width_; ++x)
      if (*image.getPixelAddress(x, y, plane) == value) out.emplace_back(x, y);
  return out;
}

// The 8x16 cell at (x, y) holds glyph `c` (white on black).
bool cellShows(const ImageBuffer& image, int x, int y, char c) {
  for (int r = 0; r < 16; ++r)
    for (int b = 0; b < 8; ++b)
      if (*image.getPixelAddress(x + b, y + r, 0) !=
          ((Font8x16::getCharData(c)[r] >> (7 - b)) & 1 ? 255 : 0))
        return false;
  return true;
}

TEST(WriteStringTest, DrawsWholeCellsOnEvenCoordinatesAndClipsWithoutWrapping) {
  auto image = grey(32, 32);
  ImageBufferUtil::writeString(image.get(), 3, 5, "Hi");
  EXPECT_TRUE(cellShows(*image, 2, 4, 'H'));
  EXPECT_TRUE(cellShows(*image, 10, 4, 'i'));
  EXPECT_EQ(lumaWith(*image, 100).size(), 32u * 32u - 2 * 8 * 16);
  EXPECT_EQ(lumaWith(*image, 128, 1).size(), 16u * 16u);
  auto wide = grey(20, 40);
  ImageBufferUtil::writeString(wide.get(), 4, 0, "ABC\nD");
  // 'C' would need columns 20-27: skipped, and nothing wrapped below; a
  // line feed returns to x.
  EXPECT_TRUE(cellShows(*wide, 4, 16, 'D'));
  EXPECT_EQ(*wide->getPixelAddress(12, 16, 0), 100);

  // Cells cut by the bottom or left edge are not drawn at all.
  auto small = grey(16, 15);
  ImageBufferUtil::writeString(small.get(), 0, 0, "X");
  ImageBufferUtil::writeString(small.get(), -8, 0, "XX");
  EXPECT_EQ(lumaWith(*small, 100).size(), 16u * 15u);
}

TEST(LineTest, StepsAlongTheMajorAxisClippedToTheImageEvenWhenTiny) {
  auto image = grey(16, 16);
  ImageBufferUtil::line(image.get(), -10, -10, 20, 20, kRed);
  std::vector<std::pair<int, int>> diagonal;
  for (int i = 0; i < 16; ++i) diagonal.emplace_back(i, i);
  EXPECT_EQ(lumaWith(*image, 81), diagonal);
  diagonal.resize(8);
  EXPECT_EQ(lumaWith(*image, 240, 2), diagonal);

  // Steep lines step along y, leaning right or (given bottom first) left.
  std::vector<int> const columns = {3, 3, 3, 4, 4, 4, 4, 5, 5, 5};
  for (bool left : {false, true}) {
    auto steep = grey(16, 16);
    if (left)
      ImageBufferUtil::line(steep.get(), 10, 9, 12, 0, kRed);
    else
      ImageBufferUtil::line(steep.get(), 3, 0, 5, 9, kRed);
    std::vector<std::pair<int, int>> expected;
    for (int y = 0; y < 10; ++y) expected.emplace_back(left ? 15 - columns[y] : columns[y], y);
    EXPECT_EQ(lumaWith(*steep, 81), expected) << (left ? "left" : "right");
  }

  for (auto [w, h] : {std::pair{2, 1}, std::pair{1, 3}}) {
    auto tiny = grey(w, h);
    ImageBufferUtil::line(tiny.get(), -100, -50, 100, 70, kRed);  // misses the picture
    ImageBufferUtil::line(tiny.get(), 0.5, 0.5, 0.5, 0.5, kRed);  // beyond the last row/column
    EXPECT_TRUE(lumaWith(*tiny, 81).empty());
    ImageBufferUtil::line(tiny.get(), -100, 0, 100, 0, kRed);
    EXPECT_EQ(lumaWith(*tiny, 81).size(), static_cast<size_t>(w));
  }
}

TEST(DrawImageTest, RectanglesAndCopiesAreClippedToTheDestination) {
  auto dst = grey(16, 16);
  ImageBufferUtil::filledRectangle(dst.get(), 10, 2, 50, 6, kRed);
  EXPECT_EQ(lumaWith(*dst, 81).size(), 6u * 4u);
  EXPECT_EQ(lumaWith(*dst, 240, 2).front(), std::make_pair(5, 1));
  auto src = std::make_shared<ImageBuffer>(8, 8, ImageBuffer::IMAGE_I420);
  image_testing::fillPlanes(*src, [](int p, int x, int y) { return p * 60 + y * 8 + x; });
  ImageBufferUtil::drawImage(dst.get(), 12, 4, *src, 2, 2, 8, 8);
  // The copy ends at the smallest of the room left in dst (16 - 12 = 4),
  // the source width and sx1, counted from sx0: 2 columns, 6 rows.
  EXPECT_EQ(*dst->getPixelAddress(12, 4, 0), 2 * 8 + 2);
  EXPECT_EQ(*dst->getPixelAddress(13, 9, 0), 7 * 8 + 3);
  EXPECT_EQ(*dst->getPixelAddress(14, 4, 0), 81);
  EXPECT_EQ(*dst->getPixelAddress(6, 2, 2), 120 + 8 + 1);  // from chroma (1, 1)
}

TEST(DrawingTest, RefusesFormatsOtherThanI420) {
  testing::LogCapture log("image_buffer_util:3");
  auto rgb = std::make_shared<ImageBuffer>(16, 16, ImageBuffer::IMAGE_RGB24);
  std::fill_n(rgb->data(), rgb->format().min_allocation_, 7);
  auto i420 = grey(16, 16);
  ImageBufferUtil::writeString(rgb.get(), 0, 0, "A");
  ImageBufferUtil::line(rgb.get(), 0, 0, 15, 15, kRed);
  ImageBufferUtil::filledRectangle(rgb.get(), 0, 0, 4, 4, kRed);
  ImageBufferUtil::drawImage(rgb.get(), 0, 0, *i420, 0, 0, 4, 4);
  ImageBufferUtil::drawImage(i420.get(), 0, 0, *rgb, 0, 0, 4, 4);
  EXPECT_TRUE(std::all_of(rgb->data(), rgb->data() + rgb->format().min_allocation_,
                          [](unsigned char v) { return v == 7; }));
  EXPECT_EQ(lumaWith(*i420, 100).size(), 256u);
  EXPECT_EQ(log.messages("image_buffer_util"),
            (std::vector<std::string>{"Can't write string on images of format RGB3",
                                      "Can't draw lines on images of format RGB3",
                                      "Can't draw rectangles on images of format RGB3",
                                      "Can't use drawImage on destination of format RGB3",
                                      "Can't use drawImage on source of format RGB3"}));
}

}  // namespace
}  // namespace dravo::media
