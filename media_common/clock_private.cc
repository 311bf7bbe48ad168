#include "media_common/clock_private.h"

#include <sstream>

#include "common/logging.h"

DRAVO_LOGGER("clock");

namespace dravo::media {

namespace {
// Runaway finalization is reported at level 3 at most once per second.
logging::ThrottledLoggingFilter g_finalize_filter(Duration::fromSec(1.0));
}  // namespace

void ClockTimerHandleObjectPrivate::action(Clock::Event event) {
  LOGF(5, "%p action %i %p", static_cast<void*>(clock_), static_cast<int>(event),
       static_cast<void*>(this));
  if (!pending()) return;
  RecursiveMutexLock own(mutex_);
  deliver(event, own);
}

void ClockTimerHandleObjectPrivate::cancel() {
  LOGF(5, "%p action %i %p", static_cast<void*>(clock_), static_cast<int>(Clock::Cancelled),
       static_cast<void*>(this));
  // The lock is taken even when the event is already out: a callback that is
  // still running on another thread holds it, and its holder must be able to
  // rely on the callback being over once cancel returns. The callback's own
  // thread re-enters the recursive lock and goes straight on.
  RecursiveMutexLock own(mutex_);
  deliver(Clock::Cancelled, own);
}

void ClockTimerHandleObjectPrivate::deliver(Clock::Event event, RecursiveMutexLock& own) {
  if (!pending()) return;
  {
    RecursiveMutexLock clock_lock(clock_->mutex_);
    // `this` stays alive: the caller holds a reference.
    clock_->timers_.erase(position_);
    --clock_->timer_count_;
    pending_.store(false, std::memory_order_release);
  }
  Clock::Callback callback = std::move(callback_);
  LOGF(5, "%p action calling %i %i %p", static_cast<void*>(clock_), static_cast<int>(event),
       callback ? 1 : 0, static_cast<void*>(this));
  if (callback) callback(event);
  own.unlock();
  // The callback's captures die here, with no lock held.
}

void ClockTimerHandleObject::cancel() {
  if (impl_) impl_->cancel();
}

bool ClockTimerHandleObject::pending() const { return impl_ && impl_->pending(); }

std::shared_ptr<ClockTimerHandleObject> const g_null_timer_handle_object_ =
    std::make_shared<ClockTimerHandleObject>();

ClockPrivate::~ClockPrivate() {
  LOGF(5, "~ClockPrivate");
  DRAVO_CLOCK_CHECK_MSG(timers_.empty(), "timers_ not empty. Was finalize() called?");
}

void ClockPrivate::finalize() {
  LOGF(5, " finalize()");
  RecursiveMutexLock lock(mutex_);
  size_t count = 0;
  while (!timers_.empty()) {
    if (++count % 100 == 0) {
      LOGF_FILTERED(g_finalize_filter, 3,
                    " More than 100 timers cancelled in a row! Are they rescheduling themselves? "
                    "Cancelled: %zu remain: %zu",
                    count, timer_count_);
    }
    std::shared_ptr<ClockTimerHandleObjectPrivate> timer = timers_.front();
    lock.unlock();
    timer->action(Clock::Aborted);
    lock.relock();
  }
}

size_t ClockPrivate::timerCount() {
  RecursiveMutexLock lock(mutex_);
  return timer_count_;
}

ClockTimerHandle ClockPrivate::createTimer(Clock::Callback callback,
                                           std::shared_ptr<ClockTimerHandleObjectPrivate>* timer) {
  auto created = std::make_shared<ClockTimerHandleObjectPrivate>(this, std::move(callback));
  LOGF(5, "%p ClockTimerHandleObjectPrivate constructed %p", static_cast<void*>(this),
       static_cast<void*>(created.get()));
  created->position_ = timers_.insert(timers_.end(), created);
  ++timer_count_;
  if (timer) *timer = created;
  return ClockTimerHandle(std::make_shared<ClockTimerHandleObject>(std::move(created)),
                          [](ClockTimerHandleObject& object) { object.cancel(); });
}

ClockTimerHandle ClockPrivateUsingTime::requestCallbackIn(Duration d, Clock::Callback callback,
                                                          Clock::FrozenBehavior behavior) {
  ClockTime now = getNormalizedClockTime();
  ClockTime target = now;
  if (!now.isFrozen()) {
    target = now + d;
  } else if (behavior == Clock::FireIfFrozen) {
    target = now.whenFrozen();
  } else if (behavior == Clock::WaitUntilUnfrozen) {
    target = now.whenUnfrozen();
  } else {
    DRAVO_CHECK(false);
  }
  LOGS(5) << " requestCallbackIn " << d << " resulted in requestCallbackAt " << target;
  return requestCallbackAt(target, std::move(callback));
}

ClockTimerHandle ClockWithTimerQueue::requestCallbackAt(ClockTime const& t,
                                                        Clock::Callback callback) {
  LOGS(5) << "requestCallbackAt " << t;
  std::shared_ptr<ClockTimerHandleObjectPrivate> timer;
  ClockTimerHandle handle = createTimer(std::move(callback), &timer);
  timer_queue_.push(QueueEntry{t, std::move(timer), next_sequence_++});
  if (!processing_) schedule();
  return handle;
}

void ClockWithTimerQueue::scheduleIfIdle() {
  if (!timer_queue_.empty() && !processing_) schedule();
}

void ClockWithTimerQueue::processQueue() {
  LOGF(5, "processQueue start");
  ClockTime now = getNormalizedClockTime();
  LOGF(5, "processQueue called with %zu elements on queue.", timer_queue_.size());
  processing_ = true;
  // A timer requested during this pass inside a frozen generation is due at
  // once again (frozen targets and readings all carry the zero time); it
  // waits for the next pass, so a timer that re-requests itself there cannot
  // keep this pass going forever.
  uint64_t const pass_start = next_sequence_;
  size_t calls = 0;
  while (!timer_queue_.empty() && timer_queue_.top().when <= now) {
    if (timer_queue_.top().sequence >= pass_start && timer_queue_.top().when.isFrozen()) break;
    if (++calls % 100 == 0) {
      LOGF(3,
           " More than 100 timers called in a row! Are they rescheduling themselves? Called: "
           "%zu remain: %zu",
           calls, timer_queue_.size());
    }
    QueueEntry entry = timer_queue_.takeTop();
    LOGS(5) << "Trying to call top of queue at " << now << " " << timer_queue_.size()
            << " remain. Cur at " << entry.when << " Next at "
            << (timer_queue_.empty() ? ClockTime() : timer_queue_.top().when);
    if (entry.timer->pending()) {
      Clock::Event event =
          entry.when.sameGeneration(now) && !now.isFrozen() ? Clock::Normal : Clock::Aborted;
      mutex_.unlock();
      entry.timer->action(event);
      entry.timer.reset();
      mutex_.lock();
    }
    now = getNormalizedClockTime();
  }
  processing_ = false;
  wakeup_armed_ = false;
  scheduleIfIdle();
  LOGF(5, "processQueue end");
}

}  // namespace dravo::media
