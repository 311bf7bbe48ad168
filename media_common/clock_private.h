#pragma once
// The machinery every clock implementation builds on.
//
// `ClockPrivate` is the base of every clock: it owns the list of live timers
// and the clock mutex. `ClockPrivateUsingTime` turns relative requests into
// absolute ones. `ClockWithTimerQueue` keeps pending timers in a min-heap by
// `ClockTime` and delivers the due ones in `processQueue`; a concrete clock
// only says, in `schedule()`, how it wakes up when the top of the queue comes
// due. `ClockWithTimerQueueAndNow` adds a stored reading for clocks whose
// time moves only when told.
//
// Ownership: a `ClockPrivate` is held by the `Clock`s that share it (and,
// briefly, by wake-ups that locked their weak reference to it). Its concrete
// destructor calls `finalize()`, which delivers `Aborted` to every timer
// still pending.
//
// Locks: the clock mutex is recursive and guards the clock's state and its
// timers. It is never held while a timer callback runs. Each timer has its
// own (recursive) mutex, held while its callback runs. Lock order: timer
// mutex, then clock mutex; a derived clock's mutex comes before its parent's
// clock mutex but never before a parent timer's mutex. `schedule()` and
// `processQueue()` expect the clock mutex held exactly once by the caller,
// since they release it around callbacks; `finalize()` takes it itself.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "common/check.h"
#include "common/mutex.h"
#include "media_common/clock.h"

namespace dravo::media {

// Logs a failed check with an explanation on the "check" logger and goes on.
#define DRAVO_CLOCK_CHECK_MSG(cond, text)                                             \
  do {                                                                                \
    if (!(cond))                                                                      \
      ::dravo::logging::logToLogger("check", 1, __FILE__, __LINE__,                   \
                                    std::string("Check failed " #cond " ") + (text)); \
  } while (0)

// One requested timer. Shared by the clock's `timers_` list (until the event
// is delivered), the timer queue and the holder's handle.
class ClockTimerHandleObjectPrivate {
 public:
  ClockTimerHandleObjectPrivate(ClockPrivate* clock, Clock::Callback callback)
      : callback_(std::move(callback)), clock_(clock) {}

  // Delivers `event` once: the first call wins, later ones do nothing. The
  // caller must hold a strong reference to this object.
  void action(Clock::Event event);
  // Delivers `Cancelled` if still pending. Called on another thread while
  // the callback runs, it returns only once the callback has returned; called
  // from inside the callback, it returns at once.
  void cancel();
  bool pending() const { return pending_.load(std::memory_order_acquire); }

 private:
  friend class ClockPrivate;

  // `own` holds `mutex_`; released once the callback has run.
  void deliver(Clock::Event event, RecursiveMutexLock& own);

  RecursiveMutex mutex_;
  std::atomic<bool> pending_{true};
  Clock::Callback callback_;  // guarded by mutex_
  // Valid while pending: a clock delivers every pending timer before it dies.
  ClockPrivate* const clock_;
  // Position in the clock's `timers_`; guarded by the clock mutex.
  std::list<std::shared_ptr<ClockTimerHandleObjectPrivate>>::iterator position_;
};

class ClockPrivate : public std::enable_shared_from_this<ClockPrivate> {
 public:
  ClockPrivate() = default;
  ClockPrivate(ClockPrivate const&) = delete;
  ClockPrivate& operator=(ClockPrivate const&) = delete;

  // Delivers `Aborted` to every pending timer. Called by every concrete
  // clock's destructor; the clock mutex must not be held.
  virtual void finalize();
  virtual ~ClockPrivate();
  virtual ClockTimerHandle requestCallbackIn(Duration d, Clock::Callback callback,
                                             Clock::FrozenBehavior behavior) = 0;
  virtual ClockTimerHandle requestCallbackAt(ClockTime const& t, Clock::Callback callback) = 0;
  // The current reading. Clock mutex held.
  virtual ClockTime getNormalizedClockTime() = 0;

  RecursiveMutex& mutex() { return mutex_; }
  size_t timerCount();

 protected:
  // Creates a timer, enters it into `timers_` and wraps it in a handle whose
  // last AutoHandle cancels it. Clock mutex held.
  ClockTimerHandle createTimer(Clock::Callback callback,
                               std::shared_ptr<ClockTimerHandleObjectPrivate>* timer);

  RecursiveMutex mutex_;

 private:
  friend class ClockTimerHandleObjectPrivate;

  std::list<std::shared_ptr<ClockTimerHandleObjectPrivate>> timers_;
  size_t timer_count_ = 0;
};

// Relative requests in terms of the reading and absolute requests.
class ClockPrivateUsingTime : public ClockPrivate {
 public:
  ClockTimerHandle requestCallbackIn(Duration d, Clock::Callback callback,
                                     Clock::FrozenBehavior behavior) override;
};

class ClockWithTimerQueue : public ClockPrivateUsingTime {
 public:
  ClockTimerHandle requestCallbackAt(ClockTime const& t, Clock::Callback callback) override;

 protected:
  struct QueueEntry {
    ClockTime when;
    std::shared_ptr<ClockTimerHandleObjectPrivate> timer;
    uint64_t sequence;
  };
  // A binary min-heap of entries: the earliest reading on top, first
  // requested first among equal readings.
  class TimerQueue {
   public:
    bool empty() const { return entries_.empty(); }
    size_t size() const { return entries_.size(); }
    QueueEntry const& top() const { return entries_.front(); }
    void push(QueueEntry entry) {
      entries_.push_back(std::move(entry));
      std::push_heap(entries_.begin(), entries_.end(), RunsLater());
    }
    void pop() { takeTop(); }
    // Removes the top entry and hands it over.
    QueueEntry takeTop() {
      std::pop_heap(entries_.begin(), entries_.end(), RunsLater());
      QueueEntry entry = std::move(entries_.back());
      entries_.pop_back();
      return entry;
    }

   private:
    struct RunsLater {
      bool operator()(QueueEntry const& a, QueueEntry const& b) const {
        if (a.when != b.when) return b.when < a.when;
        return a.sequence > b.sequence;
      }
    };
    std::vector<QueueEntry> entries_;
  };

  // Arranges that `processQueue` runs once the top of the queue is due.
  // Clock mutex held; the queue is not empty.
  virtual void schedule() = 0;
  // `schedule()` unless the queue is empty or being processed.
  virtual void scheduleIfIdle();

  // Delivers every due timer, releasing the clock mutex around each
  // delivery, then clears `processing_` and `wakeup_armed_` and schedules the
  // next wake-up. Clock mutex held once.
  void processQueue();

  bool processing_ = false;
  bool wakeup_armed_ = false;
  TimerQueue timer_queue_;

 private:
  uint64_t next_sequence_ = 0;
};

// Clocks whose reading is a stored value that moves only when told.
class ClockWithTimerQueueAndNow : public ClockWithTimerQueue {
 public:
  explicit ClockWithTimerQueueAndNow(ClockTime now) : now_(now) {}
  ClockTime getNormalizedClockTime() override { return now_; }

 protected:
  ClockTime now_;
};

}  // namespace dravo::media
