#include "qvideo/encoded_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "qvideo/qv_i420.h"
#include "tests/support/capture.h"

namespace qvideo {
namespace {

void fillGradient(const QvI420& image) {
  for (int i = 0; i < 3; ++i) {
    const QvGray8& plane = image.plane(i);
    for (int y = 0; y < plane.height_; ++y)
      for (int x = 0; x < plane.width_; ++x)
        plane.row(y)[x] =
            static_cast<uint8_t>(i == 0 ? 16 + (x + y) * 200 / (plane.width_ + plane.height_)
                                        : 100 + i * 10 + x * 20 / plane.width_);
  }
}

int maxPictureDifference(const QvI420& a, const QvI420& b) {
  int worst = 0;
  for (int i = 0; i < 3; ++i)
    for (int y = 0; y < a.plane(i).height_; ++y)
      for (int x = 0; x < a.plane(i).width_; ++x)
        worst = std::max(worst, std::abs(a.plane(i).row(y)[x] - b.plane(i).row(y)[x]));
  return worst;
}

std::string serialized(const EncodedFrame& frame) {
  std::string bytes;
  frame.serialize(&bytes);
  return bytes;
}

bool parse(EncodedFrame* frame, const std::string& bytes) {
  return frame->deserialize(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

class EncodedFrameTest : public ::testing::Test {
 protected:
  EncodedFrameTest() : source_(17, 9, 16) { fillGradient(source_); }
  QvI420 source_;
  dravo::testing::LogCapture log_{"encoded_frame:2"};
};

TEST_F(EncodedFrameTest, RawJpegAndEmptyFramesRoundTrip) {
  EncodedFrame raw;
  ASSERT_TRUE(raw.storeI420(source_));
  std::string const bytes = serialized(raw);
  EXPECT_EQ(bytes.size(), EncodedFrame::kHeaderSize + 17 * 9 + 2 * 9 * 5);
  EXPECT_EQ(bytes.substr(0, 4), "QV1F");
  EncodedFrame parsed;
  ASSERT_TRUE(parse(&parsed, bytes));
  EXPECT_EQ(parsed.payloadKind(), EncodedFrame::PAYLOAD_I420);
  QvI420 decoded(17, 9, 1);
  ASSERT_TRUE(parsed.decode(&decoded));
  EXPECT_EQ(maxPictureDifference(source_, decoded), 0);

  QvI420 source(64, 48, 16);
  fillGradient(source);
  EncodedFrame jpeg;
  ASSERT_TRUE(jpeg.encodeJpeg(source, 95));
  ASSERT_TRUE(parse(&parsed, serialized(jpeg)));
  EXPECT_EQ(parsed.payloadKind(), EncodedFrame::PAYLOAD_JPEG);
  EXPECT_EQ(parsed.width(), 64);
  QvI420 decoded_jpeg(64, 48, 16);
  ASSERT_TRUE(parsed.decode(&decoded_jpeg));
  // Range mapping both ways keeps levels; only JPEG's own loss remains.
  EXPECT_LE(maxPictureDifference(source, decoded_jpeg), 6);
  QvI420 wrong_size(64, 46, 16);
  EXPECT_FALSE(parsed.decode(&wrong_size));

  ASSERT_TRUE(parse(&parsed, serialized(EncodedFrame())));
  EXPECT_EQ(parsed.payloadKind(), EncodedFrame::PAYLOAD_NONE);
  EXPECT_FALSE(parsed.decode(&decoded));
}

void putU32(std::string* bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<char>(value >> (8 * i));
}

TEST_F(EncodedFrameTest, HostileInputIsRefusedAndLeavesTheFrameUnchanged) {
  EncodedFrame raw;
  ASSERT_TRUE(raw.storeI420(source_));
  EncodedFrame jpeg;
  ASSERT_TRUE(jpeg.encodeJpeg(source_, 80));
  QvI420 other_size(16, 9, 16);
  fillGradient(other_size);
  EncodedFrame other_jpeg;
  ASSERT_TRUE(other_jpeg.encodeJpeg(other_size, 80));

  struct HostileCase {
    const EncodedFrame* source;
    const char* name;
    std::function<void(std::string*)> mutate;
  };
  std::vector<HostileCase> const cases = {
      {&raw, "empty", [](std::string* b) { b->clear(); }},
      {&raw, "header cut", [](std::string* b) { b->resize(19); }},
      {&raw, "bad magic", [](std::string* b) { (*b)[0] = 'X'; }},
      {&raw, "version 2", [](std::string* b) { (*b)[4] = 2; }},
      {&raw, "unknown kind", [](std::string* b) { (*b)[5] = 7; }},
      {&raw, "reserved set", [](std::string* b) { (*b)[7] = 1; }},
      {&raw, "width 0", [](std::string* b) { putU32(b, 8, 0); }},
      {&raw, "huge width", [](std::string* b) { putU32(b, 8, 0x7FFFFFFF); }},
      {&raw, "negative height", [](std::string* b) { putU32(b, 12, 0xFFFFFFFF); }},
      {&raw, "length claims 4 GB", [](std::string* b) { putU32(b, 16, 0xFFFFFFF0); }},
      {&raw, "length short of bytes", [](std::string* b) { putU32(b, 16, 10); }},
      {&raw, "payload cut", [](std::string* b) { b->resize(b->size() - 1); }},
      {&raw, "trailing byte", [](std::string* b) { b->push_back(0); }},
      {&raw, "raw size lies", [](std::string* b) { putU32(b, 8, 16); }},
      {&raw, "empty kind with size", [](std::string* b) { (*b)[5] = 0; }},
      {&jpeg, "jpeg garbage", [](std::string* b) { std::memset(&(*b)[20], 0x33, b->size() - 20); }},
      {&jpeg, "jpeg cut to SOI",
       [](std::string* b) {
         b->resize(22);
         putU32(b, 16, 2);
       }},
      {&other_jpeg, "jpeg of another size", [](std::string* b) { putU32(b, 8, 17); }},
  };
  for (auto const& hostile : cases) {
    std::string bytes = serialized(*hostile.source);
    hostile.mutate(&bytes);
    EncodedFrame frame;
    ASSERT_TRUE(frame.storeI420(other_size));
    EXPECT_FALSE(parse(&frame, bytes)) << hostile.name;
    EXPECT_EQ(frame.width(), 16) << hostile.name;
    EXPECT_EQ(frame.payloadKind(), EncodedFrame::PAYLOAD_I420) << hostile.name;
  }
  EXPECT_TRUE(log_.contains("QV1 frame refused"));
  EncodedFrame frame;
  EXPECT_FALSE(frame.deserialize(nullptr, 100));
}

TEST_F(EncodedFrameTest, EveryPrefixAndRandomDamageIsSurvived) {
  EncodedFrame jpeg;
  ASSERT_TRUE(jpeg.encodeJpeg(source_, 80));
  std::string const bytes = serialized(jpeg);
  EncodedFrame frame;
  for (size_t length = 0; length < bytes.size(); ++length) {
    // Copy so AddressSanitizer sees the exact end of the input.
    std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + length);
    EXPECT_FALSE(frame.deserialize(prefix.data(), prefix.size())) << length;
  }
  // Damage that keeps the header consistent must parse or fail, never crash;
  // a parsed frame must decode or fail cleanly.
  std::mt19937 random(1234);
  QvI420 image(17, 9, 16);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> damaged(bytes.begin(), bytes.end());
    for (int flips = 0; flips < 3; ++flips)
      damaged[20 + random() % (damaged.size() - 20)] = static_cast<uint8_t>(random());
    if (frame.deserialize(damaged.data(), damaged.size())) frame.decode(&image);
  }
}

}  // namespace
}  // namespace qvideo
