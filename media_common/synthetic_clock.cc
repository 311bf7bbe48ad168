#include "media_common/synthetic_clock.h"

#include "common/deferred.h"
#include "common/logging.h"
#include "common/mutex.h"
#include "media_common/clock_private.h"

DRAVO_LOGGER("clock");

namespace dravo::media {

// Reads the stored `now_`; due timers are delivered from a deferred call.
// Owned by the generator's `Clock`; the deferred call holds it weakly.
class SyntheticClock : public ClockWithTimerQueueAndNow {
 public:
  explicit SyntheticClock(ClockTime now) : ClockWithTimerQueueAndNow(now) {}
  ~SyntheticClock() override {
    finalize();
    deferred_call_.cancel();
  }

  void advanceClock(Duration d) {
    RecursiveMutexLock lock(mutex_);
    DRAVO_CLOCK_CHECK_MSG(!now_.isFrozen(), "Tried to advance a frozen clock");
    DRAVO_ASSERT_MSG(d >= Duration(), "Tried to roll back a synthetic clock.");
    if (d < Duration()) return;
    now_.time() += d;
    scheduleIfIdle();
  }

  void setTime(Time t, bool allow_backward, Duration small_backward_step) {
    RecursiveMutexLock lock(mutex_);
    if (!now_.isFrozen() && now_.time() > t) {
      Duration step = now_.time() - t;
      if (!allow_backward) {
        LOGS(3) << "Ignoring backward step in not-frozen synthetic clock " << this << ", is: " << t
                << ", was: " << now_ << " delta: " << step;
        return;
      }
      if (step < small_backward_step) {
        LOGS(5) << this << " Ignoring small backward step " << step;
        return;
      }
      now_ = ClockTime(now_.nextUnfrozen(), t);
    } else if (now_.isFrozen()) {
      now_ = ClockTime(now_.nextUnfrozen(), t);
    } else {
      now_.time() = t;
    }
    scheduleIfIdle();
  }

  void freeze() {
    RecursiveMutexLock lock(mutex_);
    now_ = now_.whenFrozen();
    scheduleIfIdle();
  }

 private:
  void schedule() override DRAVO_REQUIRES(mutex_) {
    if (wakeup_armed_ || timer_queue_.empty() || now_ < timer_queue_.top().when) return;
    wakeup_armed_ = true;
    std::weak_ptr<ClockPrivate> weak = weak_from_this();
    deferred_call_ = scheduleDeferred([weak] {
      std::shared_ptr<ClockPrivate> self = weak.lock();
      if (!self) return;
      auto* clock = static_cast<SyntheticClock*>(self.get());
      RecursiveMutexLock lock(clock->mutex_);
      clock->processQueue();
    });
  }

  TimerHandle deferred_call_ DRAVO_GUARDED_BY(mutex_);
};

Time generateClockStartTime() {
  static Mutex mutex;
  static Time last;
  MutexLock lock(mutex);
  last += Duration::fromSec(1000000.0);
  return last;
}

SyntheticClockGenerator::SyntheticClockGenerator(bool frozen, Time start)
    : clock_impl_(new SyntheticClock(frozen ? ClockTime(1, Time()) : ClockTime(0, start))),
      clock_(std::make_shared<Clock>(clock_impl_)) {}

void SyntheticClockGenerator::advanceClock(Duration d) { clock_impl_->advanceClock(d); }

void SyntheticClockGenerator::setTime(Time t, bool allow_backward, Duration small_backward_step) {
  clock_impl_->setTime(t, allow_backward, small_backward_step);
}

void SyntheticClockGenerator::freeze() { clock_impl_->freeze(); }

}  // namespace dravo::media
