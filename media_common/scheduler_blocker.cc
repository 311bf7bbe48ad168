#include "media_common/scheduler_blocker.h"

#include "common/check.h"
#include "common/deferred.h"
#include "common/handle.h"
#include "common/logging.h"

DRAVO_LOGGER("scheduler_blocker");

namespace dravo::media {

SchedulerBlocker::SchedulerBlocker(std::shared_ptr<Scheduler> scheduler)
    : scheduler_(std::move(scheduler)) {
  block();
}

SchedulerBlocker::~SchedulerBlocker() {
  bool blocked;
  {
    MutexLock lock(mutex_);
    blocked = state_ == BLOCKED;
  }
  if (blocked) unblock();
  transition(RUNNING, RUNNING);
  scheduler_->waitIdle();
  scheduler_.reset();
}

void SchedulerBlocker::block() {
  {
    MutexLock lock(mutex_);
    DRAVO_ASSERT_MSG(state_ != BLOCKED, "Tried to block a blocked SchedulerBlocker");
    if (state_ == BLOCKED) return;
  }
  queueBlockingTask();
  transition(BLOCKED, BLOCKED);
}

void SchedulerBlocker::unblock() {
  {
    MutexLock lock(mutex_);
    DRAVO_ASSERT_MSG(state_ == BLOCKED, "Tried to unblock an non-blocked SchedulerBlocker.");
    if (state_ != BLOCKED) return;
  }
  transition(BLOCKED, RELEASING);
}

void SchedulerBlocker::waitIdle() {
  {
    MutexLock lock(mutex_);
    DRAVO_CHECK(state_ == BLOCKED);
  }
  transition(BLOCKED, RELEASING);
  scheduler_->waitIdle();
  block();
}

bool SchedulerBlocker::sleep(Clock const& clock, Duration d, Clock::FrozenBehavior behavior) {
  prepareSleep();
  return sleepOn(clock.requestCallbackIn(
      d, [this](Clock::Event event) { scheduleCb(event); }, behavior));
}

bool SchedulerBlocker::sleepUntil(Clock const& clock, ClockTime const& t) {
  prepareSleep();
  return sleepOn(clock.requestCallbackAt(t, [this](Clock::Event event) { scheduleCb(event); }));
}

bool SchedulerBlocker::sleepUntil(Clock const& clock, Time t) {
  return sleepUntil(clock, ClockTime(clock.getNormalizedClockTime(), t));
}

void SchedulerBlocker::prepareSleep() {
  MutexLock lock(mutex_);
  DRAVO_CHECK(state_ == BLOCKED);
  // Before the request: a clock that delivers on a thread of its own may
  // report the event before the request has even returned.
  normal_ = false;
}

bool SchedulerBlocker::sleepOn(ClockTimerHandle const& handle) {
  AutoHandle<ClockTimerHandleObject> timer(handle);
  transition(BLOCKED, RELEASING);
  transition(BLOCKED, BLOCKED);
  // Cancels the timer if the clock has not delivered it; once cancel
  // returns, `scheduleCb` is not running and never will.
  timer.reset();
  MutexLock lock(mutex_);
  return normal_;
}

void SchedulerBlocker::transition(State from, State to) {
  LOGF(5, "Waiting to transition from %i to %i", static_cast<int>(from), static_cast<int>(to));
  {
    MutexLock lock(mutex_);
    while (state_ != from) condition_.wait(lock);
    state_ = to;
    condition_.notifyAll();
  }
  LOGF(5, "Transition from %i to %i complete", static_cast<int>(from), static_cast<int>(to));
}

void SchedulerBlocker::scheduleCb(Clock::Event event) {
  if (event != Clock::Normal) LOGF(3, "SchedulerBlocker sleep terminated abnormally.");
  {
    MutexLock lock(mutex_);
    normal_ = event == Clock::Normal;
  }
  queueBlockingTask();
}

void SchedulerBlocker::queueBlockingTask() {
  scheduler_->schedule(TaskFunction(std::weak_ptr<void const>(scheduler_), [this] { cb(); }),
                       Priority::idle(2000), nullptr);
}

void SchedulerBlocker::cb() {
  size_t pending = getDeferredCallCount();
  if (pending >= 2) {
    // The scheduler's own pass is one of them; the others (a clock's
    // delivery, say) must run before the scheduler is parked.
    LOGF(5, "Postponing blockage while %u deferred callbacks still need to run.",
         static_cast<unsigned>(pending - 1));
    queueBlockingTask();
    return;
  }
  LOGF(5, "Blocking.");
  transition(RUNNING, BLOCKED);
  transition(RELEASING, RUNNING);
}

}  // namespace dravo::media
