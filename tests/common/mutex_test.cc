#include "common/mutex.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/condition_variable.h"
#include "tests/support/capture.h"

namespace dravo {
namespace {

TEST(MutexTest, ScopedLockUnlockRelockAndMisuse) {
  Mutex mutex;
  MutexLock lock(mutex);
  // Held here, so another thread cannot take it.
  std::thread([&] { EXPECT_FALSE(mutex.tryLock()); }).join();
  lock.unlock();
  testing::AssertionCapture assertions;
  lock.unlock();  // already released: reported, and the mutex is left alone
  lock.relock();
  lock.relock();  // already held: reported instead of deadlocking
  EXPECT_EQ(assertions.messages(),
            (std::vector<std::string>{"Assertion failed: locked_", "Assertion failed: !locked_"}));
  EXPECT_TRUE(lock.isLocked());
  RecursiveMutex recursive;
  RecursiveMutexLock outer(recursive), inner(recursive);
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
