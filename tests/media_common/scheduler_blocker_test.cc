// Stepping a trivial scheduler with a blocker, against synthetic and
// fast-forward clocks.

#include "media_common/scheduler_blocker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "media_common/clock_private.h"
#include "media_common/synthetic_clock.h"
#include "media_common/trivial_scheduler.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

constexpr Time kStart = Time::fromNSec(4000000000000);

class SchedulerBlockerTest : public ::testing::Test {
 protected:
  SchedulerBlockerTest() { scheduler_->start(); }
  ~SchedulerBlockerTest() override { scheduler_->shutdown(true); }

  // Queues a task that bumps `counter`.
  void post(std::atomic<int>& counter, Priority priority = Priority(0, false)) {
    scheduler_->schedule(TaskFunction(owner_, [&counter] { ++counter; }), priority, nullptr);
  }

  std::shared_ptr<Scheduler> scheduler_ = createTrivialScheduler();
  std::shared_ptr<int> owner_ = std::make_shared<int>(0);
};

TEST_F(SchedulerBlockerTest, BlocksAfterQueuedWorkHoldsNewWorkAndLetsItRunWhenDestroyed) {
  std::atomic<int> done{0};
  // A chain: each task queues the next, so the work is still growing while
  // the blocker is being set up.
  std::function<void()> chain = [&] {
    if (++done < 100)
      scheduler_->schedule(TaskFunction(owner_, chain), Priority(0, false), nullptr);
  };
  scheduler_->schedule(TaskFunction(owner_, chain), Priority(0, false), nullptr);
  std::atomic<int> ran{0};  // outlives the blocker, which runs the last tasks
  {
    SchedulerBlocker blocker(scheduler_);
    EXPECT_EQ(100, done.load());
    post(ran, Priority::idle(5));
    EXPECT_EQ(0, ran.load());  // the scheduler's thread is parked
    blocker.waitIdle();
    EXPECT_EQ(1, ran.load());
    post(ran);
    EXPECT_EQ(1, ran.load());
  }
  EXPECT_EQ(2, ran.load());
}

TEST_F(SchedulerBlockerTest, SleepOnAFastForwardClockAdvancesItExactly) {
  auto clock = getFastForwardClock(scheduler_, kStart);
  // Blocked before the clock has anything to leap to: set-up cannot race it.
  SchedulerBlocker blocker(scheduler_);
  std::atomic<int> ticks{0};
  // Work the clock itself drives, every 300 ms of simulated time.
  std::function<void()> tick = [&] {
    ++ticks;
    clock->scheduleInNormalOnly(Duration::fromMSec(300), scheduler_, Priority(0, false), nullptr,
                                WeakFunction<void()>(owner_, tick), Clock::FireIfFrozen);
  };
  tick();
  EXPECT_TRUE(blocker.sleep(*clock, Duration::fromSec(10.0), Clock::FireIfFrozen));
  EXPECT_EQ(ClockTime(0, kStart + Duration::fromSec(10.0)), clock->getNormalizedClockTime());
  EXPECT_EQ(1 + 33, ticks.load());
  owner_.reset();  // stop the chain before the blocker lets go
}

TEST_F(SchedulerBlockerTest, SleepOnASyntheticClockRunsDueWorkAndAnAbortedSleepStaysBlocked) {
  testing::LogCapture capture("scheduler_blocker:3");
  SyntheticClockGenerator generator(false, kStart);
  auto clock = generator.getClock();
  std::atomic<int> work{0};  // outlives the blocker, which runs the last task
  clock->scheduleInNormalOnly(Duration::fromMSec(40), scheduler_, Priority(0, false), nullptr,
                              WeakFunction<void()>(owner_, [&] { ++work; }), Clock::FireIfFrozen);
  SchedulerBlocker blocker(scheduler_);
  std::atomic<bool> first_sleep_done{false};
  std::thread driver([&] {
    // Two timers: the work's and, once the blocker sleeps, the blocker's.
    while (clock->impl()->timerCount() < 2) std::this_thread::yield();
    generator.advanceClock(Duration::fromMSec(40));
    while (!first_sleep_done || clock->impl()->timerCount() < 1) std::this_thread::yield();
    generator.freeze();
  });
  EXPECT_TRUE(blocker.sleep(*clock, Duration::fromMSec(40), Clock::FireIfFrozen));
  EXPECT_EQ(1, work.load());  // the scheduler ran what became due
  first_sleep_done = true;
  EXPECT_FALSE(blocker.sleep(*clock, Duration::fromSec(1.0), Clock::FireIfFrozen));
  driver.join();
  EXPECT_TRUE(capture.contains("SchedulerBlocker sleep terminated abnormally."));
  post(work);  // still blocked: a queued task waits
  EXPECT_EQ(1, work.load());
  testing::AssertionCapture assertions;
  blocker.block();
  EXPECT_EQ(
      (std::vector<std::string>{"Assertion failed: Tried to block a blocked SchedulerBlocker"}),
      assertions.messages());
}

TEST_F(SchedulerBlockerTest, SleepOnTheSystemClockIsTrueWhenTheTimerBeatsTheRequestBack) {
  // Due at once: the timer thread delivers while `sleep` is still on its way
  // back from the request.
  auto clock = getSystemClock();
  SchedulerBlocker blocker(scheduler_);
  for (int i = 0; i < 200; ++i)
    ASSERT_TRUE(blocker.sleep(*clock, Duration(), Clock::FireIfFrozen)) << "sleep " << i;
}

}  // namespace
}  // namespace dravo::media
