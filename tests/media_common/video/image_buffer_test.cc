// Image buffers: layouts, sizes read from JPEG data, and drawing.

#include "media_common/video/image_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "media_common/video/font_8x16.h"
#include "media_common/video/image_buffer_util.h"
#include "qvideo/qv_i420.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

using IB = ImageBuffer;
using Plane = IB::Plane;
using image_testing::Bytes;
using image_testing::makeJpeg;

// Formats compare by their layout, not by the allocation they need.
TEST(ImageBufferLayoutTest, DefaultLayoutsForOddSizesEndAtTheLastAllocatedByte) {
  struct Case {
    IB::PixelFormat format;
    int width, height;
    std::vector<Plane> planes;
    int min_allocation;
  } const cases[] = {
      {IB::IMAGE_I420, 5, 3, {{5, 3, 0, 5}, {3, 2, 15, 3}, {3, 2, 21, 3}}, 27},
      {IB::IMAGE_BGR24, 7, 3, {{7, 3, 0, 21}}, 63},
      {IB::IMAGE_YUYV, 7, 3, {{7, 3, 0, 14}}, 42},
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
  IB::FormatType const format = ImageBuffer(4, 2, IB::IMAGE_I420).format();
  IB::FormatType other = format;
  other.min_allocation_ = 1000;
  EXPECT_EQ(format, other);
  other.planes_[2].stride_ += 1;
  EXPECT_NE(format, other);
}

TEST(ImageBufferLayoutTest, AlignedI420FollowsTheQvI420AndPadsItsMargins) {
  ImageBuffer image(21, 11, IB::IMAGE_ALIGNED_I420);
  auto qv = image.getQvI420();
  ASSERT_TRUE(qv);
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(image.getPixelAddress(0, 0, p), qv->plane(p).data_);
    EXPECT_EQ(image.planes()[p].stride_ % 16, 0);
  }
  image_testing::fillPlanes(image, [](int p, int x, int y) { return p * 50 + x + y; });
  image.updateMargins();
  Plane const& y = image.planes()[0];
  EXPECT_EQ(*image.getPixelAddress(y.stride_ - 1, 0, 0), *image.getPixelAddress(20, 0, 0));
  EXPECT_EQ(*image.getPixelAddress(3, 13, 0), *image.getPixelAddress(3, 10, 0));
}

// Too large for 32-bit offsets, aligned I420 too: logged, empty, no abort.
TEST(ImageBufferTest, UnknownFormatsHugeSizesAndCallerErrorsAreLogged) {
  testing::LogCapture log("video:2,check:1");
  EXPECT_TRUE(ImageBuffer(4, 4, IB::IMAGE_ANY).planes().empty());
  EXPECT_TRUE(log.contains("Unexpected format ****"));
  for (IB::PixelFormat format : {IB::IMAGE_BGRA32, IB::IMAGE_ALIGNED_I420}) {
    SCOPED_TRACE(format);
    log.clear();
    ImageBuffer huge(70000, 70000, format);
    EXPECT_TRUE(huge.planes().empty());
    EXPECT_EQ(huge.data(), nullptr);
    EXPECT_TRUE(log.contains("Image size out of range: 70000x70000"));
  }
  ImageBuffer image(4, 2, IB::IMAGE_RGB24);
  EXPECT_EQ(image.getPixelAddress(0, 0, 1), nullptr);
  EXPECT_EQ(image.getPixelAddress(0, 0, -1), nullptr);
}

std::pair<int, int> sizeOf(Bytes const& bytes, IB::PixelFormat format = IB::IMAGE_JPEG) {
  auto image = image_testing::wrapEncoded(bytes, format);
  return {image->width(), image->height()};
}

// The size of JPEG data (only) is read from its header: ours, Motion-JPEG
// frames without Huffman tables, ffmpeg's.
TEST(JpegSizeTest, DetectsTheSizeOfJpegsFromSeveralEncoders) {
  EXPECT_EQ(sizeOf(makeJpeg(17, 9)), std::pair(17, 9));
  EXPECT_EQ(sizeOf(image_testing::withoutHuffmanTables(makeJpeg(96, 64)), IB::IMAGE_MJPEG),
            std::pair(96, 64));
  EXPECT_EQ(sizeOf(makeJpeg(32, 16), IB::IMAGE_QV1).first, -1);
  if (!testing::haveTool("ffmpeg")) return;
  std::string const jpeg = testing::commandOutput(
      "ffmpeg -loglevel error -f lavfi -i testsrc=size=176x144 -frames:v 1 -pix_fmt yuvj420p -f "
      "image2pipe -c:v mjpeg -");
  EXPECT_EQ(sizeOf(Bytes(jpeg.begin(), jpeg.end())), std::pair(176, 144));
}

// Broken headers are refused with the reason, and the image keeps its
// unknown size; a prefix of a good JPEG (each in its own allocation) gives
// either the size or a refusal, never a read past its end.
TEST(JpegSizeTest, RefusesGarbageImplausibleAndTruncatedHeaders) {
  Bytes const good = makeJpeg(40, 24);
  Bytes huge = good;  // a well-formed frame header claiming 65535x65535
  Bytes const sof = {0xFF, 0xC0};
  std::fill_n(std::search(huge.begin() + 2, huge.end(), sof.begin(), sof.end()) + 5, 4, 0xFF);
  for (Bytes const& bytes : {Bytes(500, 0x5A), huge, Bytes{0xFF, 0xD8}}) {
    testing::LogCapture log("video:2");
    EXPECT_EQ(sizeOf(bytes), std::pair(-1, -1));
    EXPECT_TRUE(log.contains("Error decoding (M)JPEG header: "));
    EXPECT_TRUE(log.contains("Can't autodetect width and height for format JPEG"));
  }
  testing::LogCapture quiet("video:2");
  for (size_t n = 1; n <= good.size(); n += 3) {
    auto const size = sizeOf(Bytes(good.begin(), good.begin() + n));
    EXPECT_TRUE(size.first == -1 || size == std::pair(40, 24)) << n;
  }
}

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
  auto image = grey(20, 40);
  // 'C' would need columns 20-27: skipped, nothing wrapped below; a line
  // feed returns to x. Cells cut by the left or bottom edge are not drawn.
  ImageBufferUtil::writeString(image.get(), 5, 1, "HiC");
  ImageBufferUtil::writeString(image.get(), 4, 0, "\nD");
  ImageBufferUtil::writeString(image.get(), -8, 30, "XX");
  EXPECT_TRUE(cellShows(*image, 4, 0, 'H') && cellShows(*image, 12, 0, 'i') &&
              cellShows(*image, 4, 16, 'D'));
  EXPECT_EQ(lumaWith(*image, 100).size(), 20u * 40u - 3 * 8 * 16);
  EXPECT_EQ(lumaWith(*image, 128, 1).size(), 10u * 20u);
}

TEST(LineTest, StepsAlongTheMajorAxisClippedToTheImageEvenWhenTiny) {
  auto image = grey(16, 16);
  ImageBufferUtil::line(image.get(), -10, -10, 20, 20, kRed);
  std::vector<std::pair<int, int>> diagonal;
  for (int i = 0; i < 16; ++i) diagonal.emplace_back(i, i);
  EXPECT_EQ(lumaWith(*image, 81), diagonal);
  diagonal.resize(8);
  EXPECT_EQ(lumaWith(*image, 240, 2), diagonal);

  // Steep lines step along y, the same pixels whichever end comes first.
  auto steep = grey(16, 16);
  ImageBufferUtil::line(steep.get(), 3, 0, 5, 9, kRed);
  ImageBufferUtil::line(steep.get(), 5, 9, 3, 0, kRed);
  std::vector<std::pair<int, int>> expected;
  for (int y = 0; y < 10; ++y) expected.emplace_back(y < 3 ? 3 : y < 7 ? 4 : 5, y);
  EXPECT_EQ(lumaWith(*steep, 81), expected);

  for (auto [w, h] : {std::pair{2, 1}, std::pair{1, 3}}) {
    auto tiny = grey(w, h);
    ImageBufferUtil::line(tiny.get(), -100, -50, 100, 70, kRed);  // misses the picture
    ImageBufferUtil::line(tiny.get(), 0.5, 0.5, 0.5, 0.5, kRed);  // beyond the last row/column
    EXPECT_TRUE(lumaWith(*tiny, 81).empty());
    ImageBufferUtil::line(tiny.get(), -100, 0, 100, 0, kRed);
    EXPECT_EQ(lumaWith(*tiny, 81).size(), static_cast<size_t>(w));
  }
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
  EXPECT_EQ(log.messages("image_buffer_util").size(), 5u);  // one refusal each
  EXPECT_TRUE(log.contains("Can't use drawImage on source of format RGB3"));
}

}  // namespace
}  // namespace dravo::media
