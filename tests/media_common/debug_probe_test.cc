#include "media_common/debug_probe.h"

#include <gtest/gtest.h>

#include "common/deferred.h"
#include "media_common/synthetic_clock.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

constexpr char kIdleMessage[] =
    "media_common/debug_probe.cc:32: Element check [!had_activity] failed: No activity for over "
    "one second.";

class DebugProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    probe_ = createElement<DebugProbe>(ElementArgs(scheduler_, root_->getNode("probe", true)),
                                       generator_.getClock());
    feeder_->initialize(PadArgs(root_->getNode("feeder", true), scheduler_));
    link_ = LinkHandle(feeder_->link(*probe_->getInputPad()));
    scheduler_->runAll();
  }
  // Moves the check clock on and runs the checks that came due.
  void advance(Duration d) {
    generator_.advanceClock(d);
    waitForDeferredCalls();
    scheduler_->runAll();
  }
  std::string message() const { return probe_->getStatus()->getStatusMessage(); }

  Time t0_ = Time::fromNSec(2000000000000);
  SyntheticClockGenerator generator_{false, t0_};
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create();
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<DebugProbe> probe_;
  std::shared_ptr<OutputPad<Buffer>> feeder_ = std::make_shared<OutputPad<Buffer>>();
  LinkHandle link_;
};

TEST_F(DebugProbeTest, ReportsIdleAtEveryCheckWithoutABufferSinceTheLastAndLogsBuffers) {
  testing::LogCapture log("debug_probe:5");
  advance(Duration::fromMSec(999));
  // The timer only posts the check; it runs on the element's scheduler.
  generator_.advanceClock(Duration::fromMSec(1));
  waitForDeferredCalls();
  EXPECT_EQ(message(), "");
  scheduler_->runAll();
  EXPECT_EQ(probe_->getStatus()->getStatusCode(), status_codes::Error_PipelineProbeIdle);
  EXPECT_EQ(message(), kIdleMessage);
  // A buffer within the next second clears it; a second without sets it again.
  advance(Duration::fromMSec(500));
  auto buffer = std::make_shared<Buffer>();
  buffer->setPriority(7);
  buffer->setStartTimestamp(t0_ + Duration::fromMSec(42));
  feeder_->sendBuffer(buffer);
  scheduler_->runAll();
  advance(Duration::fromMSec(500));
  EXPECT_EQ(message(), "Element Ok");
  advance(Duration::fromMSec(1000));
  EXPECT_EQ(message(), kIdleMessage);
  auto lines = log.messages("debug_probe");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with("Got buffer on probe probe. Timestamp ") &&
              lines[0].ends_with(". Priority 7"))
      << lines[0];
}

}  // namespace
}  // namespace dravo::media
