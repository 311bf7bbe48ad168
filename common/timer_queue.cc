// One-shot and repeating timers on the process-wide timer thread.

#include <algorithm>
#include <vector>

#include "common/check.h"
#include "common/condition_variable.h"
#include "common/deferred.h"
#include "common/deferred_registration.h"
#include "common/mutex.h"
#include "common/never_destroyed.h"
#include "common/thread.h"

DRAVO_LOGGER("deferred");

namespace dravo {

using deferred_internal::Registration;
using RegistrationPtr = std::shared_ptr<Registration>;

namespace {

// Heap order: the top is the earliest due time, ties in creation order.
struct RunsLater {
  bool operator()(RegistrationPtr const& a, RegistrationPtr const& b) const {
    if (a->due != b->due) return a->due > b->due;
    return a->sequence > b->sequence;
  }
};

// The process-wide timer heap and the thread that runs due timers (a
// `serviceInstance`). Any thread adds timers or reports cancellations; only
// the timer thread runs, re-arms and discards registrations.
class TimerQueue : NonCopyable {
 public:
  TimerQueue() {
    thread_.setName("dravo_timer");
    thread_.start([this] { run(); });
  }

  void add(RegistrationPtr const& registration, Time due) {
    MutexLock lock(mutex_);
    if (stopping_) return;
    registration->due = due;
    registration->sequence = next_sequence_++;
    heap_.push_back(registration);
    std::push_heap(heap_.begin(), heap_.end(), RunsLater());
    if (heap_.front() == registration) wake_.notify();
  }

  void noteCancelled() {
    MutexLock lock(mutex_);
    ++cancelled_hint_;
    wake_.notify();
  }

  void stop() {
    {
      MutexLock lock(mutex_);
      stopping_ = true;
      wake_.notify();
    }
    if (!thread_.isCurrent()) thread_.join();
  }

 private:
  void run() {
    MutexLock lock(mutex_);
    while (!stopping_) {
      if (cancelled_hint_ != 0) {
        std::vector<RegistrationPtr> dropped = takeCancelled();
        // Their functions die with the mutex released: a destructor may
        // touch timers again.
        MutexUnlock unlocked(mutex_);
        for (RegistrationPtr& registration : dropped) registration->function = nullptr;
        dropped.clear();
        continue;
      }
      if (heap_.empty()) {
        wake_.wait(lock);
        continue;
      }
      Time due = heap_.front()->due;
      if (due > Time::now()) {
        wake_.timedWaitAbsolute(lock, due);
        continue;
      }
      std::pop_heap(heap_.begin(), heap_.end(), RunsLater());
      RegistrationPtr registration = std::move(heap_.back());
      heap_.pop_back();
      lock.unlock();
      bool again = fire(*registration);
      lock.relock();
      if (again && !stopping_) {
        heap_.push_back(std::move(registration));
        std::push_heap(heap_.begin(), heap_.end(), RunsLater());
        continue;
      }
      // The function dies with the mutex released: its captures may touch
      // timers again.
      MutexUnlock unlocked(mutex_);
      registration->function = nullptr;
      registration.reset();
    }
  }

  // Runs a due registration; true when a repeating timer must be re-armed
  // (its next due time is already set).
  static bool fire(Registration& registration) {
    if (!registration.tryStart()) return false;
    registration.function();
    if (registration.interval <= Duration()) {
      registration.tryFinish(Registration::kDone);
      return false;
    }
    // Steady cadence: the next tick is one interval after the previous due
    // time; ticks missed entirely are skipped, the latest one runs at once.
    Time next = registration.due + registration.interval;
    Time now = Time::now();
    if (next < now)
      next += registration.interval * ((now - next).toNSec() / registration.interval.toNSec());
    registration.due = next;
    return registration.tryFinish(Registration::kPending);
  }

  // Removes cancelled timers from the heap and gives them to the caller.
  std::vector<RegistrationPtr> takeCancelled() DRAVO_REQUIRES(mutex_) {
    cancelled_hint_ = 0;
    auto dead = std::stable_partition(heap_.begin(), heap_.end(), [](RegistrationPtr const& r) {
      return r->state.load(std::memory_order_acquire) != Registration::kCancelled;
    });
    std::vector<RegistrationPtr> dropped(std::make_move_iterator(dead),
                                         std::make_move_iterator(heap_.end()));
    heap_.erase(dead, heap_.end());
    std::make_heap(heap_.begin(), heap_.end(), RunsLater());
    return dropped;
  }

  Mutex mutex_;
  ConditionVariable wake_;
  std::vector<RegistrationPtr> heap_ DRAVO_GUARDED_BY(mutex_);
  uint64_t next_sequence_ DRAVO_GUARDED_BY(mutex_) = 0;
  size_t cancelled_hint_ DRAVO_GUARDED_BY(mutex_) = 0;
  bool stopping_ DRAVO_GUARDED_BY(mutex_) = false;
  Thread thread_;
};

TimerHandle createTimer(Duration delay, Duration interval, std::function<void()> function) {
  auto registration = std::make_shared<Registration>(Registration::kTimer, std::move(function));
  registration->interval = interval;
  serviceInstance<TimerQueue>().add(registration, Time::now() + delay);
  return TimerHandle(std::move(registration));
}

}  // namespace

namespace deferred_internal {
void noteTimerCancelled() { serviceInstance<TimerQueue>().noteCancelled(); }
}  // namespace deferred_internal

TimerHandle createOneShotTimer(Duration delay, std::function<void()> function) {
  return createTimer(delay, Duration(), std::move(function));
}

TimerHandle createRepeatingTimer(Duration interval, std::function<void()> function) {
  if (interval <= Duration()) {
    DRAVO_FAIL("Repeating timer needs a positive interval");
    interval = Duration::fromMSec(1);
  }
  return createTimer(interval, interval, std::move(function));
}

}  // namespace dravo
