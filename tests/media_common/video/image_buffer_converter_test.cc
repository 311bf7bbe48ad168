// Conversions between pixel formats and sizes, their cache, and the bridges
// to the qvideo types.

#include "media_common/video/image_buffer_converter.h"

#include <gtest/gtest.h>
#include <libyuv/scale.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include "qvideo/encoded_frame.h"
#include "qvideo/qv_i420.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using ImagePtr = std::shared_ptr<ImageBuffer const>;
using image_testing::Bytes;
using image_testing::formatOf;
using image_testing::makeTestI420;
using image_testing::planePsnr;
using image_testing::wrapEncoded;
using PF = ImageBuffer::PixelFormat;

template <typename Format>
ImagePtr convertTo(ImagePtr img, Format const& format) {
  return ImageBufferConverter::easyConvert(format, std::move(img));
}

bool isEncoded(PF f) { return f == PF::IMAGE_JPEG || f == PF::IMAGE_MJPEG; }

// A copy of `image` in `format` (its own by default) that shares no
// conversion cache with it, so converting the copy really runs a conversion.
// Packed formats are copied pixel by pixel, dropping or adding the X byte.
std::shared_ptr<ImageBuffer> fresh(ImagePtr const& image, PF format = ImageBuffer::IMAGE_ANY) {
  PF const from = image->format().pixel_format_;
  if (format == ImageBuffer::IMAGE_ANY) format = from;
  if (isEncoded(from))
    return wrapEncoded(image_testing::Bytes(image->data(), image->data() + image->size()), format,
                       image->width(), image->height());
  auto copy = std::make_shared<ImageBuffer>(image->width(), image->height(), format);
  int const in = image->planes()[0].stride_ / image->width();
  int const out = copy->planes()[0].stride_ / copy->width();
  for (int y = 0; y < copy->height(); ++y)
    for (int x = 0; x < copy->width(); ++x)
      std::memcpy(copy->getPixelAddress(x * out, y, 0), image->getPixelAddress(x * in, y, 0),
                  std::min(in, out));
  return copy;
}

int countRuns(testing::LogCapture& log) {
  int runs = 0;
  for (auto const& message : log.messages("image_converter"))
    runs += message.rfind("Running conversion function", 0) == 0;
  return runs;
}

class TagEvent : public Event {};

// Every pair of the conversion table (and RGB24 and JPEG through I420): the
// result has the target format and, brought back to I420 by a fresh
// conversion, the reference picture within the format's loss. Results keep
// the source's metadata and token.
TEST(ImageConversionTest, ConversionsKeepThePictureAndTheMetadata) {
  auto const ref = makeTestI420(66, 34);
  ImagePtr const bgrx = fresh(convertTo(ref, ImageBuffer::IMAGE_BGRX32));
  auto const yuyv = std::make_shared<ImageBuffer>(66, 34, ImageBuffer::IMAGE_YUYV);
  for (int y = 0; y < 34; ++y)
    for (int x = 0; x < 66; ++x) {  // vertically uniform chroma: exact
      unsigned char* out = yuyv->getPixelAddress(2 * x, y, 0);
      out[0] = *ref->getPixelAddress(x, y, 0);
      out[1] = *ref->getPixelAddress(x / 2, y / 2, 1 + x % 2);
    }
  ImagePtr const jpeg = fresh(convertTo(ref, ImageBuffer::IMAGE_JPEG));
  auto const mjpeg =
      wrapEncoded(image_testing::withoutHuffmanTables({jpeg->data(), jpeg->data() + jpeg->size()}),
                  ImageBuffer::IMAGE_MJPEG);
  struct Case {
    ImagePtr source;
    PF target;
    double least_psnr;
  } const cases[] = {
      {ref, ImageBuffer::IMAGE_BGRX32, 35},
      {bgrx, ImageBuffer::IMAGE_I420, 35},
      {fresh(bgrx, ImageBuffer::IMAGE_BGR24), ImageBuffer::IMAGE_I420, 35},
      {fresh(bgrx, ImageBuffer::IMAGE_BGRA32), ImageBuffer::IMAGE_ALIGNED_I420, 35},
      {fresh(bgrx, ImageBuffer::IMAGE_BGR24), ImageBuffer::IMAGE_BGRX32, 35},
      {yuyv, ImageBuffer::IMAGE_ALIGNED_I420, 100},
      {ref, ImageBuffer::IMAGE_JPEG, 30},
      {jpeg, ImageBuffer::IMAGE_I420, 30},
      {mjpeg, ImageBuffer::IMAGE_ALIGNED_I420, 30},
      {mjpeg, ImageBuffer::IMAGE_JPEG, 30},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.source->format().pixel_format_ << " to " << c.target);
    ImagePtr result = convertTo(c.source, c.target);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->format().pixel_format_, c.target);
    if (c.target == ImageBuffer::IMAGE_BGRX32 || isEncoded(c.target))
      result = convertTo(fresh(result), ImageBuffer::IMAGE_I420);
    ASSERT_TRUE(result);
    for (int p = 0; p < 3; ++p) EXPECT_GE(planePsnr(*ref, *result, p), c.least_psnr) << p;
  }
  // RGB24 has no way back: the same colours as BGRX, in R,G,B order.
  auto source = fresh(yuyv);
  source->setStartTimestamp(Time::fromNSec(12345));
  auto tag = std::make_shared<TagEvent>();
  source->appendEventToMetadata(tag);
  bool released = false;
  source->addToken(TokenReference([&] { released = true; }));
  ImagePtr rgb = convertTo(std::move(source), ImageBuffer::IMAGE_RGB24);
  for (int x : {0, 31, 65}) {
    unsigned char const *b = bgrx->getPixelAddress(4 * x, 17, 0),
                        *r = rgb->getPixelAddress(3 * x, 17, 0);
    EXPECT_TRUE(b[2] == r[0] && b[1] == r[1] && b[0] == r[2]) << x;
  }
  EXPECT_EQ(rgb->getStartTimestamp(), Time::fromNSec(12345));
  EXPECT_EQ(rgb->getMetadataByTypeId(typeid(TagEvent)), tag);
  EXPECT_FALSE(released);  // the result holds the frame's token
  rgb.reset();
  EXPECT_TRUE(released);
}

// Pairs outside the table and bad JPEG data are refused, the latter without
// allocating what its header claims; the same format (or a larger size) is
// the same picture.
TEST(ImageConversionTest, OtherPairsAndBadJpegDataAreRefused) {
  auto aligned = makeTestI420(64, 48, ImageBuffer::IMAGE_ALIGNED_I420);
  auto resize = [&](int w, int h) { return convertTo(aligned, formatOf(w, h, PF::IMAGE_I420)); };
  EXPECT_EQ(resize(64, 48), aligned);
  EXPECT_EQ(resize(128, 96)->data(), aligned->data());  // never enlarged
  testing::LogCapture log("image_converter:3");
  EXPECT_TRUE(ImageBufferConverter::convert(formatOf(16, 16, ImageBuffer::IMAGE_BGRX32),
                                            std::make_shared<ImageBuffer>(16, 16, PF::IMAGE_YUYV))
                  .empty());
  EXPECT_TRUE(log.contains("Can't convert from YUYV to BGR4"));
  EXPECT_EQ(convertTo(aligned, ImageBuffer::IMAGE_MJPEG), nullptr);
  // JPEG data beyond the size limit, with an undecodable header, not of its
  // stated size; an MJPEG frame that is no JPEG at all.
  for (auto const& [bytes, format, size, target] :
       {std::tuple{Bytes(300, 0x5A), PF::IMAGE_JPEG, 65535, PF::IMAGE_I420},
        {Bytes(300, 0x5A), PF::IMAGE_JPEG, 4000, PF::IMAGE_I420},
        {image_testing::makeJpeg(32, 32), PF::IMAGE_MJPEG, 64, PF::IMAGE_I420},
        {Bytes{0xFF}, PF::IMAGE_MJPEG, 8, PF::IMAGE_JPEG}})
    EXPECT_EQ(convertTo(wrapEncoded(bytes, format, size, size), target), nullptr) << size;
  EXPECT_TRUE(log.contains("Error converting from MJPG to JPEG"));
}

// A cache hit shares the pixels of the first result (nothing is converted
// or allocated again); a failure is remembered.
TEST(ConversionCacheTest, RepeatsAndFailuresComeFromTheCache) {
  testing::LogCapture log("image_converter:8");
  auto source = makeTestI420(64, 32);
  ImagePtr first = convertTo(source, ImageBuffer::IMAGE_RGB24);
  log.clear();
  EXPECT_EQ(convertTo(source, ImageBuffer::IMAGE_RGB24)->data(), first->data());
  EXPECT_EQ(countRuns(log), 0);
  // A converted image shares the cache: converting it back finds the source.
  EXPECT_EQ(convertTo(convertTo(source, PF::IMAGE_BGRX32), PF::IMAGE_I420)->data(), source->data());

  log.clear();
  auto bad = wrapEncoded(image_testing::Bytes(64, 0x11), ImageBuffer::IMAGE_JPEG, 16, 16);
  EXPECT_EQ(convertTo(bad, ImageBuffer::IMAGE_I420), nullptr);
  EXPECT_EQ(convertTo(bad, ImageBuffer::IMAGE_I420), nullptr);
  EXPECT_EQ(countRuns(log), 1);
}

TEST(ConversionCacheTest, ConcurrentRequestsConvertOnce) {
  testing::LogCapture log("image_converter:8");
  auto source = makeTestI420(320, 240);
  std::atomic<int> ready{0};
  std::vector<ImagePtr> results(4);
  std::vector<std::thread> threads;
  for (auto& result : results)
    threads.emplace_back([&] {
      for (ready.fetch_add(1); ready.load() < 4;) std::this_thread::yield();
      result = convertTo(source, ImageBuffer::IMAGE_BGRX32);
    });
  for (auto& thread : threads) thread.join();
  for (auto const& result : results) EXPECT_EQ(result->data(), results[0]->data());
  EXPECT_EQ(countRuns(log), 1);
}

std::shared_ptr<ImageBuffer> randomImage(int width, int height, unsigned seed = 1) {
  auto image = std::make_shared<ImageBuffer>(width, height, PF::IMAGE_I420);
  std::mt19937 random(seed);
  image_testing::fillPlanes(*image,
                            [&](int, int, int) { return static_cast<int>(random() & 255); });
  return image;
}

enum class Scaling { kAverage, kBilinear, kTwoThirds };

// The samples of plane `plane` of `result` that differ from the source's
// plane scaled by the 2x2 average of the block at the truncated scaled
// position (kept inside the plane), by bilinear sampling at 0.25 + 1.5x (the
// 2/3 kernel's definition), or by libyuv's bilinear scaler.
int differences(const ImageBuffer& source, const ImageBuffer& result, int plane, Scaling scaling) {
  ImageBuffer::Plane const& from = source.planes()[plane];
  ImageBuffer::Plane const& to = result.planes()[plane];
  ImageBuffer bilinear(result.width(), result.height(), result.format().pixel_format_);
  libyuv::ScalePlane(source.getPixelAddress(0, 0, plane), from.stride_, from.width_, from.height_,
                     bilinear.getPixelAddress(0, 0, plane), bilinear.planes()[plane].stride_,
                     to.width_, to.height_, libyuv::kFilterBilinear);
  auto in = [&](int x, int y) { return int{*source.getPixelAddress(x, y, plane)}; };
  int count = 0;
  for (int y = 0; y < to.height_; ++y)
    for (int x = 0; x < to.width_; ++x) {
      int expected = *bilinear.getPixelAddress(x, y, plane);
      if (scaling == Scaling::kAverage) {
        int const c = std::min(from.width_ - 2, x * from.width_ / to.width_);
        int const r = std::min(from.height_ - 2, y * from.height_ / to.height_);
        expected = (in(c, r) + in(c + 1, r) + in(c, r + 1) + in(c + 1, r + 1) + 2) >> 2;
      } else if (scaling == Scaling::kTwoThirds) {
        int const x0 = x / 2 * 3 + x % 2, y0 = y / 2 * 3 + y % 2;
        int const wx = x % 2 ? 1 : 3, wy = y % 2 ? 1 : 3;
        expected = (wy * (wx * in(x0, y0) + (4 - wx) * in(x0 + 1, y0)) +
                    (4 - wy) * (wx * in(x0, y0 + 1) + (4 - wx) * in(x0 + 1, y0 + 1)) + 8) >>
                   4;
      }
      count += expected != *result.getPixelAddress(x, y, plane);
    }
  return count;
}

// Planes shrunk by 1.9 or more take the 2x2 average, exact 2/3 shrinks the
// hand-written kernel, others bilinear scaling, each plane on its own ratio:
// 190 -> 100 columns is exactly 1.9, 189 -> 100 just below.
TEST(ImageResizeTest, EachPlaneTakesTheScalingOfItsRatio) {
  using S = Scaling;
  struct Case {
    int sw, sh, tw, th;
    Scaling luma, chroma;
  } const cases[] = {
      {190, 100, 100, 60, S::kAverage, S::kAverage},  // chroma 95 -> 50: 1.9 as well
      {189, 100, 100, 60, S::kBilinear, S::kAverage},
      {40, 40, 21, 21, S::kAverage, S::kBilinear},  // chroma 20 -> 11 is below 1.9
      {96, 6, 64, 4, S::kTwoThirds, S::kTwoThirds},
      {3, 3, 2, 2, S::kTwoThirds, S::kAverage},
      {51, 33, 34, 22, S::kTwoThirds, S::kBilinear},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.sw << "x" << c.sh << " to " << c.tw << "x" << c.th);
    auto source = randomImage(c.sw, c.sh);
    ImagePtr result = convertTo(source, formatOf(c.tw, c.th, PF::IMAGE_I420));
    ASSERT_TRUE(result);
    ASSERT_EQ(result->width() * 10000 + result->height(), c.tw * 10000 + c.th);
    for (int p = 0; p < 3; ++p)
      EXPECT_EQ(differences(*source, *result, p, p == 0 ? c.luma : c.chroma), 0) << p;
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

int sample(int p, int x, int y) { return (p * 60 + x * 7 + y * 13) & 255; }

std::shared_ptr<ImageBuffer> patterned(int width, int height) {
  auto image = std::make_shared<ImageBuffer>(width, height, ImageBuffer::IMAGE_I420);
  image_testing::fillPlanes(*image, sample);
  return image;
}

// Copies to and from the qvideo type keep every sample and pad the margins;
// crops take the centre; wraps share the pixels both ways; other formats
// are refused.
TEST(QvI420BridgeTest, CopiesCropsAndWraps) {
  auto const image = patterned(7, 5);
  qvideo::QvI420 qv(7, 5, 16), view;
  ImageBufferConverter::copyImageBufferToQvI420(image, &qv);
  ImageBufferConverter::wrapImageBufferToQvI420(image, &view);
  auto const wrapped = ImageBufferConverter::wrapQvI420ToImageBuffer(qv);
  auto const back = ImageBufferConverter::copyQvI420ToImageBuffer(qv, ImageBuffer::IMAGE_I420);
  ASSERT_TRUE(wrapped && back);
  EXPECT_EQ(back->format(), image->format());
  EXPECT_EQ(avi_testing::packedI420(*wrapped), avi_testing::packedI420(*image));
  EXPECT_EQ(avi_testing::packedI420(*back), avi_testing::packedI420(*image));
  for (int p = 0; p < 3; ++p) {
    qvideo::QvGray8 const& plane = qv.plane(p);
    EXPECT_EQ(plane.row(0)[plane.stride_ - 1], plane.row(0)[plane.width_ - 1]) << p;
    EXPECT_EQ(wrapped->getPixelAddress(0, 1, p), plane.row(1)) << p;
    EXPECT_EQ(view.plane(p).data_, image->getPixelAddress(0, 0, p)) << p;
    EXPECT_EQ(view.plane(p).stride_, image->planes()[p].stride_) << p;
  }

  // 10x6 into 4x2: luma from (3, 2), chroma (5x3 into 2x1) from (1, 1).
  qvideo::QvI420 crop(4, 2, 16);
  ImageBufferConverter::copyAndCropImageBufferToQvI420(patterned(10, 6), &crop);
  EXPECT_EQ(crop.y().row(1)[3], sample(0, 6, 3));
  EXPECT_EQ(crop.u().row(0)[1], sample(1, 2, 1));
  EXPECT_EQ(crop.v().row(0)[0], sample(2, 1, 1));

  testing::LogCapture log("image_converter:1");
  ImageBufferConverter::copyImageBufferToQvI420(
      std::make_shared<ImageBuffer>(4, 2, ImageBuffer::IMAGE_RGB24), &crop);
  EXPECT_EQ(crop.y().row(1)[3], sample(0, 6, 3));  // untouched
  EXPECT_TRUE(log.contains("Invalid image format RGB3"));
}

TEST(Qv1BridgeTest, AFrameTravelsAsItsBytesAndGarbageIsRefused) {
  qvideo::QvI420 picture(6, 4, 16);
  ImageBufferConverter::copyImageBufferToQvI420(patterned(6, 4), &picture);
  auto frame = std::make_shared<qvideo::EncodedFrame>();
  ASSERT_TRUE(frame->storeI420(picture));
  std::string bytes, reparsed;
  frame->serialize(&bytes);
  auto const image = ImageBufferConverter::createImageBufferFromQv1EncodedFrame(frame);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->format().pixel_format_, ImageBuffer::IMAGE_QV1);
  EXPECT_EQ(std::string(image->data(), image->data() + image->size()), bytes);
  auto const parsed = ImageBufferConverter::createQv1EncodedFrameFromImageBuffer(image);
  ASSERT_TRUE(parsed);
  parsed->serialize(&reparsed);
  EXPECT_EQ(reparsed, bytes);
  bytes[0] = 'X';
  EXPECT_EQ(ImageBufferConverter::createQv1EncodedFrameFromImageBuffer(
                wrapEncoded(image_testing::Bytes(bytes.begin(), bytes.end()), PF::IMAGE_QV1, 1, 1)),
            nullptr);
}

}  // namespace
}  // namespace dravo::media
