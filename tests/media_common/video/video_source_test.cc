#include "media_common/video/video_source.h"

#include <gtest/gtest.h>

#include "common/deferred.h"
#include "media_common/property_clock.h"
#include "media_common/synthetic_clock.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

class PlainVideoSource : public VideoSource {
 public:
  using VideoSource::publishActualFps;
  using VideoSource::publishDoCrop;
  using VideoSource::publishMode;
  int32_t width() const { return *width_; }
  float actualFps() const { return *actual_fps_; }
};

class VideoSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = createElement<PlainVideoSource>(ElementArgs(scheduler_, root_->getNode("cam", true)));
    settle();
  }
  void TearDown() override { scheduler_->shutdown(true); }
  void settle() {
    do {
      waitForDeferredCalls();
    } while (scheduler_->runAll() > 0);
  }
  std::shared_ptr<PropertyNode> node(char const* name) { return source_->getPropertyNode(name); }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<PlainVideoSource> source_;
};

TEST_F(VideoSourceTest, PropertiesHaveTheirDefaultsHelpAndAccess) {
  struct Expected {
    char const* name;
    PropertyValue value;
    char const* help;
    bool read_only;
  };
  Expected const expected[] = {
      {"req_width", PropertyValue(640), "Requested width.", false},
      {"req_height", PropertyValue(480), "Requested height.", false},
      {"req_fps", PropertyValue(30.0f), "Requested frame rate (frames per second).", false},
      {"width", PropertyValue(640), "Actual width.", true},
      {"height", PropertyValue(480), "Actual height.", true},
      {"fps", PropertyValue(30.0f), "Frame rate of the current camera mode (frames per second).",
       true},
      {"actual_fps", PropertyValue(30.0f),
       "Actual rate of the frames captured by this source (frames per second).", true},
      {"do_crop", PropertyValue(true),
       "Used to indicate to the receiving party whether it's OK to crop the video.", true},
      {"enabled", PropertyValue(false), nullptr, false},
      {"req_pixel_format", PropertyValue(ImageBuffer::IMAGE_CONSTRAINED_I420),
       "Preferred pixel format (e.g. as indicated by the encoder or video monitor).", false},
  };
  for (Expected const& e : expected) {
    SCOPED_TRACE(e.name);
    EXPECT_TRUE(node(e.name)->getValue().sameValue(e.value)) << node(e.name)->getValue().toString();
    if (e.help)
      EXPECT_EQ(PropertyValue(e.help), node(e.name)->getMeta("help"));
    else
      EXPECT_FALSE(node(e.name)->hasMeta("help"));
    EXPECT_EQ(e.read_only, node(e.name)->hasMeta("read_only"));
  }
}

TEST_F(VideoSourceTest, ClockFollowsItsPropertyAndFallsBackToTheSystemClock) {
  Time const system_reading = source_->getClock()->getTime();
  EXPECT_GT(system_reading, Time::min());
  SyntheticClockGenerator generator(false, Time::fromNSec(42));
  setPropertyClock(*node("clock"), generator.getClock());
  EXPECT_EQ(Time::fromNSec(42), source_->getClock()->getTime());
  generator.advanceClock(Duration::fromSec(1));
  EXPECT_EQ(Time::fromNSec(42) + Duration::fromSec(1), source_->getClock()->getTime());
}

TEST_F(VideoSourceTest, PublishedValuesReachNodesWrappersAndTheFpsHistory) {
  source_->publishMode(1280, 720, 15.0f);
  source_->publishDoCrop(false);
  source_->publishActualFps(14.5f);
  source_->publishActualFps(15.5f);
  settle();
  EXPECT_EQ(PropertyValue(1280), node("width")->getValue());
  EXPECT_EQ(PropertyValue(720), node("height")->getValue());
  EXPECT_EQ(PropertyValue(15.0f), node("fps")->getValue());
  EXPECT_EQ(PropertyValue(false), node("do_crop")->getValue());
  EXPECT_EQ(1280, source_->width());
  EXPECT_FLOAT_EQ(15.5f, source_->actualFps());

  auto const& history = source_->getActualFpsHistory();
  EXPECT_EQ(node("actual_fps"), history->node());
  size_t samples = 0;
  double sum = 0;
  for (auto const& bucket : history->history().buckets()) {
    samples += bucket.count;
    sum += bucket.sum;
  }
  EXPECT_EQ(2u, samples);
  EXPECT_DOUBLE_EQ(30.0, sum);
}

}  // namespace
}  // namespace dravo::media
