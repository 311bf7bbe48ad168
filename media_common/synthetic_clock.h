#pragma once
// A clock that moves only when told: the tool for deterministic timing.
//
// `SyntheticClockGenerator` creates a synthetic clock and drives it: advance
// it, set it (forward, or backward into a new generation), freeze it. Timers
// that come due are delivered from a deferred call of the support library,
// never inside the call that moved the clock, in time order (first requested
// first among equal times). Tests wait for them with
// `dravo::waitForDeferredCalls()`.
//
//     SyntheticClockGenerator generator(false, Time::fromNSec(0));
//     auto clock = generator.getClock();
//     clock->requestCallbackIn(Duration::fromMSec(10), callback, Clock::FireIfFrozen);
//     generator.advanceClock(Duration::fromMSec(10));
//     waitForDeferredCalls();  // callback ran with Clock::Normal
//
// Copies of a generator drive the same clock. Any thread may drive it.

#include <memory>

#include "common/time.h"
#include "media_common/clock.h"

namespace dravo::media {

class SyntheticClock;

// Start times for synthetic clocks: 1,000,000 s, 2,000,000 s, ... after the
// zero `Time`, one per call, so clocks started from it never share a
// timeline. Thread-safe.
Time generateClockStartTime();

class SyntheticClockGenerator {
 public:
  // Frozen: reads (1, zero time) until the first `setTime`, which starts it
  // in generation 2. Running: reads (0, `start`).
  explicit SyntheticClockGenerator(bool frozen = true, Time start = generateClockStartTime());

  std::shared_ptr<Clock> const& getClock() const { return clock_; }

  // Moves a running clock forward by `d` in its generation. Advancing a
  // frozen clock is a logged check; a negative `d` is an assertion.
  void advanceClock(Duration d);
  // Sets the time. Forward (or equal) stays in the generation. Backward on a
  // running clock is ignored unless `allow_backward`, and ignored if smaller
  // than `small_backward_step`; otherwise it opens a new running generation
  // (pending timers are delivered `Aborted`). On a frozen clock it opens the
  // next running generation at `t`.
  void setTime(Time t, bool allow_backward = false, Duration small_backward_step = Duration());
  // Moves a running clock into its frozen generation (pending timers are
  // delivered `Aborted`); a frozen clock stays as it is.
  void freeze();

 private:
  SyntheticClock* clock_impl_;  // owned by `clock_`
  std::shared_ptr<Clock> clock_;
};

}  // namespace dravo::media
