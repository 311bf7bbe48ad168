#include "media_common/video/test_pattern_video_source.h"

#include <gtest/gtest.h>

#include "tests/media_common/video/capture_source_test_fixture.h"

namespace dravo::media {
namespace {

using Pacing = TestPatternVideoSource::Pacing;

constexpr Time kStart = Time::fromNSec(9000000000000);  // 9000 s
Duration const kPatience = Duration::fromSec(30);

class TestPatternVideoSourceTest : public CaptureSourceTest<TestPatternVideoSource> {
 protected:
  TestPatternVideoSourceTest() : CaptureSourceTest(kStart) {}
  void start(std::string const& device, Pacing pacing = Pacing::kOnRequest) {
    attach(createTestPatternVideoSource(cameraArgs(device, 160, 120), pacing));
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
};

TEST_F(TestPatternVideoSourceTest, FramesAreDrawnStampedAndPublishTheMode) {
  start("pattern");
  EXPECT_EQ(1, source_->openCount());
  generator_.advanceClock(Duration::fromMSec(40));
  oneFrame();
  oneFrame();
  ASSERT_EQ(2u, sink_->count());
  auto frame = sink_->frames()[1];
  EXPECT_EQ(kStart + Duration::fromMSec(40), frame->getStartTimestamp());
  EXPECT_EQ(-1, frame->getPriority());
  EXPECT_TRUE(video_testing::showsCaption(*frame, "Test pattern 000001"));
  EXPECT_EQ(PropertyValue(160), source_->getPropertyNode("width")->getValue());
}

TEST_F(TestPatternVideoSourceTest,
       StalledDeviceIsReopenedRecoveryResetsTheRetriesThenItIsReported) {
  start("pattern");
  source_->setStalled(true);
  runFor(22);
  EXPECT_EQ(3, source_->openCount());
  EXPECT_EQ(status_codes::Ok, statusCode());
  source_->setStalled(false);
  oneFrame();
  // Two reopens again after the recovery, then the stall is reported.
  source_->setStalled(true);
  runFor(40);
  EXPECT_EQ(5, source_->openCount());
  EXPECT_EQ(status_codes::Error_VideoCaptureNoFrames, statusCode());
  EXPECT_EQ("Max retry count of 2 reached", source_->getStatus()->getStatusMessage());
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
