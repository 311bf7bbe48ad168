// The fast-forward clock: simulated time that leaps from timer to timer
// whenever its scheduler is idle.

#include <gtest/gtest.h>

#include "media_common/repeating_timer.h"
#include "media_common/trivial_scheduler.h"
#include "tests/media_common/clock_test_support.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

using testing::EventRecorder;
using testing::TimerEvent;

constexpr Time kStart = Time::fromNSec(7000000000000);

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
