#pragma once
// The common set-up of the capture source tests: a source on a
// hand-stepped scheduler (and, for device sources, a synthetic clock), its
// frames collected by a sink element.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "common/deferred.h"
#include "media_common/link_handle.h"
#include "media_common/synthetic_clock.h"
#include "tests/media_common/video/video_test_support.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {

template <typename Source>
class CaptureSourceTest : public ::testing::Test {
 protected:
  explicit CaptureSourceTest(Time clock_start = Time()) : generator_(false, clock_start) {}

  // Arguments for a source named "camera" on the synthetic clock, enabled,
  // asking for `width` x `height` from `device`.
  ElementArgs cameraArgs(std::string const& device, int width, int height) {
    ElementArgs args(scheduler_, root_->getNode("camera", true));
    args.property("clock", PropertyValue(std::weak_ptr<Clock>(generator_.getClock())))
        .property("device", PropertyValue(device))
        .property("req_width", PropertyValue(width))
        .property("req_height", PropertyValue(height))
        .property("enabled", PropertyValue(true));
    return args;
  }
  // Takes `source`, links it to a frame collector and runs what is due.
  void attach(std::shared_ptr<Source> source) {
    source_ = std::move(source);
    sink_ = createElement<video_testing::FrameCollector>(
        ElementArgs(scheduler_, root_->getNode("sink", true)));
    link_ = LinkHandle(source_->getOutputPad()->link(*sink_->getInputPad()));
    settle();
  }
  void TearDown() override {
    link_ = LinkHandle();
    source_.reset();
    scheduler_->shutdown(true);
  }
  // Runs deferred calls and scheduler tasks until neither has work left.
  void settle() {
    do {
      waitForDeferredCalls();
    } while (scheduler_->runAll() > 0);
  }
  // Runs the scheduler until `condition` holds, for the source's own
  // threads; false after a generous wall-clock time-out.
  template <typename Condition>
  bool eventually(Condition condition) {
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (settle(); !condition(); settle()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  // Moves the clock on one second at a time.
  void runFor(Duration d) {
    for (Duration done; done < d; done = done + Duration::fromSec(1)) {
      generator_.advanceClock(Duration::fromSec(1));
      settle();
    }
  }
  int statusCode() { return source_->getStatus()->getStatusCode(); }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  SyntheticClockGenerator generator_;
  std::shared_ptr<Source> source_;
  std::shared_ptr<video_testing::FrameCollector> sink_;
  LinkHandle link_;
};

}  // namespace dravo::media
