#pragma once
// Clocks: media time that can run, stand still (freeze), change rate, jump,
// or be replaced at run time.
//
// A `Clock` is a shared handle to one clock implementation; copies share it,
// and the clock is destroyed when the last `Clock` goes. Reading a clock gives
// a `ClockTime` (see clock_time.h). Timers are requested at a reading
// (`requestCallbackAt`) or after a duration (`requestCallbackIn`), and every
// timer's callback receives exactly one `Clock::Event`:
//   - `Normal`: the target was reached in the target's generation, which is
//     not a frozen one;
//   - `Aborted`: the clock moved to another generation first (it froze,
//     unfroze or jumped), the target lies in a frozen generation, or the
//     clock is being destroyed;
//   - `Cancelled`: the holder cancelled the timer.
//
// A request returns a `ClockTimerHandle` (a `Handle<ClockTimerHandleObject>`):
// dropping the plain handle leaves the timer pending; an `AutoHandle` made
// from it cancels the timer when the last such AutoHandle goes.
//
// Threads: every method may be called from any thread. A raw timer callback
// runs on whichever thread delivers the event: the support library's timer
// thread (system clock), its deferred-call thread (synthetic clock), the
// clock's scheduler (fast-forward clock), the thread delivering the parent's
// timer (derived clocks), the thread destroying the clock, or the thread that
// cancels. No clock lock is held while a callback runs, but the timer's own
// lock is: a `cancel` from another thread waits until a running callback
// returns, and a callback may cancel its own timer (which then does nothing).
// Element code should use `scheduleAt` / `scheduleIn`, which post the
// callback as a task on the element's scheduler.
//
// The clocks: getSystemClock, getFrozenClock, getFastForwardClock (here);
// SyntheticClockGenerator (synthetic_clock.h); ScaledClockGenerator and
// getScaledClock (scaled_clock.h); getPropertyClock (property_clock.h).

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "common/handle.h"
#include "common/time.h"
#include "common/weak_function.h"
#include "media_common/clock_time.h"
#include "media_common/priority.h"
#include "media_common/scheduler.h"
#include "media_common/task_info.h"

namespace dravo::media {

class ClockPrivate;
class ClockTimerHandleObjectPrivate;

// The holder's view of one requested timer. An empty object (the shared
// `g_null_timer_handle_object_`) stands for "no timer".
class ClockTimerHandleObject {
 public:
  ClockTimerHandleObject() = default;
  explicit ClockTimerHandleObject(std::shared_ptr<ClockTimerHandleObjectPrivate> impl)
      : impl_(std::move(impl)) {}

  // Delivers `Cancelled` if the timer is still pending; waits for a callback
  // that is running on another thread.
  void cancel();
  // False for an empty object and once the timer's event was delivered.
  bool pending() const;

 private:
  std::shared_ptr<ClockTimerHandleObjectPrivate> impl_;
};

using ClockTimerHandle = Handle<ClockTimerHandleObject>;

extern std::shared_ptr<ClockTimerHandleObject> const g_null_timer_handle_object_;

class Clock {
 public:
  enum Event { Normal = 0, Aborted = 1, Cancelled = 2 };
  // What a relative request does while the clock is frozen.
  enum FrozenBehavior {
    // Aim at the frozen generation itself: delivered `Aborted` promptly.
    FireIfFrozen = 0,
    // Aim at the start of the next running generation: delivered `Normal`
    // as soon as the clock runs again.
    WaitUntilUnfrozen = 1,
  };
  using Callback = std::function<void(Event)>;

  // Takes ownership of `impl`.
  explicit Clock(ClockPrivate* impl);
  explicit Clock(std::shared_ptr<ClockPrivate> impl);

  // The current reading; frozen readings carry the zero `Time`.
  ClockTime getNormalizedClockTime() const;
  // The time of the current reading (the zero `Time` while frozen).
  Time getTime() const;
  bool isFrozen() const;

  // Requests a callback when the clock reaches `t`. `callback` is any
  // callable of one `Event`; in this library always a `WeakFunction`, so that
  // a late callback on a destroyed owner does nothing.
  template <typename F>
  ClockTimerHandle requestCallbackAt(ClockTime const& t, F&& callback) const {
    return requestCallbackAtImpl(t, Callback(std::forward<F>(callback)));
  }
  // Requests a callback `d` after the current reading; see FrozenBehavior.
  template <typename F>
  ClockTimerHandle requestCallbackIn(Duration d, F&& callback, FrozenBehavior behavior) const {
    return requestCallbackInImpl(d, Callback(std::forward<F>(callback)), behavior);
  }

  // When the timer's event arrives (any event), queues a task on `scheduler`
  // with `priority` and `info` that calls `function` with the event. Nothing
  // runs if `function`'s owner is gone when the event arrives or when the
  // task runs.
  ClockTimerHandle scheduleAt(ClockTime const& t, std::shared_ptr<Scheduler> const& scheduler,
                              Priority const& priority, std::shared_ptr<TaskInfo const> const& info,
                              WeakFunction<void(Event)> const& function) const;
  // As scheduleAt, but only a `Normal` event queues the task.
  ClockTimerHandle scheduleAtNormalOnly(ClockTime const& t,
                                        std::shared_ptr<Scheduler> const& scheduler,
                                        Priority const& priority,
                                        std::shared_ptr<TaskInfo const> const& info,
                                        WeakFunction<void()> const& function) const;
  ClockTimerHandle scheduleIn(Duration d, std::shared_ptr<Scheduler> const& scheduler,
                              Priority const& priority, std::shared_ptr<TaskInfo const> const& info,
                              WeakFunction<void(Event)> const& function,
                              FrozenBehavior behavior) const;
  ClockTimerHandle scheduleInNormalOnly(Duration d, std::shared_ptr<Scheduler> const& scheduler,
                                        Priority const& priority,
                                        std::shared_ptr<TaskInfo const> const& info,
                                        WeakFunction<void()> const& function,
                                        FrozenBehavior behavior) const;

  // Block the calling thread until the timer's event arrives; true if it was
  // `Normal`. Never call these on the thread that delivers this clock's
  // timers (it would wait for itself).
  bool sleep(Duration d, FrozenBehavior behavior) const;
  bool sleepUntil(ClockTime const& t) const;

  // For clock implementations and diagnostics.
  std::shared_ptr<ClockPrivate> const& impl() const { return impl_; }
  // The implementation's type name, for log lines.
  const char* getTypeName() const;

 private:
  ClockTimerHandle requestCallbackAtImpl(ClockTime const& t, Callback callback) const;
  ClockTimerHandle requestCallbackInImpl(Duration d, Callback callback,
                                         FrozenBehavior behavior) const;

  std::shared_ptr<ClockPrivate> impl_;
};

// A new wall clock on every call: generation 0, time `Time::now()`. Its
// timers run on the support library's timer thread.
std::shared_ptr<Clock> getSystemClock();
// A new clock that is frozen forever (generation 1); its timers are delivered
// only when it is destroyed, `Aborted`.
std::shared_ptr<Clock> getFrozenClock();
// A new clock that reads (0, `start`) and moves only by leaping to its next
// timer whenever `scheduler` has nothing else to run (through an idle task
// at `Priority::idle(1000)`); its timers run in that task. The scheduler must
// accept idle priorities (the trivial scheduler does). A running scheduler
// with nothing else to do lets the clock leap at once, so set up timers
// before starting it (or while a SchedulerBlocker holds it) when the run must
// be reproducible.
std::shared_ptr<Clock> getFastForwardClock(std::shared_ptr<Scheduler> scheduler, Time start);

}  // namespace dravo::media
