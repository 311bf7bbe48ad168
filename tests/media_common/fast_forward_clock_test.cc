// The fast-forward clock: simulated time that leaps from timer to timer
// whenever its scheduler is idle.

#include <gtest/gtest.h>

#include "common/deferred.h"
#include "media_common/clock.h"
#include "media_common/clock_private.h"
#include "media_common/repeating_timer.h"
#include "media_common/trivial_scheduler.h"
#include "tests/media_common/clock_test_support.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

using testing::EventRecorder;
using testing::ManualScheduler;
using testing::TimerEvent;

constexpr Time kStart = Time::fromNSec(7000000000000);

TEST(FastForwardClockTest, LeapsToThePendingTimerWhenTheSchedulerIsIdle) {
  auto scheduler = std::make_shared<ManualScheduler>();
  auto clock = getFastForwardClock(scheduler, kStart);
  EventRecorder recorder(clock);
  EXPECT_EQ(ClockTime(0, kStart), clock->getNormalizedClockTime());
  clock->requestCallbackIn(Duration::fromSec(10.0), recorder.callback(1), Clock::FireIfFrozen);
  // Only the idle task is queued; the clock has not moved.
  EXPECT_EQ(1u, scheduler->size());
  EXPECT_EQ(ClockTime(0, kStart), clock->getNormalizedClockTime());
  EXPECT_TRUE(scheduler->runOne());
  EXPECT_EQ(
      (std::vector<TimerEvent>{{1, Clock::Normal, ClockTime(0, kStart + Duration::fromSec(10.0))}}),
      recorder.events());
  EXPECT_EQ(0u, scheduler->size());
}

TEST(FastForwardClockTest, PipelineWorkRunsBeforeTheClockMovesOn) {
  auto scheduler = std::make_shared<ManualScheduler>();
  auto clock = getFastForwardClock(scheduler, kStart);
  std::vector<std::string> trace;
  auto owner = std::make_shared<int>(0);
  auto info = std::make_shared<SimpleTaskInfo>("work");
  // Each timer posts work; each piece of work asks for the next timer.
  std::function<void()> work;
  int remaining = 3;
  work = [&] {
    trace.push_back("work at " + std::to_string((clock->getTime() - kStart).toMSec()));
    scheduler->schedule(TaskFunction(owner, [&] { trace.push_back("follow-up"); }),
                        Priority(0, false), info);
    if (--remaining > 0)
      clock->scheduleInNormalOnly(Duration::fromMSec(40), scheduler, Priority(0, false), info,
                                  WeakFunction<void()>(owner, work), Clock::FireIfFrozen);
  };
  clock->scheduleInNormalOnly(Duration::fromMSec(40), scheduler, Priority(0, false), info,
                              WeakFunction<void()>(owner, work), Clock::FireIfFrozen);
  scheduler->runAll();
  EXPECT_EQ((std::vector<std::string>{"work at 40", "follow-up", "work at 80", "follow-up",
                                      "work at 120", "follow-up"}),
            trace);
}

TEST(FastForwardClockTest, AMinuteOfTimersOnATrivialScheduler) {
  // Started only once everything is set up: an idle running scheduler lets
  // the clock leap at once.
  auto scheduler = createTrivialScheduler();
  auto clock = getFastForwardClock(scheduler, kStart);
  auto owner = std::make_shared<int>(0);
  std::vector<Time> ticks;  // touched only on the scheduler's thread
  RepeatingTimer timer(clock,
                       WeakFunction<void()>(owner, [&] { ticks.push_back(clock->getTime()); }),
                       Duration::fromMSec(10));
  // Just after the last tick: a stop at the same time would come first.
  Time const end = kStart + Duration::fromSec(60.0) + Duration::fromMSec(5);
  std::atomic<bool> done{false};
  AutoHandle<ClockTimerHandleObject> stop(
      clock->requestCallbackAt(ClockTime(0, end), [&](Clock::Event) {
        timer.setInterval(Duration());
        done = true;
      }));
  scheduler->start();
  while (!done) scheduler->waitIdle();
  scheduler->waitIdle();
  ASSERT_EQ(6000u, ticks.size());
  for (size_t i = 0; i < ticks.size(); ++i)
    ASSERT_EQ(kStart + Duration::fromMSec(10 * static_cast<int64_t>(i + 1)), ticks[i]);
  scheduler->shutdown(true);
}

TEST(FastForwardClockTest, TimersInAnotherGenerationAreDroppedUntilShutdown) {
  testing::LogCapture capture("clock:4");
  auto scheduler = std::make_shared<ManualScheduler>();
  auto clock = getFastForwardClock(scheduler, kStart);
  EventRecorder recorder;
  clock->requestCallbackAt(ClockTime(2, kStart), recorder.callback(1));
  EXPECT_EQ(0u, scheduler->size());
  EXPECT_TRUE(
      capture.contains(" Ignoring impossible callback (will be called at clock shutdown)."));
  clock.reset();
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime()}}), recorder.events());
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
  // At 60 ms all three are due: in the order their requests were made.
  EXPECT_EQ((TimerEvent{1, Clock::Normal, ClockTime(0, kStart + Duration::fromMSec(10))}),
            first[0]);
  EXPECT_EQ(first, run());
  EXPECT_EQ(first, run());
}

}  // namespace
}  // namespace dravo::media
