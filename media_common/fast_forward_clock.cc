// A clock that leaps to its next timer whenever its scheduler is idle.

#include "common/logging.h"
#include "common/string_util.h"
#include "media_common/clock_private.h"

DRAVO_LOGGER("clock");

namespace dravo::media {

namespace {

// Reads the stored `now_`, always in generation 0. When a timer is queued it
// posts an idle task on its scheduler; the task runs only once the scheduler
// has no other work, moves `now_` to the earliest timer and delivers the due
// timers, so simulated time leaps from timer to timer exactly when the
// pipeline has caught up. Time moves only in that task. Owned by its
// `Clock`s; the task holds it weakly.
class FastForwardClock : public ClockWithTimerQueueAndNow {
 public:
  FastForwardClock(std::shared_ptr<Scheduler> scheduler, Time start)
      : ClockWithTimerQueueAndNow(ClockTime(0, start)),
        scheduler_(std::move(scheduler)),
        task_info_(std::make_shared<SimpleTaskInfo>(
            stringPrintf("fastforwardclock idle %p", static_cast<void*>(this)))) {}
  ~FastForwardClock() override { finalize(); }

 private:
  void schedule() override DRAVO_REQUIRES(mutex_) {
    if (wakeup_armed_) return;
    while (!timer_queue_.empty()) {
      if (timer_queue_.top().when.sameGeneration(now_)) {
        LOGF(5, "Scheduling");
        wakeup_armed_ = true;
        auto self = std::static_pointer_cast<FastForwardClock>(shared_from_this());
        scheduler_->schedule(bindWeak(self, &FastForwardClock::idleCallback), Priority::idle(1000),
                             task_info_);
        return;
      }
      LOGS(4) << static_cast<void*>(this)
              << " Ignoring impossible callback (will be called at clock shutdown).";
      timer_queue_.pop();
    }
  }

  void idleCallback() {
    LOGF(5, "idleCallback Called");
    RecursiveMutexLock lock(mutex_);
    DRAVO_ASSERT_MSG(!timer_queue_.empty(), "Scheduled unnecessarily!");
    if (timer_queue_.empty()) {
      wakeup_armed_ = false;
      return;
    }
    ClockTime const& top = timer_queue_.top().when;
    if (top > now_ && top.sameGeneration(now_)) {
      LOGS(5) << "Updated time from " << now_ << " to " << top;
      now_ = top;
    }
    DRAVO_CHECK(0U == ClockTimePrivate::generation(now_));
    processQueue();
    LOGF(5, "Done call");
  }

  std::shared_ptr<Scheduler> const scheduler_;
  std::shared_ptr<TaskInfo const> const task_info_;
};

}  // namespace

std::shared_ptr<Clock> getFastForwardClock(std::shared_ptr<Scheduler> scheduler, Time start) {
  return std::make_shared<Clock>(new FastForwardClock(std::move(scheduler), start));
}

}  // namespace dravo::media
