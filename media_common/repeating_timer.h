#pragma once
// Calls a function at a fixed interval of a clock.
//
// The timer keeps its cadence without drift: after each call the next target
// moves by exactly one interval, so late deliveries do not shift later ones
// (if the clock moved past several targets at once, they are all called in
// the same delivery pass). When the clock jumps, freezes or unfreezes, the
// due call is skipped and the timer re-anchors one interval after the reading
// in the new generation; while the clock is frozen it waits, and resumes one
// interval after the first running reading. A non-positive interval stops
// the timer; a later positive one restarts it one interval after the current
// reading.
//
// Copies share one timer; when the last copy goes, the pending request is
// cancelled and the function is not called again.
//
// Threads: the function runs on the thread that delivers the clock's timers
// (see clock.h), with the timer's lock held, never on a scheduler; callers
// that need their scheduler post a task from it (`scheduledWeakFunction`).
// `setInterval` and `getInterval` may be called from any thread, also from
// inside the function.

#include <memory>

#include "common/time.h"
#include "common/weak_function.h"
#include "media_common/clock.h"

namespace dravo::media {

class RepeatingTimerPrivate;

class RepeatingTimer {
 public:
  // `clock` must not be null.
  RepeatingTimer(std::shared_ptr<Clock> clock, WeakFunction<void()> callback, Duration interval);

  void setInterval(Duration interval);
  Duration getInterval() const;

 private:
  std::shared_ptr<RepeatingTimerPrivate> impl_;
};

}  // namespace dravo::media
