#pragma once
// A clock that runs at a settable rate relative to a master clock.
//
// The scaled clock maps master readings to its own through an anchor point
// (`master_origin_`, `scaled_origin_`) and two rates, one for master
// readings at or before the anchor and one after it:
//     scaled = scaled_origin + (master - master_origin) * rate
// (computed in double nanoseconds and truncated toward zero). It can be set
// hard (through a frozen generation into a new running one, aborting pending
// timers), re-aimed softly into a window, or slewed towards a target at
// bounded rates without ever stepping. When the master moves to a later
// generation, the scaled clock reads frozen until it is set again.
//
// `ScaledClockGenerator` creates a scaled clock and drives it; copies drive
// the same clock. Any thread may call any method. Timers of a scaled clock
// are delivered on the thread that delivers the master's timers (or from a
// deferred call when they are already due after a change of rate).

#include <memory>

#include "common/time.h"
#include "media_common/clock.h"

namespace dravo::media {

class ScaledClock;

class ScaledClockGenerator {
 public:
  // Both rates = `scaling`; anchored at the master's current reading and
  // (1, zero time) if `frozen`, else (0, `start`).
  ScaledClockGenerator(std::shared_ptr<Clock> master, bool frozen, Time start, double scaling);

  std::shared_ptr<Clock> const& getClock() const { return clock_; }

  // Changes the rate from now on, without a step. Ignored while the master
  // or this clock is frozen. A negative rate is an assertion.
  void setScaling(double scaling);
  // Hard set: passes through a frozen generation into a new running one at
  // `t` (pending timers are delivered `Aborted`).
  void setTimeAndScaling(Time t, double scaling);
  // Soft re-aim into [new_time_min, new_time_max] at `new_scaling`: a clock
  // ahead of the window stands still until the target timeline catches up;
  // a clock behind it jumps forward in its generation (timers passed over
  // are delivered `Normal`); a clock inside it only changes rate. A frozen
  // clock is set hard to `new_time_min`.
  void setTimeAndScalingSoftly(Time new_time_min, Time new_time_max, double new_scaling);
  void setTimeAndScalingSoftly(Time t, double scaling) { setTimeAndScalingSoftly(t, t, scaling); }
  // Moves the clock by an offset without stepping: it runs at `max_scaling`
  // (behind) or `min_scaling` (ahead) until the offset is absorbed, then at
  // `target_scaling`. Nothing happens while 0 lies inside
  // [min_offset, max_offset]; an offset beyond `jump_threshold` (or a
  // frozen clock) is applied as a hard set.
  void slewClock(Duration min_offset, Duration max_offset, double min_scaling, double max_scaling,
                 Duration jump_threshold, double target_scaling);
  void slewClock(Duration offset, double min_scaling, double max_scaling, Duration jump_threshold,
                 double target_scaling) {
    slewClock(offset, offset, min_scaling, max_scaling, jump_threshold, target_scaling);
  }
  // As above, with the target given as the reading wanted now. If the clock
  // is not in its anchor's generation it is set hard to the window's middle.
  void slewClock(Time min_target_now, Time max_target_now, double min_scaling, double max_scaling,
                 Duration jump_threshold, double target_scaling);
  void slewClock(Time target_now, double min_scaling, double max_scaling, Duration jump_threshold,
                 double target_scaling) {
    slewClock(target_now, target_now, min_scaling, max_scaling, jump_threshold, target_scaling);
  }
  // Freezes the clock (pending timers are delivered `Aborted`).
  void freeze();

 private:
  ScaledClock* clock_impl_;  // owned by `clock_`
  std::shared_ptr<Clock> clock_;
};

// A running scaled clock reading (0, `start`) now.
std::shared_ptr<Clock> getScaledClock(std::shared_ptr<Clock> master, double scaling, Time start);

}  // namespace dravo::media
