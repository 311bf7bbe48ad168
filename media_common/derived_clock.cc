#include "media_common/derived_clock.h"

#include "common/logging.h"

DRAVO_LOGGER("clock");

namespace dravo::media {

void DerivedClock::shutdown() {
  finalize();
  AutoHandle<ClockTimerHandleObject> parent_timer;
  TimerHandle deferred_wakeup;
  {
    RecursiveMutexLock lock(mutex_);
    parent_timer = std::move(parent_timer_);
    deferred_wakeup = std::move(deferred_wakeup_);
  }
  parent_timer.reset();
  deferred_wakeup.cancel();
}

void DerivedClock::redoSchedulingAfterClockingChange() {
  LOGF(5, "%p DerivedClock::redoSchedulingAfterClockingChange()", static_cast<void*>(this));
  wakeup_armed_ = false;
  scheduleIfIdle();
}

void DerivedClock::schedule() {
  LOGF(5, "%p schedule()", static_cast<void*>(this));
  DRAVO_CHECK(!timer_queue_.empty());
  if (in_schedule_) {
    schedule_again_ = true;
    return;
  }
  in_schedule_ = true;
  do {
    schedule_again_ = false;
    if (timer_queue_.empty() || processing_) break;
    scheduleOnce();
  } while (schedule_again_);
  in_schedule_ = false;
}

void DerivedClock::scheduleOnce() {
  ClockTime top = timer_queue_.top().when;
  if (wakeup_armed_ && !(top < armed_time_)) return;

  rescheduling_ = true;
  AutoHandle<ClockTimerHandleObject> old_timer = std::move(parent_timer_);
  parent_timer_ = AutoHandle<ClockTimerHandleObject>();
  TimerHandle old_wakeup = std::move(deferred_wakeup_);
  deferred_wakeup_ = TimerHandle();
  mutex_.unlock();
  old_timer.reset();  // cancels it: `Cancelled` reaches processQueueTimerCb
  old_wakeup.cancel();
  mutex_.lock();

  if (!rescheduling_) return;  // another thread re-armed meanwhile
  rescheduling_ = false;
  if (timer_queue_.empty() || processing_) return;
  top = timer_queue_.top().when;
  if (top <= getNormalizedClockTime()) {
    LOGS(5) << "Scheduling: " << armed_time_ << " due now";
    std::weak_ptr<ClockPrivate> weak = weak_from_this();
    deferred_wakeup_ = scheduleDeferred([weak] {
      if (std::shared_ptr<ClockPrivate> self = weak.lock())
        static_cast<DerivedClock*>(self.get())->processQueueTimerCb(Clock::Normal);
    });
  } else {
    auto [parent, parent_time] = toParent(top);
    if (parent_time.isFrozen()) {
      // The top lies beyond what this clock reaches while the parent stays
      // in its generation: nothing but the parent's next change of
      // generation (or a change made here, which re-aims anyway) can bring
      // it closer. Aimed inside a frozen stretch the parent has reached, the
      // request would come back `Aborted` at once and be re-armed the same
      // way for as long as the parent stays frozen.
      parent_time = ClockTimePrivate::nextGeneration(parent->getNormalizedClockTime());
    }
    LOGS(5) << "Scheduling: " << armed_time_ << " " << parent_time;
    parent_timer_ = AutoHandle<ClockTimerHandleObject>(parent->requestCallbackAt(
        parent_time, bindWeak<void(Clock::Event)>(sharedSelf<DerivedClock>(),
                                                  &DerivedClock::processQueueTimerCb)));
  }
  wakeup_armed_ = true;
  armed_time_ = top;
}

void DerivedClock::processQueueTimerCb(Clock::Event event) {
  LOGF(5, "%p processQueueTimerCb Called", static_cast<void*>(this));
  RecursiveMutexLock lock(mutex_);
  if (event == Clock::Cancelled) {
    LOGF(5, "%p processQueue bailing on event %u", static_cast<void*>(this),
         static_cast<unsigned>(event));
    wakeup_armed_ = false;
    return;
  }
  if (rescheduling_) {
    LOGF(5, "processQueue bailing because rescheduling is in progress.");
    return;
  }
  if (getNormalizedClockTime() < armed_time_) {
    wakeup_armed_ = false;
    LOGF(5, "DerivedClock callback called early. Rescheduling.");
    scheduleIfIdle();
    return;
  }
  processQueue();
}

}  // namespace dravo::media
