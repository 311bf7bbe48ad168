#include "qvideo/encoded_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "qvideo/qv_i420.h"
#include "tests/support/capture.h"

namespace qvideo {
namespace {

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
  fillRows(source);
  std::string const raw = qv1(source);
  EXPECT_EQ(raw.size(), EncodedFrame::kHeaderSize + 17 * 9 + 2 * 9 * 5);
  EncodedFrame parsed;
  QvI420 decoded(17, 9, 1);
  ASSERT_TRUE(parse(&parsed, raw) && parsed.decode(&decoded));
  EXPECT_EQ(qv1(decoded), raw);

  ASSERT_TRUE(parse(&parsed, qv1(source, 95)));
  EXPECT_EQ(parsed.payloadKind(), EncodedFrame::PAYLOAD_JPEG);
  ASSERT_TRUE(parsed.decode(&decoded));
  // Range mapping both ways keeps levels; only JPEG's own loss remains.
  std::string const lossy = qv1(decoded);
  for (size_t i = 0; i < raw.size(); ++i) ASSERT_NEAR(uint8_t(lossy[i]), uint8_t(raw[i]), 6) << i;
  QvI420 wrong_size(17, 8, 16);
  EXPECT_FALSE(parsed.decode(&wrong_size));

  std::string empty;
  EncodedFrame().serialize(&empty);
  ASSERT_TRUE(parse(&parsed, empty));
  EXPECT_FALSE(parsed.decode(&decoded));
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

}  // namespace
}  // namespace qvideo
