#include "media_common/video/image_resize.h"

#include <gtest/gtest.h>
#include <libyuv/scale.h>

#include <cstdlib>
#include <random>

#include "media_common/video/image_buffer_converter.h"
#include "media_common/video/image_resize_kernels.h"
#include "tests/media_common/video/image_test_util.h"

namespace dravo::media::image_conversion {
namespace {

using ImagePtr = std::shared_ptr<ImageBuffer const>;
using PF = ImageBuffer::PixelFormat;

std::shared_ptr<ImageBuffer> randomImage(int width, int height, PF format = PF::IMAGE_I420,
                                         unsigned seed = 1) {
  auto image = std::make_shared<ImageBuffer>(width, height, format);
  std::mt19937 random(seed);
  image_testing::fillPlanes(*image,
                            [&](int, int, int) { return static_cast<int>(random() & 255); });
  image->updateMargins();
  image->setPriority(3);
  return image;
}

ImageBuffer::FormatType formatOf(int width, int height, PF format, float aspect = 1.0f) {
  ImageBuffer::FormatType f = ImageBuffer(width, height, format, nullptr, nullptr, 0).format();
  f.pixel_aspect_ = aspect;
  return f;
}

// Each plane of `result` against the same plane scaled by the 2x2 average
// (true) or by libyuv's bilinear scaler (false): the number of samples that
// differ.
int differences(const ImageBuffer& source, const ImageBuffer& result, int plane, bool average) {
  ImageBuffer expected(result.width(), result.height(), result.format().pixel_format_);
  ImageBuffer::Plane const& from = source.planes()[plane];
  ImageBuffer::Plane const& to = expected.planes()[plane];
  if (average) {
    downsample2x2Average(source.data(), from, expected.data(), to);
  } else {
    libyuv::ScalePlane(source.getPixelAddress(0, 0, plane), from.stride_, from.width_, from.height_,
                       expected.getPixelAddress(0, 0, plane), to.stride_, to.width_, to.height_,
                       libyuv::kFilterBilinear);
  }
  int count = 0;
  for (int y = 0; y < to.height_; ++y)
    for (int x = 0; x < to.width_; ++x)
      count += *expected.getPixelAddress(x, y, plane) != *result.getPixelAddress(x, y, plane);
  return count;
}

// Planes shrunk by 1.9 or more take the 2x2 average, others bilinear
// scaling, each plane on its own ratio: 190 -> 100 columns is exactly 1.9,
// 189 -> 100 just below.
TEST(ImageResizeTest, StrongShrinksAverageAndMildOnesAreBilinear) {
  struct Case {
    int sw, sh, tw, th;
    bool luma_average, chroma_average;
  } const cases[] = {
      {1280, 720, 320, 180, true, true},
      {1280, 720, 1000, 600, false, false},
      {190, 100, 100, 60, true, true},  // chroma 95 -> 50: 1.9 as well
      {189, 100, 100, 60, false, true},
      {40, 40, 21, 21, true, false},  // chroma 20 -> 11 is below 1.9
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.sw << "x" << c.sh << " to " << c.tw << "x" << c.th);
    auto source = randomImage(c.sw, c.sh);
    ImagePtr result =
        ImageBufferConverter::easyConvert(formatOf(c.tw, c.th, PF::IMAGE_I420), source);
    ASSERT_TRUE(result);
    ASSERT_EQ(result->width() * 10000 + result->height(), c.tw * 10000 + c.th);
    for (int p = 0; p < 3; ++p)
      EXPECT_EQ(differences(*source, *result, p, p == 0 ? c.luma_average : c.chroma_average), 0)
          << p;
  }
}

// The 2x2 average of odd ratios picks the block at the truncated scaled
// position, and the block's right column stays inside the plane.
TEST(ImageResizeTest, TwoByTwoAverageOfOddRatios) {
  ImageBuffer::Plane const from(7, 5, 0, 7);
  ImageBuffer::Plane const to(3, 2, 0, 4);
  std::vector<unsigned char> source(35);
  for (int i = 0; i < 35; ++i) source[i] = static_cast<unsigned char>(i * 7);
  std::vector<unsigned char> out(8, 0xEE);
  downsample2x2Average(source.data(), from, out.data(), to);
  auto at = [&](int x, int y) { return source[y * 7 + x]; };
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      int const c = std::min(5, x * 7 / 3);
      int const r = y * 5 / 2;
      EXPECT_EQ(out[y * 4 + x],
                (at(c, r) + at(c + 1, r) + at(c, r + 1) + at(c + 1, r + 1) + 2) >> 2)
          << x << "," << y;
    }
  EXPECT_EQ(out[3], 0xEE);  // past the row
}

// Exact 2/3 shrinks take the hand-written kernel: equal to its definition
// on random planes of several sizes, and within the bound the scaler keeps
// to libyuv's bilinear result (no sample more than one level off, mean
// difference far below one level).
TEST(ImageResizeTest, TwoThirdsShrinkMatchesItsDefinitionAndLibyuvBilinear) {
  for (auto [w, h] : {std::pair{1920, 1080}, {96, 6}, {3, 3}, {51, 33}}) {
    SCOPED_TRACE(::testing::Message() << w << "x" << h);
    auto source = randomImage(w, h, PF::IMAGE_I420, w);
    ImagePtr result =
        ImageBufferConverter::easyConvert(formatOf(w / 3 * 2, h / 3 * 2, PF::IMAGE_I420), source);
    ASSERT_TRUE(result);
    ImageBuffer::Plane const& from = source->planes()[0];
    ImageBuffer::Plane const& to = result->planes()[0];
    ASSERT_TRUE(isTwoThirds(from.width_, from.height_, to.width_, to.height_));
    auto in = [&](int x, int y) { return int{*source->getPixelAddress(x, y, 0)}; };
    long total = 0;
    int worst = 0;
    for (int y = 0; y < to.height_; ++y)
      for (int x = 0; x < to.width_; ++x) {
        // Sample at (0.25 + 1.5x, 0.25 + 1.5y): weights 3 and 1 per axis.
        int const x0 = x / 2 * 3 + x % 2, y0 = y / 2 * 3 + y % 2;
        int const wx = x % 2 ? 1 : 3, wy = y % 2 ? 1 : 3;
        int const expected =
            (wy * (wx * in(x0, y0) + (4 - wx) * in(x0 + 1, y0)) +
             (4 - wy) * (wx * in(x0, y0 + 1) + (4 - wx) * in(x0 + 1, y0 + 1)) + 8) >>
            4;
        int const got = *result->getPixelAddress(x, y, 0);
        ASSERT_EQ(got, expected) << x << "," << y;
      }
    // Against libyuv's bilinear scaler: compare sample by sample.
    ImageBuffer reference(to.width_, to.height_, PF::IMAGE_I420);
    libyuv::ScalePlane(source->getPixelAddress(0, 0, 0), from.stride_, from.width_, from.height_,
                       reference.getPixelAddress(0, 0, 0), reference.planes()[0].stride_, to.width_,
                       to.height_, libyuv::kFilterBilinear);
    for (int y = 0; y < to.height_; ++y)
      for (int x = 0; x < to.width_; ++x) {
        int const d =
            std::abs(*reference.getPixelAddress(x, y, 0) - *result->getPixelAddress(x, y, 0));
        total += d;
        worst = std::max(worst, d);
      }
    EXPECT_LE(worst, 1);
    EXPECT_LE(static_cast<double>(total) / (to.width_ * to.height_), 0.5);
  }
}

// Aligned targets are cut to their aspect ratio around the centre first
// (the pixel aspect of the source counts); a cut of the target's size is a
// copy, in the constrained layout when it fits, anything else is resampled.
// `downsample` hands on the source's metadata.
TEST(ImageResizeTest, AlignedTargetsAreCroppedToTheirAspectAroundTheCentre) {
  auto source = std::make_shared<ImageBuffer>(640, 480, PF::IMAGE_ALIGNED_I420);
  // Luma says where a sample came from: column / 4 in the middle rows,
  // 200 + row / 4 in the middle columns.
  image_testing::fillPlanes(*source, [](int p, int x, int y) {
    if (p != 0) return 128;
    return y >= 200 && y < 280 ? x / 4 : x >= 280 && x < 360 ? 200 - y / 4 : 0;
  });
  source->updateMargins();
  source->setPriority(5);
  source->setStartTimestamp(Time::fromNSec(777));
  struct Case {
    float aspect;
    int tw, th;
    PF format;
    int x, y;          // a sample of the result...
    int luma, spread;  // ...and what it holds, within `spread`
  } const cases[] = {
      // 480x480 from the middle: column 0 is source column 80.
      {1.0f, 480, 480, PF::IMAGE_CONSTRAINED_I420, 0, 240, 20, 0},
      // Wide pixels: a 320x480 cut from the middle, shrunk to 320x240.
      {2.0f, 320, 240, PF::IMAGE_ALIGNED_I420, 0, 120, 40, 1},
      // Tall pixels: a 640x240 cut from the middle rows, shrunk to 320x240.
      {0.5f, 320, 240, PF::IMAGE_ALIGNED_I420, 160, 0, 200 - 120 / 4, 1},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.aspect);
    source->setPixelAspectRatio(c.aspect);
    ImagePtr result = ImageBufferConverter::downsample(
        formatOf(c.tw, c.th, PF::IMAGE_ALIGNED_I420, c.aspect), source);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->format().pixel_format_, c.format);
    EXPECT_EQ(result->width() * 10000 + result->height(), c.tw * 10000 + c.th);
    EXPECT_NEAR(*result->getPixelAddress(c.x, c.y, 0), c.luma, c.spread);
    EXPECT_EQ(result->getPriority(), 5);
    EXPECT_EQ(result->getStartTimestamp(), Time::fromNSec(777));
  }
}

}  // namespace
}  // namespace dravo::media::image_conversion
