#include "media_common/video/image_buffer_converter.h"

#include <gtest/gtest.h>
#include <libyuv/scale.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "qvideo/encoded_frame.h"
#include "qvideo/qv_i420.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using ImagePtr = std::shared_ptr<ImageBuffer const>;
using image_testing::makeTestI420;
using image_testing::planePsnr;
using image_testing::wrapEncoded;
using PF = ImageBuffer::PixelFormat;

ImageBuffer::FormatType formatOf(int w, int h, PF f) {
  return ImageBuffer(w, h, f, nullptr, nullptr, 0).format();
}

ImagePtr convertTo(ImagePtr img, PF f) {
  return ImageBufferConverter::easyConvert(f, std::move(img));
}

bool isEncoded(PF f) {
  return f == ImageBuffer::IMAGE_JPEG || f == ImageBuffer::IMAGE_MJPEG ||
         f == ImageBuffer::IMAGE_QV1;
}

int pixelBytes(ImageBuffer const& image) {
  return image.planes().size() == 1 ? image.planes()[0].stride_ / image.width() : 1;
}

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
  for (int p = 0; p < static_cast<int>(copy->planes().size()); ++p) {
    int const in = pixelBytes(*image), out = pixelBytes(*copy);
    for (int y = 0; y < copy->planes()[p].height_; ++y)
      for (int x = 0; x < copy->planes()[p].width_; ++x)
        std::memcpy(copy->getPixelAddress(x * out, y, p), image->getPixelAddress(x * in, y, p),
                    std::min(in, out));
  }
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
// conversion, the reference picture within the format's loss.
TEST(ImageConversionTest, ConversionsKeepThePicture) {
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
  ASSERT_EQ(jpeg->data()[1], 0xD8);
  auto const mjpeg =
      wrapEncoded(image_testing::withoutHuffmanTables({jpeg->data(), jpeg->data() + jpeg->size()}),
                  ImageBuffer::IMAGE_MJPEG);
  ASSERT_EQ(mjpeg->width(), 66);
  struct Case {
    ImagePtr source;
    PF target;
    double luma, chroma;  // least PSNR against the reference
  } const cases[] = {
      {ref, ImageBuffer::IMAGE_BGRX32, 40, 35},
      {ref, ImageBuffer::IMAGE_ALIGNED_I420, 100, 100},
      {bgrx, ImageBuffer::IMAGE_I420, 40, 35},
      {fresh(bgrx, ImageBuffer::IMAGE_BGR24), ImageBuffer::IMAGE_I420, 40, 35},
      {fresh(bgrx, ImageBuffer::IMAGE_BGRA32), ImageBuffer::IMAGE_ALIGNED_I420, 40, 35},
      {fresh(bgrx, ImageBuffer::IMAGE_BGR24), ImageBuffer::IMAGE_BGRX32, 40, 35},
      {yuyv, ImageBuffer::IMAGE_I420, 100, 100},
      {yuyv, ImageBuffer::IMAGE_ALIGNED_I420, 100, 100},
      {ref, ImageBuffer::IMAGE_JPEG, 35, 30},
      {jpeg, ImageBuffer::IMAGE_I420, 35, 30},
      {mjpeg, ImageBuffer::IMAGE_ALIGNED_I420, 35, 30},
      {mjpeg, ImageBuffer::IMAGE_JPEG, 35, 30},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.source->format().pixel_format_ << " to " << c.target);
    ImagePtr result = convertTo(c.source, c.target);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->format().pixel_format_, c.target);
    EXPECT_EQ(result->width(), 66);
    if (c.target == ImageBuffer::IMAGE_BGRX32 || isEncoded(c.target))
      result = convertTo(fresh(result), ImageBuffer::IMAGE_I420);
    ASSERT_TRUE(result);
    EXPECT_GE(planePsnr(*ref, *result, 0), c.luma);
    for (int p = 1; p < 3; ++p) EXPECT_GE(planePsnr(*ref, *result, p), c.chroma);
  }
  // RGB24 has no way back: the same colours as BGRX, in R,G,B order, also
  // from YUYV through I420.
  for (ImagePtr const& source : {ImagePtr(ref), ImagePtr(yuyv)}) {
    ImagePtr rgb = convertTo(source, ImageBuffer::IMAGE_RGB24);
    ASSERT_TRUE(rgb);
    for (int x : {0, 31, 65}) {
      unsigned char const* b = bgrx->getPixelAddress(4 * x, 17, 0);
      unsigned char const* r = rgb->getPixelAddress(3 * x, 17, 0);
      EXPECT_EQ(std::vector<int>({b[2], b[1], b[0]}), std::vector<int>({r[0], r[1], r[2]})) << x;
    }
  }
}

TEST(ImageConversionTest, SameFormatIsTheSameImageAndPairsOutsideTheTableAreRefused) {
  auto aligned = makeTestI420(64, 48, ImageBuffer::IMAGE_ALIGNED_I420);
  EXPECT_EQ(ImageBufferConverter::easyConvert(formatOf(64, 48, ImageBuffer::IMAGE_I420), aligned),
            aligned);
  EXPECT_EQ(ImageBufferConverter::easyConvert(aligned->format(), nullptr), nullptr);

  testing::LogCapture log("image_converter:2");
  auto yuyv = std::make_shared<ImageBuffer>(16, 16, ImageBuffer::IMAGE_YUYV);
  EXPECT_TRUE(
      ImageBufferConverter::convert(formatOf(16, 16, ImageBuffer::IMAGE_BGRX32), yuyv).empty());
  EXPECT_TRUE(log.contains("Can't convert from YUYV to BGR4"));
  for (PF target : {ImageBuffer::IMAGE_YUYV, ImageBuffer::IMAGE_MJPEG, ImageBuffer::IMAGE_BGRA32})
    EXPECT_EQ(convertTo(makeTestI420(16, 16), target), nullptr) << target;
  EXPECT_EQ(
      convertTo(makeTestI420(16, 16, ImageBuffer::IMAGE_CONSTRAINED_I420), ImageBuffer::IMAGE_JPEG),
      nullptr);
  EXPECT_TRUE(log.contains("Can't convert from C420 to JPEG"));
}

TEST(ImageConversionTest, ConstrainedTargetTakesTheCentredWindow) {
  auto source = makeTestI420(655, 480);
  ImagePtr constrained = convertTo(source, ImageBuffer::IMAGE_CONSTRAINED_I420);
  ASSERT_TRUE(constrained);
  EXPECT_EQ(constrained->width(), 648);
  EXPECT_EQ(constrained->height(), 474);
  EXPECT_EQ(*constrained->getPixelAddress(0, 0, 0), *source->getPixelAddress(3, 3, 0));
  EXPECT_EQ(*constrained->getPixelAddress(647, 473, 0), *source->getPixelAddress(650, 476, 0));
  EXPECT_EQ(*constrained->getPixelAddress(5, 0, 1), *source->getPixelAddress(7, 1, 1));
  // The aligned copy of a plain image repeats its edges into the margins.
  auto odd = makeTestI420(641, 480);
  ImagePtr aligned = convertTo(odd, ImageBuffer::IMAGE_ALIGNED_I420);
  ASSERT_TRUE(aligned);
  EXPECT_EQ(*aligned->getPixelAddress(641, 9, 0), *odd->getPixelAddress(640, 9, 0));
}

TEST(ImageConversionTest, BadJpegDataIsRefusedWithoutAllocatingItsClaim) {
  testing::LogCapture log("image_converter:3");
  image_testing::Bytes garbage(300, 0x5A);
  for (int size : {65535, 4000}) {
    auto bad = wrapEncoded(garbage, ImageBuffer::IMAGE_JPEG, size, size);
    EXPECT_TRUE(
        ImageBufferConverter::convert(formatOf(size, size, ImageBuffer::IMAGE_I420), bad).empty());
  }
  EXPECT_TRUE(log.contains("Error decoding (M)JPEG header: "));
  EXPECT_TRUE(log.contains("Error converting from JPEG to YV12"));
  // A real frame whose stated size is not the size of its data.
  auto mislabelled = wrapEncoded(image_testing::makeJpeg(32, 32), ImageBuffer::IMAGE_MJPEG, 64, 64);
  EXPECT_EQ(convertTo(mislabelled, ImageBuffer::IMAGE_I420), nullptr);
  auto one_byte = wrapEncoded({0xFF}, ImageBuffer::IMAGE_MJPEG, 8, 8);
  EXPECT_EQ(convertTo(one_byte, ImageBuffer::IMAGE_JPEG), nullptr);
  EXPECT_TRUE(log.contains("Error converting from MJPG to JPEG"));
}

TEST(ImageConversionTest, ResultsCarryTheSourcesMetadataAndTokens) {
  auto source = makeTestI420(32, 32);
  source->setPriority(-1000);
  source->setStartTimestamp(Time::fromNSec(12345));
  auto tag = std::make_shared<TagEvent>();
  source->appendEventToMetadata(tag);
  bool released = false;
  source->addToken(TokenReference([&] { released = true; }));
  ImagePtr source_const = std::move(source);

  ImagePtr rgb = convertTo(source_const, ImageBuffer::IMAGE_RGB24);
  ImagePtr small =
      ImageBufferConverter::easyConvert(formatOf(16, 16, ImageBuffer::IMAGE_I420), source_const);
  ASSERT_TRUE(rgb && small);
  for (ImagePtr const& result : {rgb, small}) {
    EXPECT_EQ(result->getPriority(), -1000);
    EXPECT_EQ(result->getStartTimestamp(), Time::fromNSec(12345));
    EXPECT_EQ(result->getMetadataByTypeId(typeid(TagEvent)), tag);
    EXPECT_EQ(result->getMetadataMap().size(), 1u);
  }
  source_const.reset();
  rgb.reset();
  EXPECT_FALSE(released);  // `small` still holds the frame's token
  small.reset();
  EXPECT_TRUE(released);
}

// A cache hit shares the pixels of the first result (nothing is converted
// or allocated again); a failure is remembered; another I420 layout is made
// from a cached one.
TEST(ConversionCacheTest, RepeatsFailuresAndOtherLayoutsComeFromTheCache) {
  testing::LogCapture log("image_converter:8");
  auto source = makeTestI420(64, 32);
  ImagePtr first = convertTo(source, ImageBuffer::IMAGE_RGB24);
  log.clear();
  ImagePtr second = convertTo(source, ImageBuffer::IMAGE_RGB24);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second);
  EXPECT_EQ(first->data(), second->data());
  EXPECT_TRUE(log.contains("Got entry from the cache for "));
  EXPECT_EQ(countRuns(log), 0);
  // A converted image shares the cache: converting it back finds the source.
  ImagePtr back = convertTo(convertTo(source, ImageBuffer::IMAGE_BGRX32), ImageBuffer::IMAGE_I420);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->data(), source->data());

  log.clear();
  auto bad = wrapEncoded(image_testing::Bytes(64, 0x11), ImageBuffer::IMAGE_JPEG, 16, 16);
  EXPECT_EQ(convertTo(bad, ImageBuffer::IMAGE_I420), nullptr);
  EXPECT_EQ(convertTo(bad, ImageBuffer::IMAGE_I420), nullptr);
  EXPECT_EQ(countRuns(log), 1);

  auto yuyv = std::make_shared<ImageBuffer>(32, 16, ImageBuffer::IMAGE_YUYV);
  std::fill_n(yuyv->data(), yuyv->format().min_allocation_, 99);
  ImagePtr i420 = convertTo(yuyv, ImageBuffer::IMAGE_I420);
  log.clear();
  ImagePtr aligned = convertTo(yuyv, ImageBuffer::IMAGE_ALIGNED_I420);
  ASSERT_TRUE(i420 && aligned);
  EXPECT_TRUE(log.contains("Got approximate entry from the cache for "));
  EXPECT_EQ(planePsnr(*i420, *aligned, 0), 100.0);
}

TEST(ConversionCacheTest, ConcurrentRequestsConvertOnce) {
  testing::LogCapture log("image_converter:8");
  auto source = makeTestI420(320, 240);
  constexpr int kThreads = 4;
  std::atomic<int> ready{0};
  std::vector<ImagePtr> results(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      results[i] = convertTo(source, ImageBuffer::IMAGE_BGRX32);
    });
  }
  for (auto& thread : threads) thread.join();
  for (auto const& result : results) {
    ASSERT_TRUE(result);
    EXPECT_EQ(result->data(), results[0]->data());
  }
  EXPECT_EQ(countRuns(log), 1);
}

// The 2x2 average as the converter defines it, written out plainly.
std::vector<unsigned char> reference2x2(const ImageBuffer& src, int p, int dw, int dh) {
  ImageBuffer::Plane const& sp = src.planes()[p];
  float const sx = static_cast<float>(sp.width_) / dw;
  float const sy = static_cast<float>(sp.height_) / dh;
  std::vector<unsigned char> out;
  for (int y = 0; y < dh; ++y)
    for (int x = 0; x < dw; ++x) {
      int const c = std::clamp(static_cast<int>(x * sx), 0, sp.width_ - 2);
      int const r0 = std::min(sp.height_ - 1, static_cast<int>(y * sy));
      int const r1 = std::min(sp.height_ - 1, r0 + 1);
      auto at = [&](int cx, int ry) { return *src.getPixelAddress(cx, ry, p); };
      out.push_back(static_cast<unsigned char>(
          (at(c, r0) + at(c + 1, r0) + at(c, r1) + at(c + 1, r1) + 2) >> 2));
    }
  return out;
}

std::vector<unsigned char> planeBytes(const ImageBuffer& image, int p) {
  std::vector<unsigned char> out;
  for (int y = 0; y < image.planes()[p].height_; ++y)
    for (int x = 0; x < image.planes()[p].width_; ++x)
      out.push_back(*image.getPixelAddress(x, y, p));
  return out;
}

// Strong shrinking averages 2x2 blocks, mild shrinking is bilinear.
TEST(ImageResizeTest, ShrinkingAveragesOrInterpolates) {
  auto source = makeTestI420(1280, 720);
  image_testing::fillPlanes(*source,
                            [](int p, int x, int y) { return (x * 7 + y * 13 + p * 5) & 0xFF; });
  for (auto [w, h] : {std::pair{320, 180}, std::pair{640, 360}, std::pair{1000, 600}}) {
    ImagePtr small =
        ImageBufferConverter::easyConvert(formatOf(w, h, ImageBuffer::IMAGE_I420), source);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width(), w);
    EXPECT_EQ(small->height(), h);
    for (int p = 0; p < 3; ++p) {
      ImageBuffer::Plane const& sp = source->planes()[p];
      ImageBuffer::Plane const& dp = small->planes()[p];
      std::vector<unsigned char> expected(static_cast<size_t>(dp.width_) * dp.height_);
      if (w == 1000)
        libyuv::ScalePlane(source->getPixelAddress(0, 0, p), sp.stride_, sp.width_, sp.height_,
                           expected.data(), dp.width_, dp.width_, dp.height_,
                           libyuv::kFilterBilinear);
      else
        expected = reference2x2(*source, p, dp.width_, dp.height_);
      EXPECT_EQ(planeBytes(*small, p), expected) << w << "x" << h << " plane " << p;
    }
  }
}

// Never enlarges; packed pixels shrink whole; aligned targets are cropped to
// their aspect ratio; encoded targets are programming errors.
TEST(ImageResizeTest, LimitsOfResizing) {
  auto source = makeTestI420(640, 480, ImageBuffer::IMAGE_ALIGNED_I420);
  ImagePtr same =
      ImageBufferConverter::easyConvert(formatOf(1280, 960, ImageBuffer::IMAGE_I420), source);
  ASSERT_TRUE(same);
  EXPECT_EQ(same->width(), 640);
  EXPECT_EQ(same->data(), source->data());

  auto grey = std::make_shared<ImageBuffer>(64, 64, ImageBuffer::IMAGE_I420);
  image_testing::fillPlanes(*grey, [](int p, int, int) { return p == 0 ? 120 : 128; });
  ImagePtr rgb =
      ImageBufferConverter::easyConvert(formatOf(20, 20, ImageBuffer::IMAGE_RGB24), grey);
  ASSERT_TRUE(rgb);
  EXPECT_EQ(rgb->width(), 20);
  const unsigned char* px = rgb->getPixelAddress(3 * 10, 10, 0);
  EXPECT_EQ(px[0], px[1]);
  EXPECT_EQ(px[1], px[2]);

  ImagePtr square = ImageBufferConverter::easyConvert(
      formatOf(480, 480, ImageBuffer::IMAGE_ALIGNED_I420), source);
  ASSERT_TRUE(square);
  EXPECT_EQ(square->width(), 480);
  EXPECT_EQ(square->height(), 480);
  EXPECT_EQ(*square->getPixelAddress(0, 0, 0), *source->getPixelAddress(80, 0, 0));

  testing::AssertionCapture assertions;
  EXPECT_EQ(ImageBufferConverter::downsample(formatOf(32, 32, ImageBuffer::IMAGE_JPEG), source),
            nullptr);
  EXPECT_EQ(ImageBufferConverter::downsample(formatOf(32, 32, ImageBuffer::IMAGE_RGB24), source),
            nullptr);
  auto messages = assertions.messages();
  for (char const* text :
       {"Assertion failed: target_format.pixel_format_ != ImageBuffer::IMAGE_JPEG",
        "Assertion failed: source->planes().size() == target_format.planes_.size()"})
    EXPECT_NE(std::find(messages.begin(), messages.end(), text), messages.end()) << text;
}

TEST(QvideoBridgeTest, CopiesAndWrapsBothWaysAndRefusesOtherFormats) {
  auto source = makeTestI420(34, 20);
  qvideo::QvI420 copy(34, 20, 16);
  ImageBufferConverter::copyImageBufferToQvI420(source, &copy);
  EXPECT_EQ(copy.y().data_[5 * copy.y().stride_ + 7], *source->getPixelAddress(7, 5, 0));
  EXPECT_EQ(copy.v().data_[9 * copy.v().stride_ + 16], *source->getPixelAddress(16, 9, 2));
  auto back = ImageBufferConverter::copyQvI420ToImageBuffer(copy, ImageBuffer::IMAGE_I420);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->getPriority(), -1000);
  for (int p = 0; p < 3; ++p) EXPECT_EQ(planePsnr(*source, *back, p), 100.0);

  qvideo::QvI420 view;
  ImageBufferConverter::wrapImageBufferToQvI420(source, &view);
  EXPECT_EQ(view.u().data_, source->getPixelAddress(0, 0, 1));
  ImagePtr wrapped = ImageBufferConverter::wrapQvI420ToImageBuffer(copy);
  ASSERT_TRUE(wrapped);
  EXPECT_EQ(wrapped->getPixelAddress(0, 0, 2), copy.v().data_);
  EXPECT_EQ(wrapped->planes()[0].stride_, copy.y().stride_);
  qvideo::QvI420 centre(16, 10, 16);
  ImageBufferConverter::copyAndCropImageBufferToQvI420(source, &centre);
  EXPECT_EQ(centre.y().data_[0], *source->getPixelAddress(9, 5, 0));

  testing::LogCapture log("image_converter:1");
  ImageBufferConverter::copyImageBufferToQvI420(
      std::make_shared<ImageBuffer>(8, 8, ImageBuffer::IMAGE_RGB24), &copy);
  EXPECT_TRUE(log.contains("Invalid image format RGB3"));
  EXPECT_EQ(ImageBufferConverter::copyQvI420ToImageBuffer(copy, ImageBuffer::IMAGE_BGR24), nullptr);
}

TEST(QvideoBridgeTest, EncodedFramesRoundTripThroughQv1Images) {
  qvideo::QvI420 picture(16, 8, 16);
  for (int p = 0; p < 3; ++p)
    for (int y = 0; y < picture.plane(p).height_; ++y)
      std::fill_n(picture.plane(p).row(y), picture.plane(p).width_, 100 + p);
  auto frame = std::make_shared<qvideo::EncodedFrame>();
  ASSERT_TRUE(frame->storeI420(picture));
  auto image = ImageBufferConverter::createImageBufferFromQv1EncodedFrame(frame);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->format().pixel_format_, ImageBuffer::IMAGE_QV1);
  EXPECT_EQ(image->getPriority(), -1000);
  auto parsed = ImageBufferConverter::createQv1EncodedFrameFromImageBuffer(image);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->payload(), frame->payload());
  auto junk = wrapEncoded(image_testing::Bytes(30, 7), ImageBuffer::IMAGE_QV1, 1, 1);
  EXPECT_EQ(ImageBufferConverter::createQv1EncodedFrameFromImageBuffer(junk), nullptr);
}

}  // namespace
}  // namespace dravo::media
