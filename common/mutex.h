#pragma once
// Mutexes and scoped locks.
//
// `Mutex` and `RecursiveMutex` are thin, non-copyable wrappers over the
// standard ones. `ScopedLock<M>` (aliases `MutexLock`, `RecursiveMutexLock`)
// locks on construction and unlocks on destruction; `unlock()` and `relock()`
// let a holder drop the lock around a callback. Unlocking a released lock is
// the assertion "locked_", relocking a held one "!locked_".

#include <mutex>

#include "common/check.h"
#include "common/non_copyable.h"
#include "common/thread_annotations.h"

namespace dravo {

class DRAVO_CAPABILITY("mutex") Mutex : NonCopyable {
 public:
  void lock() DRAVO_ACQUIRE() { mutex_.lock(); }
  void unlock() DRAVO_RELEASE() { mutex_.unlock(); }
  bool tryLock() DRAVO_TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  std::mutex& native() { return mutex_; }

 private:
  std::mutex mutex_;
};

class DRAVO_CAPABILITY("mutex") RecursiveMutex : NonCopyable {
 public:
  void lock() DRAVO_ACQUIRE() { mutex_.lock(); }
  void unlock() DRAVO_RELEASE() { mutex_.unlock(); }
  bool tryLock() DRAVO_TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

template <typename M>
class DRAVO_SCOPED_CAPABILITY ScopedLock : NonCopyable {
 public:
  explicit ScopedLock(M& mutex) DRAVO_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~ScopedLock() DRAVO_RELEASE() {
    if (locked_) mutex_.unlock();
  }

  void unlock() DRAVO_RELEASE() {
    DRAVO_ASSERT(locked_);
    if (!locked_) return;  // the handler let us go on: never unlock twice
    mutex_.unlock();
    locked_ = false;
  }
  void relock() DRAVO_ACQUIRE() {
    DRAVO_ASSERT(!locked_);
    if (locked_) return;  // relocking a held mutex would deadlock
    mutex_.lock();
    locked_ = true;
  }
  bool isLocked() const { return locked_; }
  M& mutex() { return mutex_; }

 private:
  M& mutex_;
  bool locked_ = true;
};

using MutexLock = ScopedLock<Mutex>;
using RecursiveMutexLock = ScopedLock<RecursiveMutex>;

}  // namespace dravo
