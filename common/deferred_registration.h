#pragma once
// The shared record behind a `TimerHandle`: one deferred call or timer.
//
// Internal to the deferred-work implementation. `state` is the only field
// other threads touch: `TimerHandle::cancel` moves it to kCancelled from any
// thread, and the worker thread starts the function only after moving it from
// kPending to kRunning itself, so exactly one of the two wins. `function` is
// touched only by the worker thread that owns the registration (after the
// creating thread handed it over under the queue's mutex); the timer fields
// are guarded by the timer queue's mutex.

#include <atomic>
#include <cstdint>
#include <functional>

#include "common/non_copyable.h"
#include "common/time.h"

namespace dravo::deferred_internal {

struct Registration : NonCopyable {
  enum State : int { kPending, kRunning, kDone, kCancelled };
  enum Kind { kDeferred, kTimer };

  Registration(Kind kind, std::function<void()> function)
      : kind(kind), function(std::move(function)) {}

  // Moves kPending to kRunning; false when the registration was cancelled.
  bool tryStart() {
    int expected = kPending;
    return state.compare_exchange_strong(expected, kRunning, std::memory_order_acq_rel);
  }
  // Moves kRunning to `next`; false when it was cancelled while running.
  bool tryFinish(State next) {
    int expected = kRunning;
    return state.compare_exchange_strong(expected, next, std::memory_order_acq_rel);
  }

  const Kind kind;
  std::atomic<int> state{kPending};
  std::function<void()> function;

  // Timers only.
  Time due;
  Duration interval;  // zero for one-shot timers
  uint64_t sequence = 0;
};

// Tells the timer thread that a queued timer was cancelled, so that it can drop
// the function (and what it captured) before the due time.
void noteTimerCancelled();

}  // namespace dravo::deferred_internal
