// The wall clock: generation 0, time `Time::now()`; its timers run on the
// support library's timer thread.

#include "common/deferred.h"
#include "common/logging.h"
#include "media_common/clock_private.h"

DRAVO_LOGGER("clock");

namespace dravo::media {

namespace {

// Wake-ups are aimed this much after the timer they stand for, so that a
// timer source that fires early rarely hands back a wake-up before its time.
constexpr Duration kWakeupMargin = Duration::fromMSec(2);

// Keeps exactly one support-library timer armed, for the earliest queued
// timer, and re-arms it only when an earlier one arrives. Owned by the
// `Clock`s that share it; the wake-up holds it weakly.
class SystemClock : public ClockWithTimerQueue {
 public:
  ~SystemClock() override {
    finalize();
    wakeup_timer_.cancel();
  }

  ClockTime getNormalizedClockTime() override DRAVO_REQUIRES(mutex_) {
    return ClockTime(0, Time::now());
  }

 private:
  void schedule() override DRAVO_REQUIRES(mutex_) {
    LOGF(5, "%p schedule()", static_cast<void*>(this));
    DRAVO_CHECK(!timer_queue_.empty());
    if (timer_queue_.empty()) return;
    ClockTime top = timer_queue_.top().when;
    // A system clock never leaves generation 0: anything else never comes
    // due and waits for finalize.
    if (ClockTimePrivate::generation(top) != 0) return;
    if (wakeup_armed_ && top.time() >= armed_time_) return;

    rescheduling_ = true;
    wakeup_armed_ = false;
    TimerHandle old = std::move(wakeup_timer_);
    wakeup_timer_ = TimerHandle();
    mutex_.unlock();
    old.cancel();
    old = TimerHandle();
    mutex_.lock();

    // Another thread may have armed a wake-up (or started a pass) meanwhile.
    if (!rescheduling_) return;
    rescheduling_ = false;
    if (timer_queue_.empty() || processing_) return;
    top = timer_queue_.top().when;
    if (ClockTimePrivate::generation(top) != 0) return;
    LOGS(5) << "Scheduling: " << armed_time_ << " " << top;
    Duration delay = top.time() - Time::now();
    if (delay > Duration()) delay += kWakeupMargin;
    auto self = std::static_pointer_cast<SystemClock>(shared_from_this());
    wakeup_timer_ = createOneShotTimer(delay, bindWeak(self, &SystemClock::processQueueTimerCb));
    armed_time_ = top.time();
    wakeup_armed_ = true;
  }

  void processQueueTimerCb() {
    LOGF(5, "%p processQueueTimerCb Called", static_cast<void*>(this));
    RecursiveMutexLock lock(mutex_);
    if (rescheduling_) {
      LOGF(5, "processQueue bailing because rescheduling is in progress.");
      return;
    }
    if (armed_time_ > Time::now()) {
      wakeup_armed_ = false;
      LOGF(4, "SystemClock callback called early. Rescheduling.");
      scheduleIfIdle();
      return;
    }
    processQueue();
  }

  bool rescheduling_ DRAVO_GUARDED_BY(mutex_) = false;
  Time armed_time_ DRAVO_GUARDED_BY(mutex_);
  TimerHandle wakeup_timer_ DRAVO_GUARDED_BY(mutex_);
};

}  // namespace

std::shared_ptr<Clock> getSystemClock() { return std::make_shared<Clock>(new SystemClock); }

}  // namespace dravo::media
