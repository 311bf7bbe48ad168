#include "media_common/video/video_file_reader.h"

#include <gtest/gtest.h>

namespace dravo::media {
namespace {

// Hands out one prepared frame per call.
class FakeReader : public VideoFileReader {
 public:
  explicit FakeReader(std::shared_ptr<ImageBuffer> frame) : frame_(std::move(frame)) {}
  bool openFile(std::string const&) override { return true; }
  ImageBuffer::PixelFormat format() override { return frame_->format().pixel_format_; }

 protected:
  std::shared_ptr<ImageBuffer> doReadFrame(Duration* duration) override {
    *duration = Duration::fromMSec(40);
    incrementFrameIndex();
    return frame_;
  }

 private:
  std::shared_ptr<ImageBuffer> frame_;
};

TEST(VideoFileReaderTest, HandsOutI420AndPassesQV1Unchanged) {
  auto bgr = std::make_shared<ImageBuffer>(6, 4, ImageBuffer::IMAGE_BGR24);
  std::fill(bgr->data(), bgr->data() + 6 * 4 * 3, 128);
  FakeReader reader(bgr);
  Duration duration;
  auto frame = reader.readFrame(&duration);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->format().pixel_format_, ImageBuffer::IMAGE_I420);
  EXPECT_EQ(frame->width(), 6);
  EXPECT_EQ(duration, Duration::fromMSec(40));
  EXPECT_EQ(reader.getFrameIndex(), 1);

  static unsigned char encoded[3] = {1, 2, 3};
  auto qv1 = std::make_shared<ImageBuffer>(16, 16, ImageBuffer::IMAGE_QV1, encoded, nullptr, 3);
  EXPECT_EQ(FakeReader(qv1).readFrame(&duration), qv1);
}

}  // namespace
}  // namespace dravo::media
