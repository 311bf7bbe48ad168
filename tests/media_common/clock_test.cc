// The public Clock: posting timer events onto schedulers, blocking sleeps,
// the frozen clock and what destruction delivers.

#include "media_common/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "common/deferred.h"
#include "media_common/clock_private.h"
#include "media_common/synthetic_clock.h"
#include "tests/media_common/clock_test_support.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

using testing::EventRecorder;

constexpr Time kStart = Time::fromNSec(5000000000000);
Duration ms(int64_t n) { return Duration::fromMSec(n); }

TEST(ScheduleOnClockTest, EventsBecomeTasksInPriorityOrderAndNormalOnlyDropsTheOthers) {
  SyntheticClockGenerator generator(false, kStart);
  auto clock = generator.getClock();
  auto scheduler = std::make_shared<testing::ManualScheduler>();
  auto info = std::make_shared<SimpleTaskInfo>("timer");
  EventRecorder recorder(clock);
  int normal_only_calls = 0;
  auto owner = std::make_shared<int>(0);
  WeakFunction<void()> count(owner, [&] { ++normal_only_calls; });
  auto in = [&](int64_t n, int level, WeakFunction<void(Clock::Event)> callback) {
    return clock->scheduleIn(ms(n), scheduler, Priority(level, false), info, callback,
                             Clock::FireIfFrozen);
  };
  auto advance = [&](int64_t n) {
    generator.advanceClock(ms(n));
    waitForDeferredCalls();
  };
  clock->scheduleAt(ClockTime(0, kStart + ms(10)), scheduler, Priority(1, false), info,
                    recorder.callback(1));
  in(10, 9, recorder.callback(9));
  clock->scheduleInNormalOnly(ms(10), scheduler, Priority(0, false), info, count,
                              Clock::FireIfFrozen);
  in(20, 0, recorder.callback(2))->cancel();
  clock->scheduleAtNormalOnly(ClockTime(0, kStart + ms(20)), scheduler, Priority(0, false), info,
                              count);
  in(20, 0, recorder.callback(4));
  advance(10);
  EXPECT_EQ(0u, recorder.events().size());  // delivered, but the tasks wait for the scheduler
  scheduler->runAll();
  EXPECT_EQ((std::vector<int>{9, 1, 2}), recorder.tags());  // higher levels first
  EXPECT_EQ(Clock::Cancelled, recorder.events()[2].event);
  generator.setTime(kStart - ms(100), true, Duration());  // a jump aborts the rest
  waitForDeferredCalls();
  scheduler->runAll();
  EXPECT_EQ(1, normal_only_calls);
  ASSERT_EQ(4u, recorder.events().size());
  EXPECT_EQ(Clock::Aborted, recorder.events()[3].event);
  // Nothing runs if the owner dies before the task runs.
  in(1, 0, recorder.callback(5));
  advance(1);
  recorder.kill();
  EXPECT_EQ(1, scheduler->runAll());
  EXPECT_EQ(4u, recorder.events().size());
}

TEST(ClockSleepTest, SleepIsTrueWhenReachedFalseWhenAbortedOrDestroyed) {
  SyntheticClockGenerator generator(false, kStart);
  auto clock = generator.getClock();
  ClockPrivate* impl = clock->impl().get();
  auto sleepOnAnotherThread = [&](std::function<bool()> sleep, std::function<void()> then) {
    std::atomic<int> result{-1};
    std::thread sleeper([&] { result = sleep(); });
    while (impl->timerCount() == 0) std::this_thread::yield();
    then();
    sleeper.join();
    EXPECT_EQ(0u, impl->timerCount());
    return result.load();
  };
  EXPECT_EQ(1, sleepOnAnotherThread([&] { return clock->sleep(ms(30), Clock::FireIfFrozen); },
                                    [&] { generator.advanceClock(ms(30)); }));
  EXPECT_EQ(0,
            sleepOnAnotherThread([&] { return clock->sleepUntil(ClockTime(0, kStart + ms(100))); },
                                 [&] { generator.freeze(); }));
  // The sleeper's copy of the Clock keeps the clock alive; finalize destroys
  // it by hand, as the last owner's release would.
  Clock copy = *clock;
  EXPECT_EQ(0, sleepOnAnotherThread([&] { return copy.sleep(ms(30), Clock::WaitUntilUnfrozen); },
                                    [&] { impl->finalize(); }));
}

TEST(ClockTimerCancelTest, CancelWaitsForACallbackRunningElsewhereButNotInsideIt) {
  SyntheticClockGenerator generator(false, kStart);
  auto clock = generator.getClock();
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> calls{0};
  std::atomic<bool> finished{false};
  ClockTimerHandle handle;
  handle = clock->requestCallbackIn(
      ms(10),
      [&](Clock::Event) {
        ++calls;
        handle->cancel();  // its own timer: must not wait for itself
        entered.set_value();
        released.wait();
        finished = true;
      },
      Clock::FireIfFrozen);
  generator.advanceClock(ms(10));
  ASSERT_EQ(std::future_status::ready, entered.get_future().wait_for(std::chrono::seconds(30)));
  std::promise<bool> finished_when_cancel_returned;
  std::future<bool> cancel_returned = finished_when_cancel_returned.get_future();
  std::thread canceller([&] {
    handle->cancel();
    finished_when_cancel_returned.set_value(finished);
  });
  // Time for a cancel that does not wait to return while the callback runs.
  cancel_returned.wait_for(std::chrono::milliseconds(100));
  release.set_value();
  EXPECT_TRUE(cancel_returned.get());
  canceller.join();
  EXPECT_EQ(1, calls.load());
}

TEST(ClockDestructionTest, PendingTimersAreAbortedOnTheDestroyingThreadAndFrozenOnesNeverFire) {
  // Level 7: repeats within a second are throttled down from level 3.
  testing::LogCapture capture("clock:7");
  EventRecorder recorder;
  auto frozen = getFrozenClock();
  frozen->requestCallbackIn(ms(1), recorder.callback(-1), Clock::FireIfFrozen);
  frozen->requestCallbackAt(ClockTime(0, kStart), recorder.callback(-2));
  waitForDeferredCalls();
  EXPECT_EQ(0u, recorder.events().size());
  EXPECT_TRUE(capture.contains("Ignoring call to FrozenClock::requestCallbackAt"));
  frozen.reset();
  std::thread::id delivered_on;
  {
    SyntheticClockGenerator generator(false, kStart);
    auto clock = generator.getClock();
    for (int i = 0; i < 250; ++i)
      clock->requestCallbackIn(ms(i + 1), recorder.callback(i), Clock::FireIfFrozen);
    clock->requestCallbackIn(
        ms(1), [&](Clock::Event) { delivered_on = std::this_thread::get_id(); },
        Clock::FireIfFrozen);
  }
  EXPECT_EQ(std::this_thread::get_id(), delivered_on);
  EXPECT_TRUE(
      capture.contains(" More than 100 timers cancelled in a row! Are they rescheduling "
                       "themselves? Cancelled: 100 remain: 152"));
  ASSERT_EQ(252u, recorder.events().size());
  for (auto const& e : recorder.events()) EXPECT_EQ(Clock::Aborted, e.event);
}

}  // namespace
}  // namespace dravo::media
