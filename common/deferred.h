#pragma once
// Deferred calls and timers: work that runs later, outside the caller's stack.
//
// `scheduleDeferred(f)` queues `f` on the process-wide deferred thread. Deferred
// calls run one at a time, strictly in the order they were queued.
//
// `createOneShotTimer(delay, f)` and `createRepeatingTimer(interval, f)` run
// `f` on the process-wide timer thread once its due time has come. Timers run
// one at a time, ordered by due time; timers due at the same time run in the
// order they were created. A repeating timer keeps a steady cadence (due times
// are start + k * interval); when it falls behind by whole intervals, the
// missed ticks are skipped rather than run in a burst.
//
// Each call returns a `TimerHandle`. Copies of a handle share one
// registration; dropping handles does not cancel anything, so callers may
// ignore the result. `cancel()` may be called from any thread, including from
// inside the callback itself, never waits for a running callback, and
// guarantees that the function is not started after `cancel` returns (a call
// already running finishes; a repeating timer is not run again).
//
// Callbacks may queue deferred calls, create timers and cancel any handle
// without deadlock: no internal lock is held while a callback runs. The
// function object (and everything it captured) is destroyed on the thread
// that would have run it, after it ran or once it was found cancelled.
// Callbacks must not throw.
//
// Both threads ("dravo_deferred", "dravo_timer") start on first use and are
// stopped and joined when the process exits: exit waits for a callback that
// is already running, work still queued is dropped, and work queued after
// that never runs.

#include <cstddef>
#include <functional>
#include <memory>
#include <utility>

#include "common/time.h"

namespace dravo {

namespace deferred_internal {
struct Registration;
}  // namespace deferred_internal

class TimerHandle {
 public:
  TimerHandle() = default;
  explicit TimerHandle(std::shared_ptr<deferred_internal::Registration> registration)
      : registration_(std::move(registration)) {}

  // Idempotent; a no-op on an empty handle.
  void cancel() const;
  bool empty() const { return !registration_; }

 private:
  std::shared_ptr<deferred_internal::Registration> registration_;
};

// Runs `function` once, soon, on the deferred thread.
TimerHandle scheduleDeferred(std::function<void()> function);

// Runs `function` once on the timer thread after `delay` (at once if the delay
// is not positive).
TimerHandle createOneShotTimer(Duration delay, std::function<void()> function);

// Runs `function` on the timer thread every `interval`, the first time one
// interval from now. A non-positive interval is an assertion and is treated as
// one millisecond.
TimerHandle createRepeatingTimer(Duration interval, std::function<void()> function);

// Deferred calls queued and not yet finished, including a running one and
// cancelled ones the deferred thread has not discarded yet.
size_t getDeferredCallCount();

// Test hook: returns once no deferred call is queued or running, including
// calls queued while waiting. Calling it on the deferred thread is an
// assertion (it would wait for itself) and returns at once.
void waitForDeferredCalls();

// Runs `destroy` as a deferred call.
void deferredDeleteImpl(std::function<void()> destroy);
// Drops `pointer` as a deferred call (an empty pointer is ignored).
void deferredResetImpl(std::shared_ptr<void const> pointer);

// Deletes `object` on the deferred thread, outside the caller's stack.
template <typename T>
void deferredDelete(T* object) {
  if (object) deferredDeleteImpl([object] { delete object; });
}

// Moves the reference out of `pointer` (which is empty afterwards) and drops
// it on the deferred thread; the object dies there if that was the last one.
template <typename T>
void deferredReset(std::shared_ptr<T>& pointer) {
  deferredResetImpl(std::shared_ptr<void const>(std::move(pointer)));
  pointer.reset();
}

}  // namespace dravo
