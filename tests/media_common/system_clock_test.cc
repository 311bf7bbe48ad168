// The wall clock. Timings are checked only in the direction that cannot
// flake: never before the target; lateness is not asserted.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "media_common/clock.h"
#include "media_common/clock_private.h"
#include "tests/media_common/clock_test_support.h"

namespace dravo::media {
namespace {

using testing::EventRecorder;

// Waits (without a deadline: the timer thread delivers) until `count`
// events have been recorded.
void waitForEvents(EventRecorder const& recorder, size_t count) {
  while (recorder.size() < count) std::this_thread::yield();
}

TEST(SystemClockTest, ReadsGeneration0AndTheMonotonicTime) {
  auto clock = getSystemClock();
  Time before = Time::now();
  ClockTime reading = clock->getNormalizedClockTime();
  EXPECT_EQ(0u, ClockTimePrivate::generation(reading));
  EXPECT_GE(reading.time(), before);
  EXPECT_LE(reading.time(), Time::now());
  EXPECT_FALSE(clock->isFrozen());
}

TEST(SystemClockTest, EachCallGivesAnIndependentClock) {
  auto a = getSystemClock();
  auto b = getSystemClock();
  EXPECT_NE(a->impl(), b->impl());
  a->requestCallbackIn(
      Duration::fromSec(100.0), [](Clock::Event) {}, Clock::FireIfFrozen);
  EXPECT_EQ(1u, a->impl()->timerCount());
  EXPECT_EQ(0u, b->impl()->timerCount());
}

TEST(SystemClockTest, TimersFireNormalNotBeforeTheirTargetInTimeOrder) {
  auto clock = getSystemClock();
  EventRecorder recorder(clock);
  ClockTime start = clock->getNormalizedClockTime();
  // Requested latest first: each earlier one re-arms the wake-up.
  clock->requestCallbackAt(start + Duration::fromMSec(30), recorder.callback(30));
  clock->requestCallbackAt(start + Duration::fromMSec(20), recorder.callback(20));
  clock->requestCallbackAt(start + Duration::fromMSec(10), recorder.callback(10));
  waitForEvents(recorder, 3);
  auto events = recorder.events();
  EXPECT_EQ((std::vector<int>{10, 20, 30}), recorder.tags());
  for (auto const& e : events) {
    EXPECT_EQ(Clock::Normal, e.event);
    EXPECT_GE(e.reading, start + Duration::fromMSec(e.tag));
  }
}

TEST(SystemClockTest, PastTargetsFireAtOnceAndCancelledTimersNever) {
  auto clock = getSystemClock();
  EventRecorder recorder(clock);
  ClockTimerHandle later =
      clock->requestCallbackIn(Duration::fromMSec(5), recorder.callback(2), Clock::FireIfFrozen);
  later->cancel();
  clock->requestCallbackAt(ClockTime(0, Time()), recorder.callback(1));
  waitForEvents(recorder, 2);
  EXPECT_EQ((std::vector<int>{2, 1}), recorder.tags());
  EXPECT_EQ(Clock::Cancelled, recorder.events()[0].event);
  EXPECT_EQ(Clock::Normal, recorder.events()[1].event);
}

TEST(SystemClockTest, SleepWaitsAtLeastTheDuration) {
  auto clock = getSystemClock();
  Time before = Time::now();
  EXPECT_TRUE(clock->sleep(Duration::fromMSec(15), Clock::FireIfFrozen));
  EXPECT_GE(Time::now() - before, Duration::fromMSec(15));
}

TEST(SystemClockTest, TimersInOtherGenerationsWaitForDestruction) {
  EventRecorder recorder;
  auto clock = getSystemClock();
  clock->requestCallbackAt(ClockTime(2, Time()), recorder.callback(1));
  // A near timer still fires although the never-due one was queued first.
  EventRecorder near;
  clock->requestCallbackIn(Duration::fromMSec(1), near.callback(2), Clock::FireIfFrozen);
  waitForEvents(near, 1);
  EXPECT_EQ(0u, recorder.size());
  // The wake-up that delivered `near` may still hold the clock for a moment;
  // the clock dies on whichever thread lets go last.
  clock.reset();
  waitForEvents(recorder, 1);
  ASSERT_EQ(1u, recorder.size());
  EXPECT_EQ(Clock::Aborted, recorder.events()[0].event);
}

}  // namespace
}  // namespace dravo::media
