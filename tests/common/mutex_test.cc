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
  EXPECT_FALSE(mutex.tryLock());
  lock.unlock();
  EXPECT_FALSE(lock.isLocked());
  ASSERT_TRUE(mutex.tryLock());
  mutex.unlock();
  {
    testing::AssertionCapture assertions;
    lock.unlock();  // already released: reported, and the mutex is left alone
    EXPECT_EQ(assertions.messages(), (std::vector<std::string>{"Assertion failed: locked_"}));
  }
  lock.relock();
  {
    testing::AssertionCapture assertions;
    lock.relock();  // already held: reported instead of deadlocking
    EXPECT_EQ(assertions.messages(), (std::vector<std::string>{"Assertion failed: !locked_"}));
  }
  EXPECT_TRUE(lock.isLocked());
}

TEST(MutexTest, RecursiveMutexNests) {
  RecursiveMutex mutex;
  RecursiveMutexLock outer(mutex);
  RecursiveMutexLock inner(mutex);
  EXPECT_TRUE(mutex.tryLock());
  mutex.unlock();
}

TEST(ConditionVariableTest, NotifyWakesAWaiterWithAnUnboundedTimeout) {
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
  EXPECT_TRUE(lock.isLocked());
  lock.unlock();
  notifier.join();
}

TEST(ConditionVariableTest, TimedWaitsReturnByTheirDeadline) {
  Mutex mutex;
  ConditionVariable cv;
  MutexLock lock(mutex);
  EXPECT_FALSE(cv.timedWaitAbsolute(lock, Time::now() - Duration::fromMSec(1)));
  Time start = Time::now();
  EXPECT_FALSE(cv.timedWaitRelative(lock, Duration::fromMSec(5)));
  EXPECT_GE(Time::now() - start, Duration::fromMSec(5));
  EXPECT_FALSE(cv.timedWaitRelative(lock, -Duration::fromMSec(5)));
  EXPECT_TRUE(lock.isLocked());
}

}  // namespace
}  // namespace dravo
