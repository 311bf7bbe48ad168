#include "media_common/repeating_timer.h"

#include "common/check.h"
#include "common/handle.h"
#include "common/logging.h"
#include "common/mutex.h"

DRAVO_LOGGER("repeating_timer");

namespace dravo::media {

// The shared state of a repeating timer. Owned by the `RepeatingTimer`
// copies; clock callbacks hold it weakly. `mutex_` is held while the user's
// function runs.
//
// Lock order: a clock delivers a timer with that timer's lock held and the
// callback then takes `mutex_`, so a request is never cancelled (which waits
// for the timer's lock) with `mutex_` held by another thread's call: requests
// are replaced under the mutex but dropped after it is released, and each
// request carries the `request_id_` it was made under, so a stale delivery
// that got past the cancel does nothing.
class RepeatingTimerPrivate : public std::enable_shared_from_this<RepeatingTimerPrivate> {
 public:
  RepeatingTimerPrivate(std::shared_ptr<Clock> clock, WeakFunction<void()> callback)
      : clock_(std::move(clock)), callback_(std::move(callback)) {
    DRAVO_ASSERT(clock_);
  }

  void setInterval(Duration d) {
    AutoHandle<ClockTimerHandleObject> cancelled;
    {
      RecursiveMutexLock lock(mutex_);
      if (d == interval_) return;
      cancelled = takePendingRequest();
      Duration old = interval_;
      interval_ = d;
      if (d > Duration()) {
        ClockTime now = clock_->getNormalizedClockTime();
        if (old > Duration()) {
          next_.time() += d - old;
          if (now > next_) next_ = now;
        } else {
          next_ = now + d;
          waiting_for_unfreeze_ = false;
        }
        requestCallback();
      }
    }
    cancelled.reset();
  }

  Duration getInterval() {
    RecursiveMutexLock lock(mutex_);
    return interval_;
  }

 private:
  AutoHandle<ClockTimerHandleObject> takePendingRequest() DRAVO_REQUIRES(mutex_) {
    ++request_id_;
    AutoHandle<ClockTimerHandleObject> taken = std::move(pending_);
    pending_ = AutoHandle<ClockTimerHandleObject>();
    return taken;
  }

  void requestCallback() DRAVO_REQUIRES(mutex_) {
    LOGS(5) << "requestCallback next: " << next_;
    uint64_t id = request_id_;
    std::weak_ptr<RepeatingTimerPrivate> weak = weak_from_this();
    AutoHandle<ClockTimerHandleObject> request(clock_->requestCallbackAt(
        next_, WeakFunction<void(Clock::Event)>(weak, [weak, id](Clock::Event event) {
          if (auto self = weak.lock()) self->callback(id, event);
        })));
    // The replaced request is the one being delivered (or none): dropping it
    // here never waits.
    pending_ = std::move(request);
  }

  void callback(uint64_t id, Clock::Event event) {
    LOGF(5, "callback");
    if (event == Clock::Cancelled) return;
    RecursiveMutexLock lock(mutex_);
    if (id != request_id_ || interval_ <= Duration()) return;
    ClockTime now = clock_->getNormalizedClockTime();
    LOGS(5) << "Calling callback at " << now << " wanted " << next_ << " cb type "
            << static_cast<int>(event);
    if (now.isFrozen()) {
      // Re-arming inside the frozen generation would be due at once again:
      // wait for the clock to run, then re-anchor from its first reading.
      waiting_for_unfreeze_ = true;
      next_ = now.whenUnfrozen();
      requestCallback();
      return;
    }
    if (waiting_for_unfreeze_) {
      waiting_for_unfreeze_ = false;
      next_ = now + interval_;
      requestCallback();
      return;
    }
    if (now.sameGeneration(next_))
      next_.time() += interval_;
    else
      next_ = now + interval_;
    if (event == Clock::Normal) {
      callback_();
      // The function changed the interval: that already re-armed the timer.
      if (id != request_id_) return;
    }
    requestCallback();
  }

  RecursiveMutex mutex_;
  AutoHandle<ClockTimerHandleObject> pending_ DRAVO_GUARDED_BY(mutex_);
  Duration interval_ DRAVO_GUARDED_BY(mutex_);
  std::shared_ptr<Clock> const clock_;
  ClockTime next_ DRAVO_GUARDED_BY(mutex_);
  WeakFunction<void()> const callback_;
  bool waiting_for_unfreeze_ DRAVO_GUARDED_BY(mutex_) = false;
  uint64_t request_id_ DRAVO_GUARDED_BY(mutex_) = 0;
};

RepeatingTimer::RepeatingTimer(std::shared_ptr<Clock> clock, WeakFunction<void()> callback,
                               Duration interval)
    : impl_(std::make_shared<RepeatingTimerPrivate>(std::move(clock), std::move(callback))) {
  impl_->setInterval(interval);
}

void RepeatingTimer::setInterval(Duration interval) { impl_->setInterval(interval); }

Duration RepeatingTimer::getInterval() const { return impl_->getInterval(); }

}  // namespace dravo::media
