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

TEST(SystemClockTest, EachCallGivesAnIndependentClockReadingGeneration0) {
  auto a = getSystemClock();
  auto b = getSystemClock();
  Time before = Time::now();
  ClockTime reading = a->getNormalizedClockTime();
  EXPECT_EQ(0u, ClockTimePrivate::generation(reading));
  EXPECT_GE(reading.time(), before);
  a->requestCallbackIn(
      Duration::fromSec(100.0), [](Clock::Event) {}, Clock::FireIfFrozen);
  EXPECT_EQ(1u, a->impl()->timerCount());
  EXPECT_EQ(0u, b->impl()->timerCount());
}

TEST(SystemClockTest, TimersFireNotBeforeTheirTargetInTimeOrderCancelledOnesNever) {
  auto clock = getSystemClock();
  EventRecorder recorder(clock);
  ClockTime start = clock->getNormalizedClockTime();
  clock->requestCallbackIn(Duration::fromMSec(5), recorder.callback(0), Clock::FireIfFrozen)
      ->cancel();
  // Requested latest first: each earlier one re-arms the wake-up.
  for (int tag : {30, 20, 10})
    clock->requestCallbackAt(start + Duration::fromMSec(tag), recorder.callback(tag));
  clock->requestCallbackAt(ClockTime(0, Time()), recorder.callback(1));  // past: at once
  waitForEvents(recorder, 5);
  EXPECT_EQ((std::vector<int>{0, 1, 10, 20, 30}), recorder.tags());
  EXPECT_EQ(Clock::Cancelled, recorder.events()[0].event);
  for (size_t i = 1; i < 5; ++i) {
    EXPECT_EQ(Clock::Normal, recorder.events()[i].event);
    if (i > 1) {
      EXPECT_GE(recorder.events()[i].reading, start + Duration::fromMSec(recorder.events()[i].tag));
    }
  }
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
