// The same timer contract on every clock kind that a test can drive:
// delivery, cancellation, a cancel racing the delivery, and destruction.

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "common/deferred.h"
#include "common/property_node.h"
#include "media_common/clock.h"
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

// Owns one clock and whatever drives it; by default the synthetic clock.
struct Driver {
  virtual ~Driver() = default;
  // Moves the clock `d` forward in its own time; due timers are delivered
  // before this returns.
  virtual void advance(Duration d) {
    synthetic.advanceClock(d / divisor);
    waitForDeferredCalls();
  }
  SyntheticClockGenerator synthetic{false, kStart};
  int divisor = 1;  // the synthetic clock's share of the driven clock's time
  std::shared_ptr<Clock> clock = synthetic.getClock();
};

struct FastForwardDriver : Driver {
  FastForwardDriver() { clock = getFastForwardClock(scheduler, kStart); }
  void advance(Duration d) override {
    Time target = clock->getTime() + d;
    // A marker timer makes the clock stop exactly at the target.
    ClockTimerHandle marker = clock->requestCallbackIn(
        d, [](Clock::Event) {}, Clock::FireIfFrozen);
    while (clock->getTime() < target && scheduler->runOne()) {
    }
  }
  std::shared_ptr<testing::ManualScheduler> scheduler =
      std::make_shared<testing::ManualScheduler>();
};

struct ScaledDriver : Driver {
  ScaledDriver() {
    divisor = 2;
    clock = scaled.getClock();
  }
  ScaledClockGenerator scaled{synthetic.getClock(), false, kStart, 2.0};
};

struct PropertyDriver : Driver {
  PropertyDriver() {
    setPropertyClock(*node, synthetic.getClock());
    clock = getPropertyClock(node, getFrozenClock());
  }
  std::shared_ptr<PropertyNode> node = PropertyNode::create("clock");
};

struct Kind {
  const char* name;
  std::function<std::unique_ptr<Driver>()> make;
};

class ClockKindsTest : public ::testing::TestWithParam<Kind> {
 protected:
  std::unique_ptr<Driver> driver_ = GetParam().make();
  std::shared_ptr<Clock> clock_ = driver_->clock;
};

TEST_P(ClockKindsTest, TimersFireOnceAtTheirTimeUnlessCancelled) {
  EventRecorder recorder(clock_);
  ClockTime target = clock_->getNormalizedClockTime() + ms(40);
  ClockTimerHandle due = clock_->requestCallbackAt(target, recorder.callback(1));
  ClockTimerHandle cancelled =
      clock_->requestCallbackIn(ms(10), recorder.callback(2), Clock::FireIfFrozen);
  cancelled->cancel();
  {
    AutoHandle<ClockTimerHandleObject> owned(
        clock_->requestCallbackIn(ms(10), recorder.callback(3), Clock::FireIfFrozen));
  }
  clock_->requestCallbackIn(ms(10), recorder.callback(4), Clock::FireIfFrozen);  // handle dropped
  driver_->advance(ms(39));
  ASSERT_EQ((std::vector<int>{2, 3, 4}), recorder.tags());
  EXPECT_EQ(Clock::Cancelled, recorder.events()[0].event);
  EXPECT_EQ(Clock::Cancelled, recorder.events()[1].event);
  EXPECT_EQ(Clock::Normal, recorder.events()[2].event);
  EXPECT_TRUE(due->pending());
  driver_->advance(ms(1));
  ASSERT_EQ(4u, recorder.size());
  EXPECT_EQ((testing::TimerEvent{1, Clock::Normal, target}), recorder.events()[3]);
  EXPECT_FALSE(due->pending());
  driver_->advance(ms(100));
  EXPECT_EQ(4u, recorder.size());
}

TEST_P(ClockKindsTest, ACancelRacingTheDeliveryFromAnotherThreadGivesOneEvent) {
  for (int round = 0; round < 50; ++round) {
    EventRecorder recorder;
    ClockTimerHandle handle =
        clock_->requestCallbackIn(ms(1), recorder.callback(round), Clock::FireIfFrozen);
    std::thread canceller([&] { handle->cancel(); });
    driver_->advance(ms(1));
    canceller.join();
    ASSERT_EQ(1u, recorder.size()) << "round " << round;
    EXPECT_NE(Clock::Aborted, recorder.events()[0].event);
  }
  EXPECT_EQ(0u, clock_->impl()->timerCount());
}

TEST_P(ClockKindsTest, DestroyingTheClockAbortsWhatIsPending) {
  EventRecorder recorder;
  clock_->requestCallbackIn(ms(10), recorder.callback(1), Clock::FireIfFrozen);
  clock_->requestCallbackIn(ms(20), recorder.callback(2), Clock::WaitUntilUnfrozen);
  driver_->clock.reset();
  clock_.reset();
  driver_.reset();  // a generator holds its clock too
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<int>{1, 2}), recorder.tags());
  for (auto const& e : recorder.events()) EXPECT_EQ(Clock::Aborted, e.event);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, ClockKindsTest,
    ::testing::Values(Kind{"Synthetic", [] { return std::make_unique<Driver>(); }},
                      Kind{"FastForward",
                           [] { return std::unique_ptr<Driver>(new FastForwardDriver); }},
                      Kind{"Scaled", [] { return std::unique_ptr<Driver>(new ScaledDriver); }},
                      Kind{"Property", [] { return std::unique_ptr<Driver>(new PropertyDriver); }}),
    [](::testing::TestParamInfo<Kind> const& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dravo::media
