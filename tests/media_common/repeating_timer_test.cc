// Repeating timers on a synthetic clock: cadence, re-anchoring and stopping.

#include "media_common/repeating_timer.h"

#include <gtest/gtest.h>

#include "common/deferred.h"
#include "media_common/clock_private.h"
#include "media_common/synthetic_clock.h"

namespace dravo::media {
namespace {

constexpr Time kStart = Time::fromNSec(3000000000000);
Duration ms(int64_t n) { return Duration::fromMSec(n); }
ClockTime at(int64_t milliseconds, unsigned generation = 0) {
  return ClockTime(generation, kStart + ms(milliseconds));
}

// Records the clock reading of every call.
class RepeatingTimerTest : public ::testing::Test {
 protected:
  std::vector<ClockTime> calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

  SyntheticClockGenerator generator_{false, kStart};
  std::shared_ptr<Clock> clock_ = generator_.getClock();
  std::shared_ptr<int> owner_ = std::make_shared<int>(0);
  std::mutex mutex_;
  std::vector<ClockTime> calls_;
  WeakFunction<void()> callback_{owner_, [this] {
                                   std::lock_guard lock(mutex_);
                                   calls_.push_back(clock_->getNormalizedClockTime());
                                 }};
};

TEST_F(RepeatingTimerTest, KeepsItsCadenceAcrossLateCallsJumpsFreezesAndIntervalChanges) {
  RepeatingTimer timer(clock_, callback_, ms(40));
  // '+' advances, 'j' jumps back to, 's' sets the frozen clock running at,
  // 'f' freezes, 'i' sets the interval (ms); then the calls so far and the last.
  struct Step {
    char action;
    int64_t arg;
    size_t calls;
    ClockTime last;
  } const steps[] = {
      {'+', 100, 2, at(100)},                            // targets 40 and 80, in one pass
      {'+', 65, 4, at(165)},                             // 120, then 5 ms late
      {'+', 34, 4, at(165)},      {'+', 1, 5, at(200)},  // 200, not 205
      {'j', 160, 5, at(200)},                            // generation 2: the due call is skipped
      {'+', 40, 6, at(200, 2)},   {'f', 0, 6, at(200, 2)},
      {'s', 1000, 6, at(200, 2)},  // generation 4
      {'+', 40, 7, at(1040, 4)},  {'i', 0, 7, at(1040, 4)},
      {'+', 200, 7, at(1040, 4)}, {'i', 50, 7, at(1040, 4)},  // restarts from now
      {'+', 49, 7, at(1040, 4)},  {'+', 1, 8, at(1290, 4)},
      {'+', 19, 8, at(1290, 4)},  {'i', 5, 9, at(1309, 4)},  // 1295 is past: now
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    Step const& step = steps[i];
    SCOPED_TRACE(::testing::Message() << "step " << i << " " << step.action << step.arg);
    if (step.action == '+') generator_.advanceClock(ms(step.arg));
    if (step.action == 'j') generator_.setTime(kStart + ms(step.arg), true, Duration());
    if (step.action == 's') generator_.setTime(kStart + ms(step.arg));
    if (step.action == 'f') generator_.freeze();
    if (step.action == 'i') timer.setInterval(ms(step.arg));
    waitForDeferredCalls();
    // Frozen: waiting, not spinning. Interval 0: nothing left.
    if (step.action == 'f' || (step.action == 'i' && step.arg == 0)) {
      EXPECT_EQ(step.action == 'f' ? 1u : 0u, clock_->impl()->timerCount());
    }
    auto const seen = calls();
    ASSERT_EQ(step.calls, seen.size());
    EXPECT_EQ(step.last, seen.back());
  }
}

TEST_F(RepeatingTimerTest, StopsWithItsLastCopyFromItsOwnFunctionOrWithItsFunctionsOwner) {
  {
    RepeatingTimer timer(clock_, callback_, ms(40));
    RepeatingTimer copy = timer;
    { RepeatingTimer moved = std::move(copy); }
    EXPECT_EQ(1u, clock_->impl()->timerCount());
  }
  EXPECT_EQ(0u, clock_->impl()->timerCount());
  RepeatingTimer* self = nullptr;
  int count = 0;
  auto stop_at_two = [&] {
    if (++count == 2) self->setInterval(Duration());
  };
  RepeatingTimer stopping(clock_, WeakFunction<void()>(owner_, stop_at_two), ms(10));
  self = &stopping;
  RepeatingTimer timer(clock_, callback_, ms(40));
  generator_.advanceClock(ms(40));
  waitForDeferredCalls();
  EXPECT_EQ(2, count);
  owner_.reset();
  generator_.advanceClock(ms(200));
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<ClockTime>{at(40)}), calls());
}

}  // namespace
}  // namespace dravo::media
