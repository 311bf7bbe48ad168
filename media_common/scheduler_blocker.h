#pragma once
// Holds a single-threaded scheduler stopped and lets it run only on request.
//
// The blocker parks one of the scheduler's own tasks (at idle priority 2000,
// so it parks only once every other queued task has run) and keeps it there
// while control is with the owner. The owner lets the scheduler run until it
// is idle (`waitIdle`), or until a clock reaches a time and the scheduler is
// idle again (`sleep`, `sleepUntil`): with a synthetic or fast-forward clock
// this steps a pipeline deterministically, without real sleeps.
//
//     SchedulerBlocker blocker(scheduler);   // returns once it is parked
//     blocker.sleep(clock, Duration::fromMSec(40), Clock::FireIfFrozen);
//
// Meant for the trivial scheduler (the threaded one refuses idle tasks). The
// trivial scheduler runs on the support library's deferred-call thread, so
// while the blocker is parked no deferred call runs anywhere in the process:
// do not wait for deferred calls then. One owner thread calls the methods;
// the parked task runs on the scheduler's thread. The blocker must outlive
// nothing: its destructor lets the scheduler run freely and waits until it is
// idle.

#include <memory>

#include "common/condition_variable.h"
#include "common/mutex.h"
#include "media_common/clock.h"
#include "media_common/scheduler.h"

namespace dravo::media {

class SchedulerBlocker {
 public:
  enum State { RUNNING = 0, BLOCKED = 1, RELEASING = 2 };

  // Returns once the scheduler is blocked.
  explicit SchedulerBlocker(std::shared_ptr<Scheduler> scheduler);
  ~SchedulerBlocker();
  SchedulerBlocker(SchedulerBlocker const&) = delete;
  SchedulerBlocker& operator=(SchedulerBlocker const&) = delete;

  // Parks the blocking task; blocking a blocked blocker is an assertion.
  void block();
  // Lets the parked task go; unblocking when not blocked is an assertion.
  void unblock();
  // Lets the scheduler run until it is idle, then blocks it again.
  void waitIdle();
  // Lets the scheduler run until `clock` delivers a timer `d` from now and
  // the scheduler has run everything that became due. True if the timer came
  // `Normal` (false if the clock jumped, froze or was destroyed).
  bool sleep(Clock const& clock, Duration d, Clock::FrozenBehavior behavior);
  bool sleepUntil(Clock const& clock, ClockTime const& t);
  // `t` in the clock's current generation.
  bool sleepUntil(Clock const& clock, Time t);

 private:
  void transition(State from, State to);
  void scheduleCb(Clock::Event event);
  void queueBlockingTask();
  void cb();
  void prepareSleep();
  bool sleepOn(ClockTimerHandle const& handle);

  ConditionVariable condition_;
  Mutex mutex_;
  std::shared_ptr<Scheduler> scheduler_;
  State state_ DRAVO_GUARDED_BY(mutex_) = RUNNING;
  bool normal_ DRAVO_GUARDED_BY(mutex_) = false;
};

}  // namespace dravo::media
