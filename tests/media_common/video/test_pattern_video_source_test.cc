#include "media_common/video/test_pattern_video_source.h"

#include <gtest/gtest.h>

#include "common/deferred.h"
#include "media_common/link_handle.h"
#include "media_common/synthetic_clock.h"
#include "tests/media_common/video/video_test_support.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

using video_testing::FrameCollector;
using video_testing::showsCaption;
using Pacing = TestPatternVideoSource::Pacing;

constexpr Time kStart = Time::fromNSec(9000000000000);  // 9000 s
Duration const kPatience = Duration::fromSec(30);

class TestPatternVideoSourceTest : public ::testing::Test {
 protected:
  void start(std::string const& device, Pacing pacing = Pacing::kOnRequest) {
    ElementArgs args(scheduler_, root_->getNode("camera", true));
    args.property("clock", PropertyValue(std::weak_ptr<Clock>(generator_.getClock())))
        .property("device", PropertyValue(device))
        .property("req_width", PropertyValue(160))
        .property("req_height", PropertyValue(120))
        .property("enabled", PropertyValue(true));
    source_ = createTestPatternVideoSource(args, pacing);
    sink_ = createElement<FrameCollector>(ElementArgs(scheduler_, root_->getNode("sink", true)));
    link_ = LinkHandle(source_->getOutputPad()->link(*sink_->getInputPad()));
    settle();
  }
  void TearDown() override {
    link_ = LinkHandle();
    source_.reset();
    scheduler_->shutdown(true);
  }
  void settle() {
    do {
      waitForDeferredCalls();
    } while (scheduler_->runAll() > 0);
  }
  void runFor(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      generator_.advanceClock(Duration::fromSec(1));
      settle();
    }
  }
  // Lets one frame through and waits until the sink has it.
  void oneFrame() {
    uint64_t const before = source_->framesDelivered();
    source_->releaseFrames(1);
    ASSERT_TRUE(source_->waitForFramesDelivered(before + 1, kPatience));
    settle();
  }
  std::string statusMessage() { return source_->getStatus()->getStatusMessage(); }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  SyntheticClockGenerator generator_{false, kStart};
  std::shared_ptr<TestPatternVideoSource> source_;
  std::shared_ptr<FrameCollector> sink_;
  LinkHandle link_;
};

TEST_F(TestPatternVideoSourceTest, FramesAreDrawnStampedAndPublishTheMode) {
  start("pattern");
  EXPECT_EQ(1, source_->openCount());
  generator_.advanceClock(Duration::fromMSec(40));
  oneFrame();
  oneFrame();
  ASSERT_EQ(2u, sink_->count());
  auto frame = sink_->frames()[1];
  EXPECT_EQ(ImageBuffer::IMAGE_I420, frame->format().pixel_format_);
  EXPECT_EQ(160, frame->width());
  EXPECT_EQ(120, frame->height());
  EXPECT_EQ(kStart + Duration::fromMSec(40), frame->getStartTimestamp());
  EXPECT_EQ(-1, frame->getPriority());
  EXPECT_TRUE(showsCaption(*frame, "Test pattern 000001"));
  EXPECT_EQ(PropertyValue(160), source_->getPropertyNode("width")->getValue());
}

TEST_F(TestPatternVideoSourceTest, StalledDeviceIsReopenedThenReported) {
  start("pattern");
  source_->setStalled(true);
  runFor(40);
  EXPECT_EQ(3, source_->openCount());
  EXPECT_EQ(status_codes::Error_VideoCaptureNoFrames, source_->getStatus()->getStatusCode());
  EXPECT_EQ("Max retry count of 2 reached", statusMessage());
}

TEST_F(TestPatternVideoSourceTest, RecoveryAfterAReopenResetsTheRetries) {
  start("pattern");
  source_->setStalled(true);
  runFor(22);
  EXPECT_EQ(3, source_->openCount());
  source_->setStalled(false);
  oneFrame();
  source_->setStalled(true);
  runFor(22);
  EXPECT_EQ(5, source_->openCount());
  EXPECT_EQ(status_codes::Ok, source_->getStatus()->getStatusCode());
  source_->setStalled(false);
  for (int i = 0; i < 30; ++i) {
    oneFrame();
    sink_->clear();
    runFor(1);
  }
  EXPECT_EQ(5, source_->openCount());
  EXPECT_EQ(status_codes::Ok, source_->getStatus()->getStatusCode());
  // One frame per second of the source's clock.
  auto actual_fps = source_->getPropertyNode("actual_fps")->getValue().convert<double>();
  ASSERT_TRUE(actual_fps);
  EXPECT_NEAR(1.0, *actual_fps, 0.01);
}

TEST_F(TestPatternVideoSourceTest, FreeRunningSourceStopsCleanlyWhenReleased) {
  start("pattern", Pacing::kWallClock);
  source_->getPropertyNode("req_fps")->setValue(PropertyValue(500.0f));
  settle();
  ASSERT_TRUE(source_->waitForFramesDelivered(5, kPatience));
  settle();
  EXPECT_GE(sink_->count(), 1u);
  // TearDown drops the source while frames are still coming: the capture
  // thread must end with it.
}

}  // namespace
}  // namespace dravo::media
