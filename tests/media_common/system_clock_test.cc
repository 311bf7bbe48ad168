// The wall clock. Timings are checked only in the direction that cannot
// flake: never before the target; lateness is not asserted.

#include <gtest/gtest.h>

#include <thread>

#include "media_common/clock.h"
#include "media_common/clock_private.h"
#include "tests/media_common/clock_test_support.h"

namespace dravo::media {
namespace {

using testing::EventRecorder;

void waitForEvents(EventRecorder const& recorder, size_t count) {
  while (recorder.size() < count) std::this_thread::yield();
}

TEST(SystemClockTest, TimersFireNotBeforeTheirTargetInTimeOrderOnIndependentClocks) {
  auto clock = getSystemClock();
  auto other = getSystemClock();
  EventRecorder recorder(clock);
  ClockTime start = clock->getNormalizedClockTime();
  EXPECT_EQ(0u, ClockTimePrivate::generation(start));
  // Requested latest first: each earlier one re-arms the wake-up.
  for (int tag : {30, 20, 10})
    clock->requestCallbackAt(start + Duration::fromMSec(tag), recorder.callback(tag));
  clock->requestCallbackAt(ClockTime(0, Time()), recorder.callback(0));  // past: at once
  EXPECT_EQ(0u, other->impl()->timerCount());
  waitForEvents(recorder, 4);
  EXPECT_EQ((std::vector<int>{0, 10, 20, 30}), recorder.tags());
  for (auto const& e : recorder.events()) {
    EXPECT_EQ(Clock::Normal, e.event);
    EXPECT_GE(e.reading, start + Duration::fromMSec(e.tag));
  }
  Time before = Time::now();
  EXPECT_TRUE(clock->sleep(Duration::fromMSec(15), Clock::FireIfFrozen));
  EXPECT_GE(Time::now() - before, Duration::fromMSec(15));
}

TEST(SystemClockTest, TimersInOtherGenerationsWaitForDestruction) {
  EventRecorder never;
  auto clock = getSystemClock();
  clock->requestCallbackAt(ClockTime(2, Time()), never.callback(1));
  EventRecorder near;  // still fires although the never-due one was queued first
  clock->requestCallbackIn(Duration::fromMSec(1), near.callback(2), Clock::FireIfFrozen);
  waitForEvents(near, 1);
  EXPECT_EQ(0u, never.size());
  clock.reset();  // the clock dies on whichever thread lets go last
  waitForEvents(never, 1);
  EXPECT_EQ(Clock::Aborted, never.events()[0].event);
}

}  // namespace
}  // namespace dravo::media
