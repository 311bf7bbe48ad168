#include "media_common/video/video_sink.h"

#include <gtest/gtest.h>

#include "media_common/link_handle.h"
#include "media_common/video/screenshot_texture.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

using PixelFormat = ImageBuffer::PixelFormat;

std::shared_ptr<ImageBuffer> makeFrame(int width, int height, PixelFormat format, Time stamp) {
  auto frame = std::make_shared<ImageBuffer>(width, height, format);
  std::memset(frame->data(), 90, static_cast<size_t>(frame->format().min_allocation_));
  frame->setStartTimestamp(stamp);
  frame->setPriority(3);
  return frame;
}

TEST(VideoSinkTextureTest, KeepsTheFramesPixelsAndLogsUnexpectedFormats) {
  auto frame = makeFrame(33, 17, ImageBuffer::IMAGE_I420, Time());
  auto texture = std::make_shared<VideoSinkTexture>(frame, TextureId());
  frame.reset();  // the texture keeps the pixels
  EXPECT_EQ(90, texture->getBuffer(2)[16 * 9 - 1]);
  EXPECT_EQ(static_cast<size_t>(33 * 17 + 2 * 17 * 9), texture->getSize());

  testing::LogCapture log;
  auto aligned = makeFrame(32, 16, ImageBuffer::IMAGE_ALIGNED_I420, Time());
  VideoSinkTexture unexpected(aligned, TextureId());
  EXPECT_TRUE(log.contains(
      "VideoSink doesn't accept textures that aren't of type I420 or RGB24, type was A420"));
  EXPECT_EQ(aligned->planes()[1].stride_, unexpected.getStride(1));
}

TEST(ScreenshotTextureTest, ThirtyTwoBitFramesAndRefusal) {
  auto bgrx = makeFrame(7, 3, ImageBuffer::IMAGE_BGRX32, Time());
  ScreenshotTexture texture(bgrx, TextureId());
  EXPECT_EQ(bgrx->data(), texture.getBuffer(2));  // one plane, whatever is asked

  testing::AssertionCapture assertions;
  ScreenshotTexture refused(makeFrame(2, 2, ImageBuffer::IMAGE_RGB24, Time()), TextureId());
  ASSERT_EQ(1u, assertions.messages().size());
  EXPECT_NE(std::string::npos, assertions.messages()[0].find("ScreenshotTexture cannot handle"));
}

// The sink fed through a pad of the test's own, on a hand-run scheduler.
class TextureVideoSinkTest : public ::testing::Test, public sigslot::has_slots<> {
 protected:
  void SetUp() override {
    sink_ = createElement<TextureVideoSink>(ElementArgs(scheduler_, root_->getNode("sink", true)));
    out_->initialize(PadArgs(root_->getNode("test/pads/out", true), scheduler_));
    link_ = LinkHandle(out_->link(*sink_->getInputPad()));
    sink_->texture_signal_.connect(
        this, [this](std::shared_ptr<Texture> const& texture) { textures_.push_back(texture); });
    sink_->processor_results_signal_.connect(
        this, [this](std::shared_ptr<ProcessorResultsProto const> const& results) {
          results_.push_back(results);
        });
    sink_->device_opening_signal_.connect(this,
                                          [this](Time const t) { device_openings_.push_back(t); });
    scheduler_->runAll();
  }
  void TearDown() override {
    disconnect_all();
    scheduler_->shutdown(true);  // queued tasks hold channels that hold the scheduler
  }
  void send(std::shared_ptr<ImageBuffer> const& frame) {
    out_->sendBuffer(frame);
    scheduler_->runAll();
  }
  void setFormat(PropertyValue const& value) {
    sink_->getPropertyNode("format")->setValue(value);
    scheduler_->runAll();
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<TextureVideoSink> sink_;
  std::shared_ptr<OutputPad<ImageBuffer>> out_ = std::make_shared<OutputPad<ImageBuffer>>();
  LinkHandle link_;
  std::vector<std::shared_ptr<Texture>> textures_;
  std::vector<std::shared_ptr<ProcessorResultsProto const>> results_;
  std::vector<Time> device_openings_;
};

TEST_F(TextureVideoSinkTest, DeliversConstrainedI420UntilTheFormatPropertyChanges) {
  send(makeFrame(641, 480, ImageBuffer::IMAGE_I420, Time::fromNSec(77)));
  ASSERT_EQ(1u, textures_.size());
  EXPECT_EQ(640, textures_[0]->getWidth());
  // No results on the frame: the signal still fires, with null.
  ASSERT_EQ(1u, results_.size());
  EXPECT_EQ(nullptr, results_[0]);
  textures_.clear();

  testing::LogCapture log;
  setFormat(PropertyValue(4));
  send(makeFrame(64, 48, ImageBuffer::IMAGE_I420, Time()));
  EXPECT_TRUE(log.contains("BGR formats not implemented"));
  EXPECT_EQ(0u, textures_.size());  // nothing converts to an unknown format

  setFormat(PropertyValue("APPL"));  // platform buffers pass as they are
  unsigned char opaque[4] = {};
  auto frame = std::make_shared<ImageBuffer>(320, 240, ImageBuffer::IMAGE_PLATFORM_BUFFER, opaque,
                                             nullptr, 4);
  frame->setPriority(1);
  send(frame);
  ASSERT_EQ(1u, textures_.size());
  EXPECT_EQ(opaque, textures_[0]->getBuffer());
}

TEST_F(TextureVideoSinkTest, ForwardsDrivingFeedbackAndDeviceOpenings) {
  auto frame = makeFrame(64, 48, ImageBuffer::IMAGE_I420, Time());
  frame->appendEventToMetadata(drivingFeedbackToEvent(DrivingFeedback{0x1234}));
  send(frame);
  ASSERT_EQ(1u, textures_.size());
  ASSERT_NE(nullptr, textures_[0]->getId().feedback());
  EXPECT_EQ(0x1234u, textures_[0]->getId().feedback()->tag);

  auto event = std::make_shared<DeviceOpeningEvent>();
  event->setStartTimestamp(Time::fromNSec(999));
  event->setPriority(1);
  out_->sendDownstreamEvent(event);
  scheduler_->runAll();
  EXPECT_EQ(std::vector<Time>{Time::fromNSec(999)}, device_openings_);
}

}  // namespace
}  // namespace dravo::media
