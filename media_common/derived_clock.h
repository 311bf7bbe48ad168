#pragma once
// The machinery of clocks that take their time from a parent clock.
//
// A derived clock keeps its own timer queue and wakes up through a single
// timer on its parent, aimed at the parent reading at which this clock
// reaches the top of its queue (`toParent`). When the top is already due by
// this clock's own reading (after a change of rate or parent), the wake-up is
// a deferred call instead, since a parent that is frozen would never deliver
// it. A top that maps into a frozen stretch of the parent (a clock at rate 0,
// or a running clock anchored on a frozen parent) cannot come closer before
// the parent changes generation: the wake-up waits for exactly that.
//
// Threads: parent callbacks arrive on whatever thread delivers the parent's
// timers; everything else may be called from any thread under the clock
// mutex. The parent timer is replaced with the clock mutex released (lock
// order: this clock's mutex never comes before a parent timer's mutex),
// guarded by `rescheduling_`.

#include <memory>
#include <utility>

#include "common/deferred.h"
#include "common/handle.h"
#include "media_common/clock_private.h"

namespace dravo::media {

class DerivedClock : public ClockWithTimerQueue {
 protected:
  // Concrete destructors call `shutdown()` first: it finalizes the clock
  // and drops the parent timer while the parent still lives.
  void shutdown();

  void schedule() override;
  // The parent timer's callback.
  virtual void processQueueTimerCb(Clock::Event event);
  // The parent clock and the parent reading at which this clock reaches `t`.
  virtual std::pair<std::shared_ptr<Clock>, ClockTime> toParent(ClockTime const& t) = 0;

  // After a change of rate, origin or parent: re-aims the wake-up.
  void redoSchedulingAfterClockingChange();

  template <typename T>
  std::shared_ptr<T> sharedSelf() {
    return std::static_pointer_cast<T>(shared_from_this());
  }

 private:
  // One round of `schedule()`; may release the clock mutex.
  void scheduleOnce();

  bool rescheduling_ = false;
  ClockTime armed_time_;
  AutoHandle<ClockTimerHandleObject> parent_timer_;
  TimerHandle deferred_wakeup_;
  // Re-entry guard: `schedule()` releases the mutex and reading the clock
  // may itself re-aim the wake-up.
  bool in_schedule_ = false;
  bool schedule_again_ = false;
};

}  // namespace dravo::media
