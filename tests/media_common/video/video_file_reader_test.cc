#include "media_common/video/video_file_reader.h"

#include <gtest/gtest.h>

namespace dravo::media {
namespace {

// Hands out one prepared frame on every call.
class FakeReader : public VideoFileReader {
 public:
  explicit FakeReader(std::shared_ptr<ImageBuffer> frame) : frame_(std::move(frame)) {}
  bool openFile(std::string const&) override { return true; }
  ImageBuffer::PixelFormat format() override { return frame_->format().pixel_format_; }

 protected:
  std::shared_ptr<ImageBuffer> doReadFrame(Duration*) override { return frame_; }

 private:
  std::shared_ptr<ImageBuffer> frame_;
};

// QV1 frames are handed out as they are, not converted to I420.
TEST(VideoFileReaderTest, PassesQV1FramesUnchanged) {
  static unsigned char encoded[3] = {1, 2, 3};
  auto qv1 = std::make_shared<ImageBuffer>(16, 16, ImageBuffer::IMAGE_QV1, encoded, nullptr, 3);
  Duration duration;
  EXPECT_EQ(FakeReader(qv1).readFrame(&duration), qv1);
}

}  // namespace
}  // namespace dravo::media
