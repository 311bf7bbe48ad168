#pragma once
// Condition variable used with `MutexLock`.
//
// The timed waits return by their deadline (or earlier, spuriously); callers
// re-test their predicate and do not rely on the result, which is true when
// the wait was woken rather than timed out.

#include <condition_variable>

#include "common/mutex.h"
#include "common/time.h"

namespace dravo {

class ConditionVariable : NonCopyable {
 public:
  void wait(MutexLock& lock);
  // `deadline` is on the `Time::now()` timeline.
  bool timedWaitAbsolute(MutexLock& lock, Time deadline);
  bool timedWaitRelative(MutexLock& lock, Duration timeout);
  void notify() { cv_.notify_one(); }
  void notifyAll() { cv_.notify_all(); }

 private:
  std::condition_variable cv_;
};

}  // namespace dravo
