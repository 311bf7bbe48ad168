// The wall clock. Timings are checked only in the direction that cannot
// flake: never before the target; lateness is not asserted.

#include <gtest/gtest.h>

#include <thread>

#include "media_common/clock_private.h"
#include "tests/media_common/clock_test_support.h"

namespace dravo::media {
namespace {

using testing::EventRecorder;

TEST(SystemClockTest, TimersFireNotBeforeTheirTargetInTimeOrderAndOtherGenerationsAtDestruction) {
  auto clock = getSystemClock();
  auto other = getSystemClock();
  EventRecorder never;  // queued first, but can never come due
  clock->requestCallbackAt(ClockTime(2, Time()), never.callback(1));
  auto recorder = std::make_unique<EventRecorder>(clock);  // holds the clock
  ClockTime start = clock->getNormalizedClockTime();
  EXPECT_EQ(0u, ClockTimePrivate::generation(start));
  // Requested latest first: each earlier one re-arms the wake-up.
  for (int tag : {30, 20, 10})
    clock->requestCallbackAt(start + Duration::fromMSec(tag), recorder->callback(tag));
  clock->requestCallbackAt(ClockTime(0, Time()), recorder->callback(0));  // past: at once
  EXPECT_EQ(0u, other->impl()->timerCount());
  while (recorder->events().size() < 4) std::this_thread::yield();
  EXPECT_EQ((std::vector<int>{0, 10, 20, 30}), recorder->tags());
  for (auto const& e : recorder->events()) {
    EXPECT_EQ(Clock::Normal, e.event);
    EXPECT_GE(e.reading, start + Duration::fromMSec(e.tag));
  }
  Time before = Time::now();
  EXPECT_TRUE(clock->sleep(Duration::fromMSec(15), Clock::FireIfFrozen));
  EXPECT_GE(Time::now() - before, Duration::fromMSec(15));
  EXPECT_EQ(0u, never.events().size());
  recorder.reset();
  clock.reset();  // the clock dies on whichever thread lets go last
  while (never.events().size() < 1) std::this_thread::yield();
  EXPECT_EQ(Clock::Aborted, never.events()[0].event);
}

}  // namespace
}  // namespace dravo::media
