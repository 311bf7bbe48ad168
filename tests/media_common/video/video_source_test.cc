#include "media_common/video/video_source.h"

#include <gtest/gtest.h>

#include "common/deferred.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

// Exposes the publishing helpers that device sources call.
class PlainVideoSource : public VideoSource {
 public:
  using VideoSource::publishActualFps;
  using VideoSource::publishMode;
};

TEST(VideoSourceTest, PublishesItsModeAndFpsHistory) {
  auto scheduler = std::make_shared<testing::ManualScheduler>();
  auto source = createElement<PlainVideoSource>(
      ElementArgs(scheduler, PropertyNode::create("pipeline")->getNode("cam", true)));
  source->publishMode(1280, 720, 15.0f);
  source->publishActualFps(14.5f);
  source->publishActualFps(15.5f);
  do {
    waitForDeferredCalls();
  } while (scheduler->runAll() > 0);
  EXPECT_EQ(PropertyValue(15.0f), source->getPropertyNode("fps")->getValue());
  EXPECT_EQ(PropertyValue(1280), source->getPropertyNode("width")->getValue());
  double sum = 0;
  for (auto const& bucket : source->getActualFpsHistory()->history().buckets()) sum += bucket.sum;
  EXPECT_DOUBLE_EQ(30.0, sum);
  scheduler->shutdown(true);
}

}  // namespace
}  // namespace dravo::media
