#include "common/mutex.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/condition_variable.h"
#include "tests/support/capture.h"

namespace dravo {
namespace {

// Misuse on purpose, which the analysis refuses at compile time: a second
// unlock (reported, the mutex left alone) and a second relock (reported
// instead of deadlocking).
void unlockTwiceThenRelockTwice(MutexLock& lock) DRAVO_NO_THREAD_SAFETY_ANALYSIS {
  lock.unlock();
  lock.unlock();
  lock.relock();
  lock.relock();
}

// Whether a thread other than the caller could take the mutex now; trying
// a mutex the calling thread holds would be undefined.
bool anotherThreadCanTake(Mutex& mutex) DRAVO_NO_THREAD_SAFETY_ANALYSIS {
  bool taken = false;
  std::thread([&] {
    taken = mutex.tryLock();
    if (taken) mutex.unlock();
  }).join();
  return taken;
}

// The analysis does not know that a recursive mutex may be taken again.
void lockTwice(RecursiveMutex& recursive) DRAVO_NO_THREAD_SAFETY_ANALYSIS {
  RecursiveMutexLock outer(recursive), inner(recursive);
}

TEST(MutexTest, ScopedLockUnlockRelockAndMisuse) {
  Mutex mutex;
  MutexLock lock(mutex);
  EXPECT_FALSE(anotherThreadCanTake(mutex));
  testing::AssertionCapture assertions;
  unlockTwiceThenRelockTwice(lock);
  EXPECT_EQ(assertions.messages(),
            (std::vector<std::string>{"Assertion failed: locked_", "Assertion failed: !locked_"}));
  EXPECT_TRUE(lock.isLocked());
  RecursiveMutex recursive;
  lockTwice(recursive);
}

TEST(MutexTest, ScopedUnlockReleasesForItsScopeOnly) {
  Mutex mutex;
  MutexLock lock(mutex);
  {
    MutexUnlock unlocked(mutex);
    EXPECT_TRUE(anotherThreadCanTake(mutex));
  }
  EXPECT_FALSE(anotherThreadCanTake(mutex));
  EXPECT_TRUE(lock.isLocked());
}

TEST(ConditionVariableTest, UnboundedWaitWakesAndTimedWaitsEndByTheirDeadline) {
  Mutex mutex;
  ConditionVariable cv;
  bool ready = false;
  MutexLock lock(mutex);
  // The notifier can take the mutex only once the waiter sleeps in the wait.
  std::thread notifier([&] {
    MutexLock lock(mutex);
    ready = true;
    cv.notifyAll();
  });
  // Duration::max() means "no deadline"; it must not wrap into the past.
  bool woken = false;
  while (!ready) woken = cv.timedWaitRelative(lock, Duration::max());
  EXPECT_TRUE(woken);
  lock.unlock();
  notifier.join();

  lock.relock();
  Time const start = Time::now();
  EXPECT_FALSE(cv.timedWaitRelative(lock, -Duration::fromMSec(5)) ||
               cv.timedWaitRelative(lock, Duration::fromMSec(5)));
  EXPECT_TRUE(Time::now() - start >= Duration::fromMSec(5) && lock.isLocked());
}

}  // namespace
}  // namespace dravo
