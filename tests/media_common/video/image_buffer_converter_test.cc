#include "media_common/video/image_buffer_converter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using ImagePtr = std::shared_ptr<ImageBuffer const>;
using image_testing::formatOf;
using image_testing::makeTestI420;
using image_testing::planePsnr;
using image_testing::wrapEncoded;
using PF = ImageBuffer::PixelFormat;

ImagePtr convertTo(ImagePtr img, PF f) {
  return ImageBufferConverter::easyConvert(f, std::move(img));
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

TEST(ImageConversionTest, ConstrainedTargetTakesTheCentredWindow) {
  auto source = makeTestI420(655, 480);
  ImagePtr constrained = convertTo(source, ImageBuffer::IMAGE_CONSTRAINED_I420);
  ASSERT_TRUE(constrained);
  EXPECT_EQ(constrained->width() * 1000 + constrained->height(), 648474);
  EXPECT_EQ(*constrained->getPixelAddress(647, 473, 0), *source->getPixelAddress(650, 476, 0));
  EXPECT_EQ(*constrained->getPixelAddress(5, 0, 1), *source->getPixelAddress(7, 1, 1));
}

// Pairs outside the table and bad JPEG data are refused, the latter without
// allocating what its header claims; the same format (or a larger size) is
// the same picture.
TEST(ImageConversionTest, OtherPairsAndBadJpegDataAreRefused) {
  auto aligned = makeTestI420(64, 48, ImageBuffer::IMAGE_ALIGNED_I420);
  auto resize = [&](int w, int h) {
    return ImageBufferConverter::easyConvert(formatOf(w, h, PF::IMAGE_I420), aligned);
  };
  EXPECT_EQ(resize(64, 48), aligned);
  EXPECT_EQ(resize(128, 96)->data(), aligned->data());  // never enlarged
  testing::LogCapture log("image_converter:3");
  EXPECT_TRUE(ImageBufferConverter::convert(formatOf(16, 16, ImageBuffer::IMAGE_BGRX32),
                                            std::make_shared<ImageBuffer>(16, 16, PF::IMAGE_YUYV))
                  .empty());
  EXPECT_TRUE(log.contains("Can't convert from YUYV to BGR4"));
  EXPECT_EQ(convertTo(aligned, ImageBuffer::IMAGE_MJPEG), nullptr);
  for (int size : {65535, 4000})  // beyond the limit, or an undecodable header
    EXPECT_EQ(convertTo(wrapEncoded(image_testing::Bytes(300, 0x5A), PF::IMAGE_JPEG, size, size),
                        PF::IMAGE_I420),
              nullptr);
  // Not its real size.
  EXPECT_EQ(convertTo(wrapEncoded(image_testing::makeJpeg(32, 32), PF::IMAGE_MJPEG, 64, 64),
                      PF::IMAGE_I420),
            nullptr);
  EXPECT_EQ(convertTo(wrapEncoded({0xFF}, PF::IMAGE_MJPEG, 8, 8), ImageBuffer::IMAGE_JPEG),
            nullptr);
  EXPECT_TRUE(log.contains("Error decoding (M)JPEG header: "));
  EXPECT_TRUE(log.contains("Error converting from JPEG to YV12"));
  EXPECT_TRUE(log.contains("Error converting from MJPG to JPEG"));
}

// A cache hit shares the pixels of the first result (nothing is converted
// or allocated again); a failure is remembered; another I420 layout is made
// from a cached one.
TEST(ConversionCacheTest, RepeatsFailuresAndOtherLayoutsComeFromTheCache) {
  testing::LogCapture log("image_converter:8");
  auto source = makeTestI420(64, 32);
  ImagePtr first = convertTo(source, ImageBuffer::IMAGE_RGB24);
  log.clear();
  EXPECT_EQ(convertTo(source, ImageBuffer::IMAGE_RGB24)->data(), first->data());
  EXPECT_TRUE(log.contains("Got entry from the cache for "));
  EXPECT_EQ(countRuns(log), 0);
  // A converted image shares the cache: converting it back finds the source.
  EXPECT_EQ(convertTo(convertTo(source, PF::IMAGE_BGRX32), PF::IMAGE_I420)->data(), source->data());

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
  EXPECT_TRUE(log.contains("Got approximate entry from the cache for "));
  EXPECT_EQ(planePsnr(*i420, *aligned, 0), 100.0);
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

}  // namespace
}  // namespace dravo::media
