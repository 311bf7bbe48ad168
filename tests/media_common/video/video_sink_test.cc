#include "media_common/video/video_sink.h"

#include <gtest/gtest.h>

#include "media_common/video/screenshot_texture.h"
#include "tests/media_common/video/file_sink_test_fixture.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

std::shared_ptr<ImageBuffer> makeFrame(int width, int height, ImageBuffer::PixelFormat format) {
  auto frame = std::make_shared<ImageBuffer>(width, height, format);
  std::memset(frame->data(), 90, static_cast<size_t>(frame->format().min_allocation_));
  frame->setPriority(3);
  return frame;
}

TEST(TextureTest, TexturesKeepTheFramesPixelsAndRefuseOrLogOtherFormats) {
  auto frame = makeFrame(33, 17, ImageBuffer::IMAGE_I420);
  auto texture = std::make_shared<VideoSinkTexture>(frame, TextureId());
  frame.reset();  // the texture keeps the pixels
  EXPECT_EQ(90, texture->getBuffer(2)[16 * 9 - 1]);
  EXPECT_EQ(static_cast<size_t>(33 * 17 + 2 * 17 * 9), texture->getSize());
  testing::LogCapture log;
  auto aligned = makeFrame(32, 16, ImageBuffer::IMAGE_ALIGNED_I420);
  VideoSinkTexture unexpected(aligned, TextureId());
  EXPECT_TRUE(log.contains(
      "VideoSink doesn't accept textures that aren't of type I420 or RGB24, type was A420"));
  EXPECT_EQ(aligned->planes()[1].stride_, unexpected.getStride(1));

  auto bgrx = makeFrame(7, 3, ImageBuffer::IMAGE_BGRX32);
  EXPECT_EQ(bgrx->data(), ScreenshotTexture(bgrx, TextureId()).getBuffer(2));  // one plane
  testing::AssertionCapture assertions;
  ScreenshotTexture refused(makeFrame(2, 2, ImageBuffer::IMAGE_RGB24), TextureId());
  ASSERT_EQ(1u, assertions.messages().size());
  EXPECT_NE(std::string::npos, assertions.messages()[0].find("ScreenshotTexture cannot handle"));
}

// The sink fed by hand, recording what its signals give.
class TextureVideoSinkTest : public FileSinkTest, public sigslot::has_slots<> {
 protected:
  TextureVideoSinkTest()
      : FileSinkTest([](ElementArgs const& args) { return createElement<TextureVideoSink>(args); },
                     "sink") {
    auto& sink = static_cast<TextureVideoSink&>(*sink_);
    sink.texture_signal_.connect(this,
                                 [this](auto const& texture) { textures_.push_back(texture); });
    sink.processor_results_signal_.connect(this, [this](auto const& r) { results_.push_back(r); });
    sink.device_opening_signal_.connect(this, [this](Time t) { device_openings_.push_back(t); });
  }

  std::vector<std::shared_ptr<Texture>> textures_;
  std::vector<std::shared_ptr<ProcessorResultsProto const>> results_;
  std::vector<Time> device_openings_;
};

TEST_F(TextureVideoSinkTest, DeliversConstrainedI420UntilTheFormatPropertyChanges) {
  feed(makeFrame(641, 480, ImageBuffer::IMAGE_I420));
  ASSERT_EQ(1u, textures_.size());
  EXPECT_EQ(640, textures_[0]->getWidth());
  // No results on the frame: the signal still fires, with null.
  EXPECT_EQ(results_, decltype(results_){nullptr});
  textures_.clear();

  testing::LogCapture log;
  set("format", PropertyValue(4));
  feed(makeFrame(64, 48, ImageBuffer::IMAGE_I420));
  EXPECT_TRUE(log.contains("BGR formats not implemented"));
  EXPECT_EQ(0u, textures_.size());  // nothing converts to an unknown format

  set("format", PropertyValue("APPL"));  // platform buffers pass as they are
  unsigned char opaque[4] = {};
  auto frame = std::make_shared<ImageBuffer>(320, 240, ImageBuffer::IMAGE_PLATFORM_BUFFER, opaque,
                                             nullptr, 4);
  frame->setPriority(1);
  feed(frame);
  ASSERT_EQ(1u, textures_.size());
  EXPECT_EQ(opaque, textures_[0]->getBuffer());
}

TEST_F(TextureVideoSinkTest, ForwardsDrivingFeedbackAndDeviceOpenings) {
  auto frame = makeFrame(64, 48, ImageBuffer::IMAGE_I420);
  frame->appendEventToMetadata(drivingFeedbackToEvent(DrivingFeedback{0x1234}));
  feed(frame);
  ASSERT_EQ(1u, textures_.size());
  ASSERT_NE(nullptr, textures_[0]->getId().feedback());
  EXPECT_EQ(0x1234u, textures_[0]->getId().feedback()->tag);

  auto event = std::make_shared<DeviceOpeningEvent>();
  event->setStartTimestamp(Time::fromNSec(999));
  event->setPriority(1);
  feeder_->sendDownstreamEvent(event);
  scheduler_->runAll();
  EXPECT_EQ(std::vector<Time>{Time::fromNSec(999)}, device_openings_);
}

}  // namespace
}  // namespace dravo::media
