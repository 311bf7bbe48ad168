// The generated sources: the synthetic source and its plasma, and the test
// pattern device source.

#include "media_common/video/synthetic_video_source.h"

#include <gtest/gtest.h>

#include "common/string_util.h"
#include "media_common/video/test_pattern_video_source.h"
#include "tests/media_common/video/capture_source_test_fixture.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using video_testing::showsCaption;

constexpr Time kStart = Time::fromNSec(5000000000000);  // 5000 s
Duration const kFrame = Duration::fromSec(1.0 / 30.0);

uint8_t luma(ImageBuffer const& frame, int x, int y) { return *frame.getPixelAddress(x, y, 0); }

// Values from the pattern's definition, worked out independently; the
// pattern moves on after each frame.
TEST(PlasmaTest, MatchesItsDefinitionAtSamplePixelsAndMovesOnAfterEachFrame) {
  SyntheticVideoSource::Plasma plasma;
  plasma.setEasy(false);
  auto frame = std::make_shared<ImageBuffer>(64, 32, ImageBuffer::IMAGE_I420);
  plasma.draw(frame.get());
  EXPECT_EQ(78, luma(*frame, 0, 0));
  EXPECT_EQ(157, luma(*frame, 63, 31));
  // The 2x2 block at (40, 16) takes its chroma from (41, 17).
  EXPECT_EQ(33, *frame->getPixelAddress(20, 8, 1));
  EXPECT_EQ(148, *frame->getPixelAddress(20, 8, 2));
  plasma.draw(frame.get());
  EXPECT_EQ(159, luma(*frame, 63, 31));
}

// A synthetic source on a hand-run scheduler and a synthetic clock, feeding a
// collector.
class SyntheticVideoSourceTest : public CaptureSourceTest<Source<ImageBuffer>> {
 protected:
  SyntheticVideoSourceTest() : CaptureSourceTest(kStart) {}
  void SetUp() override {
    attach(createSyntheticVideoSource(
        ElementArgs(scheduler_, root_->getNode("source", true))
            .property("clock", PropertyValue(std::weak_ptr<Clock>(generator_.getClock())))));
  }
  void set(char const* name, PropertyValue const& value) {
    source_->getPropertyNode(name)->setValue(value);
    settle();
  }
  void advance(Duration d) {
    generator_.advanceClock(d);
    settle();
  }
  std::shared_ptr<ImageBuffer const> frame(size_t i) { return sink_->frames().at(i); }
};

TEST_F(SyntheticVideoSourceTest, FramesCarryCaptionAndTimestampAtTheRequestedRate) {
  advance(kFrame);
  ASSERT_EQ(1u, sink_->count());
  auto const& f = *frame(0);
  EXPECT_EQ(kStart + kFrame, f.getStartTimestamp());
  std::string const caption = stringPrintf("Frame 000000. 640x480 %.2f",
                                           static_cast<double>((kStart + kFrame).toNSec()) / 1e9);
  EXPECT_TRUE(showsCaption(f, caption)) << caption;

  // A zero rate stops frames and a positive one resumes them.
  set("req_fps", PropertyValue(0.0));
  advance(Duration::fromSec(2));
  EXPECT_EQ(1u, sink_->count());
  set("req_fps", PropertyValue(10.0));
  advance(Duration::fromMSec(99));
  EXPECT_EQ(1u, sink_->count());
  advance(Duration::fromMSec(1));
  ASSERT_EQ(2u, sink_->count());
  EXPECT_EQ(kStart + kFrame + Duration::fromSec(2) + Duration::fromMSec(100),
            frame(1)->getStartTimestamp());
  EXPECT_TRUE(showsCaption(*frame(1), "Frame 000001."));
}

// Tiny and odd sizes stay inside the frame; sizes that cannot be drawn
// are refused, once, with an error status (a new refused size updating its
// message) and nothing is sent until a drawable one comes.
TEST_F(SyntheticVideoSourceTest, OddSizesAreDrawnAndUndrawableOnesRefusedUntilADrawableOneComes) {
  testing::LogCapture log("video:2");
  for (auto [width, height] :
       {std::pair{1, 1}, {3, 5}, {-4, 480}, {-4, 100000}, {257, 9}, {0, 0}}) {
    SCOPED_TRACE(::testing::Message() << width << "x" << height);
    log.clear();
    sink_->clear();
    set("req_height", PropertyValue(height));
    set("req_width", PropertyValue(width));
    advance(width < 0 ? kFrame * 3 : kFrame);
    if (width < 0) {
      EXPECT_EQ(0u, sink_->count());
      EXPECT_EQ(status_codes::Error_Unknown, statusCode());
      EXPECT_EQ(stringPrintf("Frame size out of range: %dx%d", width, height),
                source_->getStatus()->getStatusMessage());
      EXPECT_EQ(1u, log.lines().size());  // once, not at every tick
      continue;
    }
    EXPECT_EQ(status_codes::Ok, statusCode());
    ASSERT_EQ(sink_->count(), 1u);
    auto const& f = *frame(0);
    EXPECT_EQ(std::pair(width, height), std::pair(f.width(), f.height()));
    if (width == 0) continue;
    // Bars where they fit: red at the origin, white from x = 224 on; chroma
    // outside whole blocks is neutral, never left undefined.
    EXPECT_EQ(76, luma(f, 0, 0));
    EXPECT_TRUE(width <= 224 || luma(f, 255, std::min(7, height - 1)) == 255);
    ImageBuffer::Plane const& u = f.planes()[1];
    EXPECT_TRUE(height <= 8 || width % 2 == 0 ||
                *f.getPixelAddress(u.width_ - 1, u.height_ - 1, 1) == 128);
  }
}

// The test pattern device source on the capture fixture.
class TestPatternVideoSourceTest : public CaptureSourceTest<TestPatternVideoSource> {
 protected:
  TestPatternVideoSourceTest() : CaptureSourceTest(kStart) {}
  void start(TestPatternVideoSource::Pacing pacing) {
    attach(createTestPatternVideoSource(cameraArgs("pattern", 160, 120), pacing));
  }
};

// Frames come drawn and stamped by the clock when released.
TEST_F(TestPatternVideoSourceTest, FramesAreDrawnAndStampedWhenReleased) {
  start(TestPatternVideoSource::Pacing::kOnRequest);
  generator_.advanceClock(Duration::fromMSec(40));
  source_->releaseFrames(2);
  ASSERT_TRUE(source_->waitForFramesDelivered(2, Duration::fromSec(30)));
  settle();
  ASSERT_EQ(2u, sink_->count());
  auto frame = sink_->frames()[1];
  EXPECT_EQ(kStart + Duration::fromMSec(40), frame->getStartTimestamp());
  EXPECT_TRUE(showsCaption(*frame, "Test pattern 000001"));
}

// TearDown drops the source while frames are still coming: the capture
// thread must end with it.
TEST_F(TestPatternVideoSourceTest, FreeRunningSourceStopsCleanlyWhenReleased) {
  start(TestPatternVideoSource::Pacing::kWallClock);
  source_->getPropertyNode("req_fps")->setValue(PropertyValue(500.0f));
  settle();
  ASSERT_TRUE(source_->waitForFramesDelivered(5, Duration::fromSec(30)));
}

}  // namespace
}  // namespace dravo::media
