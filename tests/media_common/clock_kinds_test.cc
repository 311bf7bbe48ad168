// The same timer contract on every clock kind that a test can drive:
// delivery, cancellation, a cancel racing the delivery, and destruction;
// then what the fast-forward clock alone does.

#include <gtest/gtest.h>

#include <thread>

#include "common/deferred.h"
#include "common/property_node.h"
#include "media_common/clock_private.h"
#include "media_common/property_clock.h"
#include "media_common/repeating_timer.h"
#include "media_common/scaled_clock.h"
#include "media_common/synthetic_clock.h"
#include "media_common/trivial_scheduler.h"
#include "tests/media_common/clock_test_support.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

using testing::EventRecorder;
using testing::TimerEvent;

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

TEST(FastForwardClockTest, LeapsToThePendingTimerWhenTheSchedulerIsIdleButNeverAcrossGenerations) {
  auto scheduler = std::make_shared<testing::ManualScheduler>();
  auto clock = getFastForwardClock(scheduler, kStart);
  auto recorder = std::make_unique<EventRecorder>(clock);  // reads the clock: holds it
  clock->requestCallbackIn(Duration::fromSec(10.0), recorder->callback(1), Clock::FireIfFrozen);
  EXPECT_EQ(1u, scheduler->size());  // only the idle task: the clock has not moved
  EXPECT_TRUE(scheduler->runOne());
  EXPECT_EQ(
      (std::vector<TimerEvent>{{1, Clock::Normal, ClockTime(0, kStart + Duration::fromSec(10.0))}}),
      recorder->events());
  recorder.reset();

  // A timer in another generation can never come due: dropped until shutdown.
  testing::LogCapture capture("clock:4");
  EventRecorder impossible;
  clock->requestCallbackAt(ClockTime(2, kStart), impossible.callback(2));
  EXPECT_EQ(0u, scheduler->size());
  EXPECT_TRUE(
      capture.contains(" Ignoring impossible callback (will be called at clock shutdown)."));
  clock.reset();
  EXPECT_EQ((std::vector<TimerEvent>{{2, Clock::Aborted, ClockTime()}}), impossible.events());
}

TEST(FastForwardClockTest, EveryRunGivesTheSameCallbacksInTheSameOrderAtTheSameTimes) {
  // Three cadences that meet at shared times, stopped together at 305 ms.
  auto run = [] {
    auto scheduler = createTrivialScheduler();
    auto clock = getFastForwardClock(scheduler, kStart);
    EventRecorder recorder(clock);
    auto owner = std::make_shared<int>(0);
    std::vector<std::unique_ptr<RepeatingTimer>> timers;
    for (int tag = 1; tag <= 3; ++tag) {
      auto callback = recorder.callback(tag);
      timers.push_back(std::make_unique<RepeatingTimer>(
          clock, WeakFunction<void()>(owner, [callback] { callback(Clock::Normal); }),
          Duration::fromMSec(10 * tag)));
    }
    std::atomic<bool> done{false};
    AutoHandle<ClockTimerHandleObject> stop(
        clock->requestCallbackAt(ClockTime(0, kStart + Duration::fromMSec(305)), [&](Clock::Event) {
          for (auto& timer : timers) timer->setInterval(Duration());
          done = true;
        }));
    scheduler->start();
    while (!done) scheduler->waitIdle();
    scheduler->shutdown(true);
    return recorder.events();
  };
  auto first = run();
  ASSERT_EQ(30u + 15u + 10u, first.size());
  for (TimerEvent const& e : first)
    EXPECT_EQ(0, (e.reading.time() - kStart).toMSec() % (10 * e.tag));
  EXPECT_EQ(first, run());
}

}  // namespace
}  // namespace dravo::media
