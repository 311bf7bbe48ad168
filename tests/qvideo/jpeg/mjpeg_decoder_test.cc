#include "qvideo/jpeg/mjpeg_decoder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <functional>
#include <future>
#include <tuple>

#include "tests/qvideo/test_planes.h"
#include "tests/support/capture.h"

namespace dravo::jpeg {
namespace {

using qvideo::testing::TestI420;

using Bytes = std::vector<uint8_t>;

// A width x height JPEG from TurboJPEG of the BGR picture `pixel` draws,
// by default a gradient.
Bytes encodeJpeg(int width, int height, int subsampling = TJSAMP_420,
                 std::function<uint8_t(int x, int y, int c)> pixel = nullptr) {
  if (!pixel)
    pixel = [=](int x, int y, int c) {
      return static_cast<uint8_t>(c == 0 ? x * 255 / width : c == 1 ? y * 255 / height : x + y);
    };
  Bytes bgr(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = pixel(i / 3 % width, i / 3 / width, i % 3);
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  tjhandle handle = tjInitCompress();
  EXPECT_EQ(0, tjCompress2(handle, bgr.data(), width, 0, height, TJPF_BGR, &jpeg, &size,
                           subsampling, 90, 0));
  tjDestroy(handle);
  Bytes out(jpeg, jpeg + size);
  tjFree(jpeg);
  return out;
}

// Offsets of the Huffman table segments before the scan.
std::vector<size_t> huffmanTables(const Bytes& jpeg) {
  std::vector<size_t> found;
  for (size_t pos = 2; pos + 4 <= jpeg.size() && jpeg[pos + 1] != 0xDA;
       pos += 2 + (size_t{jpeg[pos + 2]} << 8 | jpeg[pos + 3]))
    if (jpeg[pos + 1] == 0xC4) found.push_back(pos);
  return found;
}

bool decode(const Bytes& jpeg, int width, int height, bool motion_jpeg, TestI420* out) {
  return decompressMJPEG(jpeg.data(), jpeg.size(), width, height, motion_jpeg, out->y_.data(),
                         out->y_.stride_, out->u_.data(), out->u_.stride_, out->v_.data(),
                         out->v_.stride_);
}

class MjpegDecoderTest : public ::testing::Test {
 protected:
  // Level 9 too: warnings that the throttle holds back still arrive, finer.
  testing::LogCapture log_{"mjpeg_decoder:9"};
};

class MjpegSubsamplingTest : public MjpegDecoderTest,
                             public ::testing::WithParamInterface<std::tuple<int, int, int>> {};

TEST_P(MjpegSubsamplingTest, FrameWithoutTablesDecodesLikeTheOriginal) {
  auto const [width, height, subsampling] = GetParam();
  Bytes const original = encodeJpeg(width, height, subsampling);
  Bytes stripped = original;
  for (size_t pos : huffmanTables(original)) stripped[pos + 1] = 0xFE;  // now a comment
  ASSERT_NE(stripped, original);

  TestI420 expected(width, height), actual(width, height);
  ASSERT_TRUE(decode(original, width, height, false, &expected));
  ASSERT_TRUE(decode(stripped, width, height, true, &actual));
  for (auto plane : {&TestI420::y_, &TestI420::u_, &TestI420::v_})
    EXPECT_EQ((expected.*plane).bytes_, (actual.*plane).bytes_) << "margins included";
  EXPECT_TRUE(expected.marginsUntouched());

  // A solid colour comes out in limited-range BT.601: red, or white in gray.
  bool const gray = subsampling == TJSAMP_GRAY;
  Bytes const solid = encodeJpeg(width, height, subsampling,
                                 [&](int, int, int c) { return gray || c == 2 ? 255 : 0; });
  ASSERT_TRUE(decode(solid, width, height, true, &actual));
  EXPECT_NEAR(actual.y_.at(5, 5), gray ? 235 : 81, 2);
  EXPECT_NEAR(actual.u_.at(3, 3), gray ? 128 : 90, 2);
  EXPECT_NEAR(actual.v_.at(3, 3), gray ? 128 : 240, 2);
}

INSTANTIATE_TEST_SUITE_P(Layouts, MjpegSubsamplingTest,
                         ::testing::Values(std::make_tuple(17, 9, TJSAMP_420),
                                           std::make_tuple(17, 9, TJSAMP_422),
                                           std::make_tuple(33, 15, TJSAMP_444),
                                           std::make_tuple(20, 12, TJSAMP_440),
                                           std::make_tuple(17, 9, TJSAMP_GRAY)));

TEST_F(MjpegDecoderTest, BadFramesAndDestinationsAreRefusedWithoutWriting) {
  Bytes const jpeg = encodeJpeg(64, 32);
  TestI420 out(64, 32);
  // Copies of exactly the cut length, so an over-read is caught.
  for (size_t length : {size_t{0}, size_t{2}, size_t{100}, jpeg.size() - 1})
    EXPECT_FALSE(decode(Bytes(jpeg.begin(), jpeg.begin() + length), 64, 32, true, &out)) << length;
  EXPECT_FALSE(decode(Bytes(500, 0x37), 64, 32, false, &out));
  // A segment whose length runs past the end of the data.
  EXPECT_FALSE(decode({0xFF, 0xD8, 0xFF, 0xE0, 0x7F, 0xFF, 0x00, 0x00}, 64, 32, true, &out));

  // Wrong sizes, a missing plane, a short stride: refused before any write.
  for (auto [width, height, y, y_stride] :
       std::vector<std::tuple<int, int, uint8_t*, int>>{{64, 30, out.y_.data(), out.y_.stride_},
                                                        {65, 32, out.y_.data(), out.y_.stride_},
                                                        {64, 32, nullptr, 64},
                                                        {64, 32, out.y_.data(), 63},
                                                        {0, 32, out.y_.data(), 64}})
    EXPECT_FALSE(decompressMJPEG(jpeg.data(), jpeg.size(), width, height, true, y, y_stride,
                                 out.u_.data(), out.u_.stride_, out.v_.data(), out.v_.stride_))
        << width << "x" << height << " stride " << y_stride;
  EXPECT_TRUE(log_.contains("JPEG frame is 64x32, expected 64x30"));
  EXPECT_TRUE(out.marginsUntouched());
}

// Each thread has its own codec: a frame with broken tables (255 codes of
// length 1 claimed) fails without spoiling the next, good frame.
TEST_F(MjpegDecoderTest, ThreadsDecodeAtTheSameTimeAndRecoverFromBrokenTables) {
  Bytes const jpeg = encodeJpeg(64, 32);
  Bytes broken = jpeg;
  for (size_t pos : huffmanTables(jpeg)) broken[pos + 5] = 0xFF;
  TestI420 expected(64, 32);
  ASSERT_TRUE(decode(jpeg, 64, 32, false, &expected));
  auto work = [&] {
    bool all_right = true;
    for (int round = 0; round < 20; ++round) {
      TestI420 out(64, 32);
      all_right &= !decode(broken, 64, 32, true, &out) && decode(jpeg, 64, 32, true, &out) &&
                   expected.y_.bytes_ == out.y_.bytes_ && expected.v_.bytes_ == out.v_.bytes_;
    }
    return all_right;
  };
  auto other = std::async(std::launch::async, work);
  EXPECT_TRUE(work());
  EXPECT_TRUE(other.get());
}

}  // namespace
}  // namespace dravo::jpeg
