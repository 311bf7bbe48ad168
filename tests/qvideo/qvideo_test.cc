// qvideo: I420 images, low-level conversions, QV1 frames, the
// MJPEG decoder and JPEG range mapping, on plane buffers whose unwritten
// bytes show.

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <tuple>
#include <vector>

#include "qvideo/encoded_frame.h"
#include "qvideo/jpeg/mjpeg_decoder.h"
#include "qvideo/jpeg/yuv_range.h"
#include "qvideo/low_level.h"
#include "qvideo/qv_i420.h"
#include "tests/support/capture.h"

namespace qvideo {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kCanary = 0xA5;

// `row_bytes` of picture per row, 7 canary bytes after each row and one
// spare canary row below the picture.
struct TestPlane {
  TestPlane(int row_bytes, int rows)
      : row_bytes_(row_bytes),
        rows_(rows),
        stride_(row_bytes + 7),
        bytes_(stride_ * (rows + 1), kCanary) {}
  uint8_t* data() { return bytes_.data(); }
  uint8_t& at(int x, int y) { return bytes_[y * stride_ + x]; }
  void fill(const std::function<uint8_t(int x, int y)>& value) {
    for (int y = 0; y < rows_; ++y)
      for (int x = 0; x < row_bytes_; ++x) at(x, y) = value(x, y);
  }
  // Every byte outside the picture still holds the canary.
  bool marginUntouched() const {
    for (int y = 0; y <= rows_; ++y)
      for (int x = 0; x < stride_; ++x)
        if ((x >= row_bytes_ || y >= rows_) && bytes_[y * stride_ + x] != kCanary) return false;
    return true;
  }
  int row_bytes_, rows_, stride_;
  Bytes bytes_;
};

// Y, U and V planes of a width x height I420 picture.
struct TestI420 {
  TestI420(int width, int height)
      : y_(width, height), u_((width + 1) / 2, (height + 1) / 2), v_(u_) {}
  bool marginsUntouched() const {
    return y_.marginUntouched() && u_.marginUntouched() && v_.marginUntouched();
  }
  TestPlane y_, u_, v_;
};

TEST(QvI420Test, PlanesAreAlignedAndPaddedWithTheirEdgesAndBadLayoutsRefused) {
  QvI420 image(17, 9, 16);
  auto dummy = QvI420::createDummyImage(17, 9, 16);
  ASSERT_NE(dummy, nullptr);
  for (int i = 0; i < 3; ++i) {
    const QvGray8& plane = image.plane(i);
    EXPECT_EQ(plane.width_ * 100 + plane.height_, i == 0 ? 1709 : 905) << i;
    EXPECT_EQ((reinterpret_cast<uintptr_t>(plane.data_) | plane.stride_) % 16, 0u) << i;
    EXPECT_EQ(dummy->plane(i).data_ - dummy->data(), plane.data_ - image.data()) << "same layout";
    for (int y = 0; y < plane.height_; ++y)
      for (int x = 0; x < plane.width_; ++x)
        plane.row(y)[x] = static_cast<uint8_t>(i * 100 + 10 * y + x);
  }
  // The picture, then its edge samples repeated over the whole padded area
  // (AddressSanitizer reports a plane smaller than its padding).
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
  // Wrapped memory stays the caller's (AddressSanitizer would flag a free of
  // vector memory): Y 4x2 stride 6 at 0, U and V 2x1 stride 3 at 12 and 15.
  std::vector<uint8_t> memory(18);
  EXPECT_TRUE(image.init(memory.data(), 4, 2, 0, 12, 15, 6, 3) && image.v().data_ == &memory[15]);
  EXPECT_FALSE(image.init(memory.data(), 4, 2, 0, 12, 15, 3, 2));  // Y stride < width
  EXPECT_FALSE(image.init(memory.data(), 4, 2, 0, 12, 15, 4, 1));  // chroma stride < 2
  EXPECT_FALSE(image.init(nullptr, 4, 2, 0, 12, 15, 4, 2));
}

// Round trips through every wrapper are checked, with PSNR, by the image
// conversion tests; here: absolute byte order and range, and the chroma rule
// of YUYV.
TEST(LowLevelTest, LimitedRangeBt601AndByteOrders) {
  // Pure red in limited-range BT.601 is Y 81, U 90, V 240.
  TestI420 red(3, 3);  // odd: the last chroma sample covers one pixel
  for (auto [plane, level] : {std::pair{&red.y_, 81}, {&red.u_, 90}, {&red.v_, 240}})
    plane->fill([level = level](int, int) { return level; });
  TestPlane bgra(12, 3), rgb(9, 3);
  ASSERT_TRUE(LowLevel::convertFromI420toBGRA8888(3, 3, red.y_.data(), red.y_.stride_,
                                                  red.u_.data(), red.u_.stride_, red.v_.data(),
                                                  red.v_.stride_, bgra.data(), bgra.stride_));
  EXPECT_TRUE(bgra.at(0, 0) <= 2 && bgra.at(2, 0) >= 253 && bgra.at(3, 0) == 255);  // B G R A
  ASSERT_TRUE(LowLevel::convertFromI420toRGB888(3, 3, red.y_.data(), red.y_.stride_, red.u_.data(),
                                                red.u_.stride_, red.v_.data(), red.v_.stride_,
                                                rgb.data(), rgb.stride_));
  EXPECT_GE(rgb.at(0, 0), 253);  // R first
  EXPECT_TRUE(bgra.marginUntouched() && rgb.marginUntouched());

  // YUYV: Y as is; U and V of rows 0 and 1 averaged, the odd last row alone.
  TestPlane yuyv(4, 3);
  yuyv.fill(
      [](int x, int y) { return static_cast<uint8_t>(x % 2 == 0 ? 100 + y : 20 * x + 5 * y); });
  TestI420 out(2, 3);
  ASSERT_TRUE(LowLevel::convertFromYUYVtoI420(yuyv.data(), 2, 3, yuyv.stride_, out.y_.data(),
                                              out.y_.stride_, out.u_.data(), out.u_.stride_,
                                              out.v_.data(), out.v_.stride_));
  // U: (20 + 25) / 2, rounded up.
  EXPECT_EQ(std::make_tuple(out.y_.at(1, 2), out.u_.at(0, 0), out.v_.at(0, 1)),
            std::make_tuple(102, 23, 70));
  EXPECT_TRUE(out.marginsUntouched());
}

// Arguments libyuv would misread.
TEST(LowLevelTest, BadArgumentsAreRefusedWithoutWriting) {
  TestI420 out(4, 4);
  TestPlane bgra(16, 4);
  uint8_t *y = out.y_.data(), *u = out.u_.data(), *v = out.v_.data(), *src = bgra.data();
  int const ys = out.y_.stride_, us = out.u_.stride_, vs = out.v_.stride_, ss = bgra.stride_;
  auto const toI420 = LowLevel::convertFromBGRA8888toI420;
  EXPECT_FALSE(toI420(4, -4, src, ss, y, ys, u, us, v, vs));
  EXPECT_FALSE(toI420(4, 4, src, 15, y, ys, u, us, v, vs));
  EXPECT_FALSE(toI420(4, 4, src, ss, y, 3, u, us, v, vs));
  EXPECT_FALSE(toI420(4, 4, src, ss, y, ys, nullptr, us, v, vs));
  EXPECT_FALSE(LowLevel::convertFromI420toBGRA8888(4, 4, y, ys, u, us, v, 1, src, ss));
  EXPECT_FALSE(LowLevel::convertFromI420toRGB888(4, 4, y, ys, u, us, v, vs, src, 11));
  EXPECT_FALSE(LowLevel::convertFromYUYVtoI420(src, 4, 4, 7, y, ys, u, us, v, vs));
  EXPECT_FALSE(LowLevel::convertFromBGR888toBGRX8888(4, 4, src, 11, y, ys));
  EXPECT_TRUE(out.marginsUntouched());
  for (uint8_t byte : out.y_.bytes_) ASSERT_EQ(byte, kCanary);
}

// Rows of one level each, so that JPEG's loss stays small.
const QvI420& fillRows(const QvI420& image) {
  for (int i = 0; i < 3; ++i)
    for (int y = 0; y < image.plane(i).height_; ++y)
      std::memset(image.plane(i).row(y), 40 + 40 * i + 4 * y, image.plane(i).width_);
  return image;
}

// The QV1 bytes of `image`: raw, or JPEG of the given quality.
std::string qv1(const QvI420& image, int jpeg_quality = 0) {
  EncodedFrame frame;
  EXPECT_TRUE(jpeg_quality ? frame.encodeJpeg(image, jpeg_quality) : frame.storeI420(image));
  std::string bytes;
  frame.serialize(&bytes);
  return bytes;
}

bool parse(EncodedFrame* frame, const std::string& bytes) {
  return frame->deserialize(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void putU32(std::string* bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<char>(value >> (8 * i));
}

// 17x9 pictures: odd sizes, so chroma rounds up.
TEST(EncodedFrameTest, RawJpegAndEmptyFramesRoundTrip) {
  QvI420 const source(17, 9, 16);
  std::string const raw = qv1(fillRows(source));
  EXPECT_EQ(raw.size(), EncodedFrame::kHeaderSize + 17 * 9 + 2 * 9 * 5);
  EncodedFrame parsed;
  QvI420 decoded(17, 9, 1);
  ASSERT_TRUE(parse(&parsed, raw) && parsed.decode(&decoded));
  EXPECT_EQ(qv1(decoded), raw);
  ASSERT_TRUE(parse(&parsed, qv1(source, 95)) && parsed.decode(&decoded));
  // Range mapping both ways keeps levels; only JPEG's own loss remains.
  std::string const lossy = qv1(decoded);
  for (size_t i = 0; i < raw.size(); ++i) ASSERT_NEAR(uint8_t(lossy[i]), uint8_t(raw[i]), 6) << i;
  std::string empty;
  EncodedFrame().serialize(&empty);
  EXPECT_TRUE(parse(&parsed, empty) && !parsed.decode(&decoded));
}

TEST(EncodedFrameTest, HostileInputIsRefusedAndLeavesTheFrameUnchanged) {
  dravo::testing::LogCapture log("encoded_frame:2");
  QvI420 const source(17, 9, 16), other_size(16, 9, 16);
  std::string const raw = qv1(fillRows(source)), jpeg = qv1(source, 80);
  using Mutate = std::function<void(std::string*)>;
  std::vector<std::tuple<const std::string*, const char*, Mutate>> const cases = {
      {&raw, "bad magic", [](std::string* b) { (*b)[0] = 'X'; }},
      {&raw, "version 2", [](std::string* b) { (*b)[4] = 2; }},
      {&raw, "unknown kind", [](std::string* b) { (*b)[5] = 7; }},
      {&raw, "reserved set", [](std::string* b) { (*b)[7] = 1; }},
      {&raw, "huge width", [](std::string* b) { putU32(b, 8, 0x7FFFFFFF); }},
      {&raw, "length claims 4 GB", [](std::string* b) { putU32(b, 16, 0xFFFFFFF0); }},
      {&raw, "trailing byte", [](std::string* b) { b->push_back(0); }},
      {&raw, "raw size lies", [](std::string* b) { putU32(b, 8, 16); }},
      {&raw, "empty kind with size", [](std::string* b) { (*b)[5] = 0; }},
      {&jpeg, "jpeg garbage", [](std::string* b) { std::memset(&(*b)[20], 0x33, b->size() - 20); }},
      {&jpeg, "jpeg cut to SOI", [](std::string* b) { b->resize(22), putU32(b, 16, 2); }},
      {&jpeg, "jpeg of another size", [](std::string* b) { putU32(b, 8, 16); }},
  };
  for (auto const& [source, name, mutate] : cases) {
    std::string bytes = *source;
    mutate(&bytes);
    EncodedFrame frame;
    ASSERT_TRUE(frame.storeI420(fillRows(other_size)));
    EXPECT_FALSE(parse(&frame, bytes)) << name;
    EXPECT_TRUE(frame.width() == 16 && frame.payloadKind() == EncodedFrame::PAYLOAD_I420) << name;
  }
  EXPECT_TRUE(log.contains("QV1 frame refused"));
  EXPECT_FALSE(EncodedFrame().deserialize(nullptr, 100));
  // Every prefix fails (copied, so AddressSanitizer sees the exact end).
  EncodedFrame frame;
  for (size_t length = 0; length < jpeg.size(); ++length) {
    std::vector<uint8_t> prefix(jpeg.begin(), jpeg.begin() + length);
    EXPECT_FALSE(frame.deserialize(prefix.data(), prefix.size())) << length;
  }
}

// A width x height JPEG from TurboJPEG of the BGR picture `pixel` draws, by
// default a gradient.
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
  return dravo::jpeg::decompressMJPEG(jpeg.data(), jpeg.size(), width, height, motion_jpeg,
                                      out->y_.data(), out->y_.stride_, out->u_.data(),
                                      out->u_.stride_, out->v_.data(), out->v_.stride_);
}

class MjpegSubsamplingTest : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

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

TEST(MjpegDecoderTest, BadFramesAndDestinationsAreRefusedWithoutWriting) {
  // Level 9 too: warnings that the throttle holds back still arrive, finer.
  dravo::testing::LogCapture log("mjpeg_decoder:9");
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
    EXPECT_FALSE(dravo::jpeg::decompressMJPEG(jpeg.data(), jpeg.size(), width, height, true, y,
                                              y_stride, out.u_.data(), out.u_.stride_,
                                              out.v_.data(), out.v_.stride_))
        << width << "x" << height << " stride " << y_stride;
  EXPECT_TRUE(log.contains("JPEG frame is 64x32, expected 64x30"));
  EXPECT_TRUE(out.marginsUntouched());
  // Broken tables (255 codes of length 1 claimed) fail without spoiling the
  // next, good frame.
  Bytes broken = jpeg;
  for (size_t pos : huffmanTables(jpeg)) broken[pos + 5] = 0xFF;
  TestI420 expected(64, 32);
  EXPECT_TRUE(!decode(broken, 64, 32, true, &out) && decode(jpeg, 64, 32, true, &out) &&
              decode(jpeg, 64, 32, false, &expected) && out.y_.bytes_ == expected.y_.bytes_);
}

// Planes whose rows end at every offset from the vector width, mapped in
// place and into another plane: every sample rounds to nearest, the bytes
// past each row's width stay alone, and limited to full and back is the
// identity on the limited range.
TEST(YuvRangeTest, MappingIsExactAtEveryRowLengthKeepsThePaddingAndInverts) {
  using namespace dravo::jpeg;
  for (SampleKind kind : {SampleKind::kLuma, SampleKind::kChroma}) {
    bool const luma = kind == SampleKind::kLuma;
    for (int width : {1, 15, 16, 17, 31, 33, 47, 256}) {
      int const stride = width + 5, height = 3;
      std::vector<uint8_t> in(static_cast<size_t>(stride) * height);
      for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 37 + width);
      std::vector<uint8_t> out(in.size(), 0xEE), in_place = in;
      mapPlaneRange(RangeMapping::kFullToLimited, kind, in.data(), stride, out.data(), stride,
                    width, height);
      mapPlaneRange(RangeMapping::kFullToLimited, kind, in_place.data(), stride, in_place.data(),
                    stride, width, height);
      for (size_t i = 0; i < in.size(); ++i) {
        bool const inside = static_cast<int>(i % stride) < width;
        long const v = in[i];
        long const limited =
            std::lround(luma ? 16 + v * 219.0 / 255.0 : 128 + (v - 128) * 224.0 / 255.0);
        ASSERT_EQ(out[i], inside ? limited : 0xEE) << width << " " << i;
        ASSERT_EQ(in_place[i], inside ? out[i] : in[i]) << width << " " << i;
      }
    }
    std::vector<uint8_t> values(256), full(256);
    for (int v = 0; v < 256; ++v) values[v] = static_cast<uint8_t>(v);
    mapPlaneRange(RangeMapping::kLimitedToFull, kind, values.data(), 256, full.data(), 256, 256, 1);
    mapPlaneRange(RangeMapping::kFullToLimited, kind, full.data(), 256, values.data(), 256, 256, 1);
    int const top = luma ? 235 : 240;
    for (int v = 16; v <= top; ++v) EXPECT_EQ(values[v], v) << v;
    // Chroma's 224 steps span 255 around 128, so its low end lands on 0.5.
    EXPECT_TRUE(full[16] <= 1 && full[top] == 255);
  }
}

}  // namespace
}  // namespace qvideo
