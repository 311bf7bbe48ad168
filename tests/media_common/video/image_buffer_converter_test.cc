#include "media_common/video/image_buffer_converter.h"

#include <gtest/gtest.h>
#include <libyuv/scale.h>

#include <atomic>
#include <thread>

#include "media_common/video/image_resize.h"
#include "qvideo/encoded_frame.h"
#include "qvideo/qv_i420.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using FormatType = ImageBuffer::FormatType;
using ImagePtr = std::shared_ptr<ImageBuffer const>;
using image_testing::makeTestI420;
using image_testing::planePsnr;

FormatType formatOf(int w, int h, ImageBuffer::PixelFormat f) {
  return ImageBuffer(w, h, f, nullptr, nullptr, 0).format();
}

ImagePtr convertTo(ImagePtr img, ImageBuffer::PixelFormat f) {
  return ImageBufferConverter::easyConvert(f, std::move(img));
}

class TagEvent : public Event {};

// --- Format changes --------------------------------------------------------

TEST(ImageConversionTest, NothingToDoReturnsTheSameImage) {
  auto aligned = makeTestI420(640, 480, ImageBuffer::IMAGE_ALIGNED_I420);
  EXPECT_EQ(ImageBufferConverter::easyConvert(formatOf(640, 480, ImageBuffer::IMAGE_I420), aligned),
            aligned);
  auto plain = makeTestI420(64, 48);
  EXPECT_EQ(ImageBufferConverter::easyConvert(plain->format(), plain), plain);
  EXPECT_EQ(ImageBufferConverter::easyConvert(plain->format(), nullptr), nullptr);
}

TEST(ImageConversionTest, I420ToColourAndBackStaysClose) {
  auto source = makeTestI420(66, 34);
  ImagePtr bgrx = convertTo(source, ImageBuffer::IMAGE_BGRX32);
  ImagePtr rgb = convertTo(source, ImageBuffer::IMAGE_RGB24);
  ASSERT_TRUE(bgrx && rgb);
  EXPECT_EQ(bgrx->format().pixel_format_, ImageBuffer::IMAGE_BGRX32);
  // Same colours, byte orders B,G,R,X and R,G,B.
  for (int x : {0, 31, 65}) {
    const unsigned char* b = bgrx->getPixelAddress(4 * x, 17, 0);
    const unsigned char* r = rgb->getPixelAddress(3 * x, 17, 0);
    EXPECT_EQ(b[0], r[2]);
    EXPECT_EQ(b[1], r[1]);
    EXPECT_EQ(b[2], r[0]);
  }
  // Fresh BGR24 and BGRA32 images (no shared cache) made by hand from the
  // BGRX picture, so that converting them really runs the conversions.
  auto bgr = std::make_shared<ImageBuffer>(66, 34, ImageBuffer::IMAGE_BGR24);
  auto bgra = std::make_shared<ImageBuffer>(66, 34, ImageBuffer::IMAGE_BGRA32);
  for (int y = 0; y < 34; ++y)
    for (int x = 0; x < 66; ++x) {
      std::copy_n(bgrx->getPixelAddress(4 * x, y, 0), 3, bgr->getPixelAddress(3 * x, y, 0));
      std::copy_n(bgrx->getPixelAddress(4 * x, y, 0), 4, bgra->getPixelAddress(4 * x, y, 0));
    }
  ImagePtr from_bgr = convertTo(bgr, ImageBuffer::IMAGE_I420);
  ImagePtr from_bgra = convertTo(bgra, ImageBuffer::IMAGE_ALIGNED_I420);
  ImagePtr expanded = convertTo(bgr, ImageBuffer::IMAGE_BGRX32);
  ASSERT_TRUE(from_bgr && from_bgra && expanded);
  EXPECT_GT(planePsnr(*source, *from_bgr, 0), 40.0);
  EXPECT_GT(planePsnr(*source, *from_bgr, 1), 35.0);
  EXPECT_GT(planePsnr(*source, *from_bgr, 2), 35.0);
  for (int p = 0; p < 3; ++p) EXPECT_EQ(planePsnr(*from_bgr, *from_bgra, p), 100.0);
  for (int x = 0; x < 66; ++x)
    EXPECT_TRUE(std::equal(expanded->getPixelAddress(4 * x, 5, 0),
                           expanded->getPixelAddress(4 * x, 5, 0) + 3,
                           bgrx->getPixelAddress(4 * x, 5, 0)));
}

TEST(ImageConversionTest, YuyvToI420IsExactForVerticallyUniformChroma) {
  auto source = makeTestI420(32, 8);
  auto yuyv = std::make_shared<ImageBuffer>(32, 8, ImageBuffer::IMAGE_YUYV);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 32; x += 2) {
      unsigned char* out = yuyv->getPixelAddress(2 * x, y, 0);
      out[0] = *source->getPixelAddress(x, y, 0);
      out[1] = *source->getPixelAddress(x / 2, y / 2, 1);
      out[2] = *source->getPixelAddress(x + 1, y, 0);
      out[3] = *source->getPixelAddress(x / 2, y / 2, 2);
    }
  for (auto target : {ImageBuffer::IMAGE_I420, ImageBuffer::IMAGE_ALIGNED_I420,
                      ImageBuffer::IMAGE_CONSTRAINED_I420}) {
    ImagePtr i420 = convertTo(yuyv, target);
    ASSERT_TRUE(i420);
    for (int p = 0; p < 3; ++p) EXPECT_EQ(planePsnr(*source, *i420, p), 100.0);
  }
  // Not in the table directly, but through I420.
  ImagePtr rgb = convertTo(yuyv, ImageBuffer::IMAGE_RGB24);
  ASSERT_TRUE(rgb);
  EXPECT_EQ(rgb->format().pixel_format_, ImageBuffer::IMAGE_RGB24);
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

  auto odd = makeTestI420(641, 480);
  ImagePtr cut = convertTo(odd, ImageBuffer::IMAGE_CONSTRAINED_I420);
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->width(), 640);
  EXPECT_EQ(cut->height(), 480);
  // The aligned copy of a plain image repeats its edges into the margins.
  ImagePtr aligned = convertTo(odd, ImageBuffer::IMAGE_ALIGNED_I420);
  ASSERT_TRUE(aligned);
  EXPECT_EQ(*aligned->getPixelAddress(641, 9, 0), *odd->getPixelAddress(640, 9, 0));
}

TEST(ImageConversionTest, JpegEncodeDecodeAndMotionJpeg) {
  auto source = makeTestI420(96, 64);
  ImagePtr jpeg = convertTo(source, ImageBuffer::IMAGE_JPEG);
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->format().pixel_format_, ImageBuffer::IMAGE_JPEG);
  EXPECT_GT(jpeg->size(), 100);
  EXPECT_EQ(jpeg->data()[0], 0xFF);
  EXPECT_EQ(jpeg->data()[1], 0xD8);

  // Converting `jpeg` itself would find the source in the shared cache;
  // decode a fresh image of its bytes.
  image_testing::Bytes const bytes(jpeg->data(), jpeg->data() + jpeg->size());
  ImagePtr decoded = convertTo(image_testing::wrapEncoded(bytes, ImageBuffer::IMAGE_JPEG),
                               ImageBuffer::IMAGE_I420);
  ASSERT_TRUE(decoded);
  EXPECT_GT(planePsnr(*source, *decoded, 0), 35.0);
  EXPECT_GT(planePsnr(*source, *decoded, 1), 30.0);

  auto mjpeg = image_testing::wrapEncoded(image_testing::withoutHuffmanTables(bytes),
                                          ImageBuffer::IMAGE_MJPEG);
  ASSERT_EQ(mjpeg->width(), 96);
  ImagePtr from_mjpeg = convertTo(mjpeg, ImageBuffer::IMAGE_CONSTRAINED_I420);
  ASSERT_TRUE(from_mjpeg);
  for (int p = 0; p < 3; ++p) EXPECT_EQ(planePsnr(*decoded, *from_mjpeg, p), 100.0);

  ImagePtr completed = convertTo(mjpeg, ImageBuffer::IMAGE_JPEG);
  ASSERT_TRUE(completed);
  EXPECT_EQ(completed->size(), mjpeg->size() + 420);
  ImagePtr redecoded = convertTo(completed, ImageBuffer::IMAGE_I420);
  ASSERT_TRUE(redecoded);
  EXPECT_EQ(planePsnr(*decoded, *redecoded, 0), 100.0);
}

TEST(ImageConversionTest, BadJpegDataIsRefusedWithoutAllocatingItsClaim) {
  testing::LogCapture log("image_converter:3");
  image_testing::Bytes garbage(300, 0x5A);
  auto huge = image_testing::wrapEncoded(garbage, ImageBuffer::IMAGE_JPEG, 65535, 65535);
  EXPECT_TRUE(
      ImageBufferConverter::convert(formatOf(65535, 65535, ImageBuffer::IMAGE_I420), huge).empty());
  auto bad = image_testing::wrapEncoded(garbage, ImageBuffer::IMAGE_JPEG, 4000, 3000);
  EXPECT_TRUE(
      ImageBufferConverter::convert(formatOf(4000, 3000, ImageBuffer::IMAGE_I420), bad).empty());
  EXPECT_TRUE(log.contains("Error decoding (M)JPEG header: "));
  EXPECT_TRUE(log.contains("Error converting from JPEG to YV12"));

  // A real frame whose stated size is not the size of its data.
  auto mislabelled =
      image_testing::wrapEncoded(image_testing::makeJpeg(32, 32), ImageBuffer::IMAGE_MJPEG, 64, 64);
  EXPECT_EQ(convertTo(mislabelled, ImageBuffer::IMAGE_I420), nullptr);

  auto one_byte = image_testing::wrapEncoded({0xFF}, ImageBuffer::IMAGE_MJPEG, 8, 8);
  EXPECT_EQ(convertTo(one_byte, ImageBuffer::IMAGE_JPEG), nullptr);
  EXPECT_TRUE(log.contains("Error converting from MJPG to JPEG"));
}

TEST(ImageConversionTest, PairsOutsideTheTableAreRefused) {
  testing::LogCapture log("image_converter:2");
  auto yuyv = std::make_shared<ImageBuffer>(16, 16, ImageBuffer::IMAGE_YUYV);
  EXPECT_TRUE(
      ImageBufferConverter::convert(formatOf(16, 16, ImageBuffer::IMAGE_BGRX32), yuyv).empty());
  EXPECT_TRUE(log.contains("Can't convert from YUYV to BGR4"));
  auto source = makeTestI420(16, 16);
  EXPECT_EQ(convertTo(source, ImageBuffer::IMAGE_YUYV), nullptr);
  EXPECT_EQ(convertTo(source, ImageBuffer::IMAGE_MJPEG), nullptr);
  EXPECT_EQ(convertTo(source, ImageBuffer::IMAGE_BGRA32), nullptr);
  auto constrained = makeTestI420(16, 16, ImageBuffer::IMAGE_CONSTRAINED_I420);
  EXPECT_EQ(convertTo(constrained, ImageBuffer::IMAGE_JPEG), nullptr);
  EXPECT_TRUE(log.contains("Can't convert from C420 to JPEG"));
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

// --- The conversion cache --------------------------------------------------

TEST(ConversionCacheTest, ASecondRequestIsServedFromTheCache) {
  testing::LogCapture log("image_converter:8");
  auto source = makeTestI420(64, 32);
  ImagePtr first = convertTo(source, ImageBuffer::IMAGE_RGB24);
  log.clear();
  ImagePtr second = convertTo(source, ImageBuffer::IMAGE_RGB24);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second);
  EXPECT_EQ(first->data(), second->data());
  EXPECT_TRUE(log.contains("Got entry from the cache for "));
  EXPECT_FALSE(log.contains("Running conversion function"));

  ImagePtr other = convertTo(source, ImageBuffer::IMAGE_BGRX32);
  ASSERT_TRUE(other);
  EXPECT_NE(other->data(), first->data());
  // A converted image shares the cache: converting it back finds the source.
  ImagePtr back = convertTo(other, ImageBuffer::IMAGE_I420);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->data(), source->data());
}

TEST(ConversionCacheTest, AFailureIsRememberedAndNotRetried) {
  testing::LogCapture log("image_converter:8");
  auto bad =
      image_testing::wrapEncoded(image_testing::Bytes(64, 0x11), ImageBuffer::IMAGE_JPEG, 16, 16);
  EXPECT_EQ(convertTo(bad, ImageBuffer::IMAGE_I420), nullptr);
  EXPECT_EQ(convertTo(bad, ImageBuffer::IMAGE_I420), nullptr);
  int runs = 0;
  for (auto const& message : log.messages("image_converter"))
    runs += message.rfind("Running conversion function", 0) == 0;
  EXPECT_EQ(runs, 1);
}

TEST(ConversionCacheTest, AnotherI420LayoutIsMadeFromACachedOne) {
  auto yuyv = std::make_shared<ImageBuffer>(32, 16, ImageBuffer::IMAGE_YUYV);
  std::fill_n(yuyv->data(), yuyv->format().min_allocation_, 99);
  ImagePtr i420 = convertTo(yuyv, ImageBuffer::IMAGE_I420);
  testing::LogCapture log("image_converter:6");
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
  int runs = 0;
  for (auto const& message : log.messages("image_converter"))
    runs += message.rfind("Running conversion function", 0) == 0;
  EXPECT_EQ(runs, 1);
}

// --- Resizing --------------------------------------------------------------

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

TEST(ImageResizeTest, StrongShrinkingAveragesTwoByTwoBlocks) {
  auto source = makeTestI420(1280, 720);
  image_testing::fillPlanes(*source,
                            [](int p, int x, int y) { return (x * 7 + y * 13 + p * 5) & 0xFF; });
  for (auto [w, h] : {std::pair{320, 180}, std::pair{640, 360}}) {
    ImagePtr small =
        ImageBufferConverter::easyConvert(formatOf(w, h, ImageBuffer::IMAGE_I420), source);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width(), w);
    EXPECT_EQ(small->height(), h);
    for (int p = 0; p < 3; ++p) {
      EXPECT_EQ(planeBytes(*small, p),
                reference2x2(*source, p, small->planes()[p].width_, small->planes()[p].height_))
          << w << "x" << h << " plane " << p;
    }
  }
}

TEST(ImageResizeTest, MildShrinkingIsBilinear) {
  auto source = makeTestI420(1280, 720);
  ImagePtr scaled =
      ImageBufferConverter::easyConvert(formatOf(1000, 600, ImageBuffer::IMAGE_I420), source);
  ASSERT_TRUE(scaled);
  for (int p = 0; p < 3; ++p) {
    ImageBuffer::Plane const& sp = source->planes()[p];
    ImageBuffer::Plane const& dp = scaled->planes()[p];
    std::vector<unsigned char> expected(static_cast<size_t>(dp.width_) * dp.height_);
    libyuv::ScalePlane(source->getPixelAddress(0, 0, p), sp.stride_, sp.width_, sp.height_,
                       expected.data(), dp.width_, dp.width_, dp.height_, libyuv::kFilterBilinear);
    EXPECT_EQ(planeBytes(*scaled, p), expected);
  }
}

TEST(ImageResizeTest, NeverEnlargesAndScalesPackedPixelsWhole) {
  auto source = makeTestI420(320, 240);
  ImagePtr same =
      ImageBufferConverter::easyConvert(formatOf(640, 480, ImageBuffer::IMAGE_I420), source);
  ASSERT_TRUE(same);
  EXPECT_EQ(same->width(), 320);
  EXPECT_EQ(same->height(), 240);
  EXPECT_EQ(same->data(), source->data());

  // A grey picture stays grey in every channel when shrunk as RGB.
  auto grey = std::make_shared<ImageBuffer>(64, 64, ImageBuffer::IMAGE_I420);
  image_testing::fillPlanes(*grey, [](int p, int, int) { return p == 0 ? 120 : 128; });
  ImagePtr rgb =
      ImageBufferConverter::easyConvert(formatOf(20, 20, ImageBuffer::IMAGE_RGB24), grey);
  ASSERT_TRUE(rgb);
  EXPECT_EQ(rgb->width(), 20);
  const unsigned char* px = rgb->getPixelAddress(3 * 10, 10, 0);
  EXPECT_EQ(px[0], px[1]);
  EXPECT_EQ(px[1], px[2]);
}

TEST(ImageResizeTest, AlignedTargetsAreCroppedToTheirAspectRatio) {
  auto source = makeTestI420(640, 480, ImageBuffer::IMAGE_ALIGNED_I420);
  ImagePtr square = ImageBufferConverter::easyConvert(
      formatOf(480, 480, ImageBuffer::IMAGE_ALIGNED_I420), source);
  ASSERT_TRUE(square);
  EXPECT_EQ(square->width(), 480);
  EXPECT_EQ(square->height(), 480);
  EXPECT_EQ(*square->getPixelAddress(0, 0, 0), *source->getPixelAddress(80, 0, 0));

  ImagePtr small = ImageBufferConverter::easyConvert(
      formatOf(320, 240, ImageBuffer::IMAGE_ALIGNED_I420), source);
  ASSERT_TRUE(small);
  EXPECT_EQ(small->format().pixel_format_, ImageBuffer::IMAGE_ALIGNED_I420);
  EXPECT_EQ(small->width(), 320);
  EXPECT_NEAR(*small->getPixelAddress(160, 120, 0), *source->getPixelAddress(320, 240, 0), 2);
}

TEST(ImageResizeTest, EncodedTargetsAndPlaneMismatchesAreProgrammingErrors) {
  testing::AssertionCapture assertions;
  auto source = makeTestI420(64, 64);
  EXPECT_EQ(ImageBufferConverter::downsample(formatOf(32, 32, ImageBuffer::IMAGE_JPEG), source),
            nullptr);
  EXPECT_EQ(ImageBufferConverter::downsample(formatOf(32, 32, ImageBuffer::IMAGE_RGB24), source),
            nullptr);
  auto messages = assertions.messages();
  EXPECT_NE(std::find(messages.begin(), messages.end(),
                      "Assertion failed: target_format.pixel_format_ != ImageBuffer::IMAGE_JPEG"),
            messages.end());
  EXPECT_NE(std::find(messages.begin(), messages.end(),
                      "Assertion failed: source->planes().size() == target_format.planes_.size()"),
            messages.end());
}

// --- Bridges to qvideo -----------------------------------------------------

TEST(QvideoBridgeTest, CopiesAndWrapsBothWays) {
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
}

TEST(QvideoBridgeTest, RefusesImagesThatAreNotI420) {
  testing::LogCapture log("image_converter:1");
  auto rgb = std::make_shared<ImageBuffer>(8, 8, ImageBuffer::IMAGE_RGB24);
  qvideo::QvI420 dst(8, 8, 16);
  ImageBufferConverter::copyImageBufferToQvI420(rgb, &dst);
  EXPECT_TRUE(log.contains("Invalid image format RGB3"));
  EXPECT_EQ(ImageBufferConverter::copyQvI420ToImageBuffer(dst, ImageBuffer::IMAGE_BGR24), nullptr);
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
  EXPECT_EQ(parsed->width(), 16);
  EXPECT_EQ(parsed->payload(), frame->payload());

  auto junk = image_testing::wrapEncoded(image_testing::Bytes(30, 7), ImageBuffer::IMAGE_QV1, 1, 1);
  EXPECT_EQ(ImageBufferConverter::createQv1EncodedFrameFromImageBuffer(junk), nullptr);
}

}  // namespace
}  // namespace dravo::media
