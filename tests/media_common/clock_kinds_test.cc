// The same timer contract on every clock kind that a test can drive:
// delivery, cancellation, a cancel racing the delivery, and destruction.

#include <gtest/gtest.h>

#include <thread>

#include "common/deferred.h"
#include "common/property_node.h"
#include "media_common/clock_private.h"
#include "media_common/property_clock.h"
#include "media_common/scaled_clock.h"
#include "media_common/synthetic_clock.h"
#include "tests/media_common/clock_test_support.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

using testing::EventRecorder;

constexpr Time kStart = Time::fromNSec(6000000000000);
Duration ms(int64_t n) { return Duration::fromMSec(n); }
enum Kind { kSynthetic, kFastForward, kScaled, kProperty };

// Owns one clock of the kind under test and whatever drives it.
struct Driver {
  explicit Driver(int kind) : kind(kind) {
    if (kind == kFastForward) clock = getFastForwardClock(scheduler, kStart);
    if (kind == kScaled) clock = scaled.getClock();
    if (kind == kProperty) {
      setPropertyClock(*node, synthetic.getClock());
      clock = getPropertyClock(node, getFrozenClock());
    }
  }
  // Moves the clock `d` forward in its own time; due timers are delivered
  // before this returns.
  void advance(Duration d) {
    if (kind != kFastForward) {
      synthetic.advanceClock(kind == kScaled ? d / 2 : d);
      return waitForDeferredCalls();
    }
    Time target = clock->getTime() + d;
    // A marker timer makes the clock stop exactly at the target.
    ClockTimerHandle marker = clock->requestCallbackIn(
        d, [](Clock::Event) {}, Clock::FireIfFrozen);
    while (clock->getTime() < target && scheduler->runOne()) {
    }
  }
  int kind;
  std::shared_ptr<testing::ManualScheduler> scheduler =
      std::make_shared<testing::ManualScheduler>();
  SyntheticClockGenerator synthetic{false, kStart};
  ScaledClockGenerator scaled{synthetic.getClock(), false, kStart, 2.0};
  std::shared_ptr<PropertyNode> node = PropertyNode::create("clock");
  std::shared_ptr<Clock> clock = synthetic.getClock();
};

class ClockKindsTest : public ::testing::TestWithParam<int> {
 protected:
  std::unique_ptr<Driver> driver_ = std::make_unique<Driver>(GetParam());
  std::shared_ptr<Clock> clock_ = driver_->clock;
};

TEST_P(ClockKindsTest, TimersFireOnceAtTheirTimeUnlessCancelled) {
  EventRecorder recorder(clock_);
  ClockTime target = clock_->getNormalizedClockTime() + ms(40);
  ClockTimerHandle due = clock_->requestCallbackAt(target, recorder.callback(1));
  clock_->requestCallbackIn(ms(10), recorder.callback(2), Clock::FireIfFrozen)->cancel();
  AutoHandle<ClockTimerHandleObject>(
      clock_->requestCallbackIn(ms(10), recorder.callback(3), Clock::FireIfFrozen));
  clock_->requestCallbackIn(ms(10), recorder.callback(4), Clock::FireIfFrozen);  // handle dropped
  driver_->advance(ms(39));
  ASSERT_EQ((std::vector<int>{2, 3, 4}), recorder.tags());
  for (int i : {0, 1}) EXPECT_EQ(Clock::Cancelled, recorder.events()[i].event);
  EXPECT_EQ(Clock::Normal, recorder.events()[2].event);
  driver_->advance(ms(1));
  ASSERT_EQ(4u, recorder.events().size());
  EXPECT_EQ((testing::TimerEvent{1, Clock::Normal, target}), recorder.events()[3]);
  EXPECT_FALSE(due->pending());
  driver_->advance(ms(100));
  EXPECT_EQ(4u, recorder.events().size());
}

TEST_P(ClockKindsTest, ACancelRacingTheDeliveryFromAnotherThreadGivesOneEvent) {
  for (int round = 0; round < 50; ++round) {
    EventRecorder recorder;
    ClockTimerHandle handle =
        clock_->requestCallbackIn(ms(1), recorder.callback(round), Clock::FireIfFrozen);
    std::thread canceller([&] { handle->cancel(); });
    driver_->advance(ms(1));
    canceller.join();
    ASSERT_EQ(1u, recorder.events().size()) << "round " << round;
    EXPECT_NE(Clock::Aborted, recorder.events()[0].event);
  }
  EXPECT_EQ(0u, clock_->impl()->timerCount());
}

TEST_P(ClockKindsTest, DestroyingTheClockAbortsWhatIsPending) {
  EventRecorder recorder;
  clock_->requestCallbackIn(ms(10), recorder.callback(1), Clock::FireIfFrozen);
  clock_->requestCallbackIn(ms(20), recorder.callback(2), Clock::WaitUntilUnfrozen);
  clock_.reset();
  driver_.reset();  // a generator holds its clock too
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<int>{1, 2}), recorder.tags());
  for (auto const& e : recorder.events()) EXPECT_EQ(Clock::Aborted, e.event);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, ClockKindsTest, ::testing::Range(0, 4),
                         [](::testing::TestParamInfo<int> const& info) {
                           return std::string((char const*[]){"Synthetic", "FastForward", "Scaled",
                                                              "Property"}[info.param]);
                         });

}  // namespace
}  // namespace dravo::media
