// Repeating timers on a synthetic clock: cadence, re-anchoring and stopping.

#include "media_common/repeating_timer.h"

#include <gtest/gtest.h>

#include "common/deferred.h"
#include "media_common/clock_private.h"
#include "media_common/synthetic_clock.h"
#include "tests/media_common/clock_test_support.h"

namespace dravo::media {
namespace {

using testing::EventRecorder;

constexpr Time kStart = Time::fromNSec(3000000000000);
Duration ms(int64_t n) { return Duration::fromMSec(n); }

// Records, per call, the clock reading and which target the call was for.
class RepeatingTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::weak_ptr<void const> owner = owner_;
    callback_ = WeakFunction<void()>(owner_, [this] {
      std::lock_guard lock(mutex_);
      calls_.push_back(clock_->getNormalizedClockTime());
    });
  }
  void advance(Duration d) {
    generator_.advanceClock(d);
    waitForDeferredCalls();
  }
  std::vector<ClockTime> calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  ClockTime at(int64_t milliseconds, unsigned generation = 0) {
    return ClockTime(generation, kStart + ms(milliseconds));
  }
  // The single timer request pending on the clock, if any.
  size_t pendingRequests() { return clock_->impl()->timerCount(); }

  SyntheticClockGenerator generator_{false, kStart};
  std::shared_ptr<Clock> clock_ = generator_.getClock();
  std::shared_ptr<int> owner_ = std::make_shared<int>(0);
  WeakFunction<void()> callback_;
  std::mutex mutex_;
  std::vector<ClockTime> calls_;
};

TEST_F(RepeatingTimerTest, CallsMissedByALargeAdvanceRunInOnePassAndKeepTheCadence) {
  RepeatingTimer timer(clock_, callback_, ms(40));
  EXPECT_EQ(ms(40), timer.getInterval());
  advance(ms(100));
  // Targets 40 and 80, both delivered in the pass at 100.
  EXPECT_EQ((std::vector<ClockTime>{at(100), at(100)}), calls());
  advance(ms(19));
  EXPECT_EQ(2u, calls().size());
  advance(ms(1));  // 120: the next whole multiple
  EXPECT_EQ(3u, calls().size());
}

TEST_F(RepeatingTimerTest, LateDeliveryDoesNotShiftLaterCalls) {
  RepeatingTimer timer(clock_, callback_, ms(40));
  advance(ms(45));  // 5 ms late
  advance(ms(34));
  EXPECT_EQ((std::vector<ClockTime>{at(45)}), calls());
  advance(ms(1));  // 80, not 85
  EXPECT_EQ((std::vector<ClockTime>{at(45), at(80)}), calls());
}

TEST_F(RepeatingTimerTest, AJumpSkipsTheDueCallAndReanchorsOneIntervalLater) {
  RepeatingTimer timer(clock_, callback_, ms(40));
  advance(ms(40));
  generator_.setTime(kStart, true, Duration());  // back 40 ms: generation 2
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<ClockTime>{at(40)}), calls());
  advance(ms(39));
  EXPECT_EQ(1u, calls().size());
  advance(ms(1));
  EXPECT_EQ((std::vector<ClockTime>{at(40), at(40, 2)}), calls());
}

TEST_F(RepeatingTimerTest, WaitsWhileFrozenAndResumesOneIntervalAfterTheClockRuns) {
  RepeatingTimer timer(clock_, callback_, ms(40));
  advance(ms(40));
  generator_.freeze();
  waitForDeferredCalls();
  // Waiting, not spinning: exactly one request, and nothing queued.
  EXPECT_EQ(1u, pendingRequests());
  EXPECT_EQ(1u, calls().size());
  generator_.setTime(kStart + ms(1000));
  waitForDeferredCalls();
  EXPECT_EQ(1u, calls().size());
  advance(ms(39));
  EXPECT_EQ(1u, calls().size());
  advance(ms(1));
  EXPECT_EQ((std::vector<ClockTime>{at(40), at(1040, 2)}), calls());
  advance(ms(40));
  EXPECT_EQ(3u, calls().size());
}

TEST_F(RepeatingTimerTest, StartingOnAFrozenClockWaitsForItToRun) {
  SyntheticClockGenerator frozen_generator;  // starts frozen
  clock_ = frozen_generator.getClock();
  RepeatingTimer timer(clock_, callback_, ms(40));
  waitForDeferredCalls();
  frozen_generator.setTime(kStart);
  waitForDeferredCalls();
  frozen_generator.advanceClock(ms(40));
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<ClockTime>{at(40, 2)}), calls());
}

TEST_F(RepeatingTimerTest, IntervalZeroStopsAndAPositiveOneRestartsFromNow) {
  RepeatingTimer timer(clock_, callback_, ms(40));
  advance(ms(40));
  timer.setInterval(Duration());
  EXPECT_EQ(0u, pendingRequests());
  advance(ms(200));
  EXPECT_EQ(1u, calls().size());
  timer.setInterval(ms(50));  // at 240: next at 290
  advance(ms(49));
  EXPECT_EQ(1u, calls().size());
  advance(ms(1));
  EXPECT_EQ((std::vector<ClockTime>{at(40), at(290)}), calls());
}

TEST_F(RepeatingTimerTest, ShorterIntervalMovesTheNextCallEarlierButNotBeforeNow) {
  RepeatingTimer timer(clock_, callback_, ms(40));
  advance(ms(40));
  advance(ms(5));
  timer.setInterval(ms(20));  // next 80 -> 60
  advance(ms(14));
  EXPECT_EQ(1u, calls().size());
  advance(ms(1));
  EXPECT_EQ((std::vector<ClockTime>{at(40), at(60)}), calls());
  advance(ms(19));
  // At 79 (next due at 80): 20 -> 5 would aim at 65, in the past: now.
  timer.setInterval(ms(5));
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<ClockTime>{at(40), at(60), at(79)}), calls());
  advance(ms(5));
  EXPECT_EQ(4u, calls().size());
}

TEST_F(RepeatingTimerTest, TheFunctionMayChangeItsOwnInterval) {
  RepeatingTimer* self = nullptr;
  int calls = 0;
  RepeatingTimer timer(clock_,
                       WeakFunction<void()>(owner_,
                                            [&] {
                                              if (++calls == 2) self->setInterval(Duration());
                                            }),
                       ms(10));
  self = &timer;
  advance(ms(100));
  EXPECT_EQ(2, calls);
  EXPECT_EQ(0u, pendingRequests());
}

TEST_F(RepeatingTimerTest, DroppingTheLastCopyCancelsThePendingRequest) {
  {
    RepeatingTimer timer(clock_, callback_, ms(40));
    RepeatingTimer copy = timer;
    { RepeatingTimer moved = std::move(copy); }
    EXPECT_EQ(1u, pendingRequests());
  }
  EXPECT_EQ(0u, pendingRequests());
  advance(ms(100));
  EXPECT_TRUE(calls().empty());
}

TEST_F(RepeatingTimerTest, NothingIsCalledOnceTheFunctionsOwnerIsGone) {
  RepeatingTimer timer(clock_, callback_, ms(40));
  advance(ms(40));
  owner_.reset();
  advance(ms(200));
  EXPECT_EQ(1u, calls().size());
}

}  // namespace
}  // namespace dravo::media
