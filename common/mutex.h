#pragma once
// Mutexes and scoped locks, annotated for clang's thread-safety analysis.
//
// `Mutex`, `RecursiveMutex` and `SharedMutex` are thin, non-copyable wrappers
// over the standard ones. `ScopedLock<M>` (aliases `MutexLock`, `RecursiveMutexLock`)
// locks on construction and unlocks on destruction; `unlock()` and `relock()`
// let a holder drop the lock around a callback. Unlocking a released lock is
// the assertion "locked_", relocking a held one "!locked_". A SharedMutex is
// held by `ReaderLock` for reading and `WriterLock` for writing.
//
// `ScopedUnlock<M>` (alias `MutexUnlock`) is the opposite: it releases a mutex
// the caller holds for its own scope and takes it back when destroyed. A
// function that needs the lock held (DRAVO_REQUIRES) and must call out
// without it uses one, instead of receiving the caller's MutexLock by
// reference, which the analysis cannot connect to the mutex.
//
// Every member that a mutex guards is marked DRAVO_GUARDED_BY, so that a
// clang build with -Wthread-safety checks each access.

#include <mutex>
#include <shared_mutex>

#include "common/assertion.h"
#include "common/non_copyable.h"
#include "common/thread_annotations.h"

namespace dravo {

class DRAVO_CAPABILITY("mutex") Mutex : NonCopyable {
 public:
  void lock() DRAVO_ACQUIRE() { mutex_.lock(); }
  void unlock() DRAVO_RELEASE() { mutex_.unlock(); }
  bool tryLock() DRAVO_TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  // For ConditionVariable, which waits on the standard mutex.
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

// Many readers or one writer. For state read far more often than written.
class DRAVO_CAPABILITY("mutex") SharedMutex : NonCopyable {
 public:
  void lock() DRAVO_ACQUIRE() { mutex_.lock(); }
  void unlock() DRAVO_RELEASE() { mutex_.unlock(); }
  void lockShared() DRAVO_ACQUIRE_SHARED() { mutex_.lock_shared(); }
  void unlockShared() DRAVO_RELEASE_SHARED() { mutex_.unlock_shared(); }

 private:
  std::shared_mutex mutex_;
};

// The bodies are not analysed: whether the mutex is held depends on
// `locked_`, which the analysis does not track. Callers are checked against
// the declarations.
template <typename M>
class DRAVO_SCOPED_CAPABILITY ScopedLock : NonCopyable {
 public:
  explicit ScopedLock(M& mutex) DRAVO_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~ScopedLock() DRAVO_RELEASE() DRAVO_NO_THREAD_SAFETY_ANALYSIS {
    if (locked_) mutex_.unlock();
  }

  void unlock() DRAVO_RELEASE() DRAVO_NO_THREAD_SAFETY_ANALYSIS {
    DRAVO_ASSERT(locked_);
    if (!locked_) return;  // the handler let us go on: never unlock twice
    mutex_.unlock();
    locked_ = false;
  }
  void relock() DRAVO_ACQUIRE() DRAVO_NO_THREAD_SAFETY_ANALYSIS {
    DRAVO_ASSERT(!locked_);
    if (locked_) return;  // relocking a held mutex would deadlock
    mutex_.lock();
    locked_ = true;
  }
  bool isLocked() const { return locked_; }
  M& mutex() DRAVO_RETURN_CAPABILITY(mutex_) { return mutex_; }

 private:
  M& mutex_;
  bool locked_ = true;
};

// A RecursiveMutex held several times stays held by the others while a
// ScopedUnlock releases one level.
template <typename M>
class DRAVO_SCOPED_CAPABILITY ScopedUnlock : NonCopyable {
 public:
  explicit ScopedUnlock(M& mutex) DRAVO_RELEASE(mutex) : mutex_(mutex) { mutex_.unlock(); }
  ~ScopedUnlock() DRAVO_RELEASE() DRAVO_NO_THREAD_SAFETY_ANALYSIS { mutex_.lock(); }

 private:
  M& mutex_;
};

// Holds a SharedMutex for reading; writers use ScopedLock<SharedMutex>.
class DRAVO_SCOPED_CAPABILITY ReaderLock : NonCopyable {
 public:
  explicit ReaderLock(SharedMutex& mutex) DRAVO_ACQUIRE_SHARED(mutex) : mutex_(mutex) {
    mutex_.lockShared();
  }
  ~ReaderLock() DRAVO_RELEASE() DRAVO_NO_THREAD_SAFETY_ANALYSIS { mutex_.unlockShared(); }

 private:
  SharedMutex& mutex_;
};

using MutexLock = ScopedLock<Mutex>;
using WriterLock = ScopedLock<SharedMutex>;
using RecursiveMutexLock = ScopedLock<RecursiveMutex>;
using MutexUnlock = ScopedUnlock<Mutex>;

}  // namespace dravo
