// Threads, mutexes, condition variables and sequence checkers.

#include <gtest/gtest.h>
#include <pthread.h>

#include <thread>

#include "common/condition_variable.h"
#include "common/mutex.h"
#include "common/sequence_checker.h"
#include "common/thread.h"
#include "tests/support/capture.h"

namespace dravo {
namespace {

TEST(ThreadTest, NameCurrentAndAdoptedThreads) {
  Thread thread;
  thread.setName("a_rather_long_worker_name");
  char kernel_name[32] = {};
  Thread* seen_current = nullptr;
  thread.start([&] {
    pthread_getname_np(pthread_self(), kernel_name, sizeof kernel_name);
    seen_current = Thread::current();
  });
  thread.join();
  EXPECT_STREQ(kernel_name, "a_rather_long_w") << "the kernel keeps 15 bytes";
  EXPECT_EQ(seen_current, &thread);

  // Threads not started here are adopted, each as its own Thread.
  Thread* main_thread = Thread::current();
  EXPECT_TRUE(main_thread != nullptr && Thread::current() == main_thread);
  Thread* other = nullptr;
  std::thread([&] { other = Thread::current(); }).join();
  EXPECT_NE(other, main_thread);
}

TEST(ThreadTest, AJoinedThreadIsNeverTheCurrentOneAgain) {
  // The system reuses a finished thread's id for the next thread it starts,
  // usually at once; the joined thread must not take that one for itself.
  Thread first;
  first.start([] {});
  first.join();
  bool first_is_current = true;
  std::thread next([&] { first_is_current = first.isCurrent(); });
  next.join();
  EXPECT_FALSE(first_is_current);
}

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
    if (mutex.tryLock()) {
      taken = true;
      mutex.unlock();
    }
  }).join();
  return taken;
}

// The analysis does not know that a recursive mutex may be taken again.
void lockTwice(RecursiveMutex& recursive) DRAVO_NO_THREAD_SAFETY_ANALYSIS {
  RecursiveMutexLock outer(recursive), inner(recursive);
}

TEST(MutexTest, ScopedLockAndUnlockMisuseAndScopes) {
  Mutex mutex;
  MutexLock lock(mutex);
  EXPECT_FALSE(anotherThreadCanTake(mutex));
  testing::AssertionCapture assertions;
  unlockTwiceThenRelockTwice(lock);
  EXPECT_EQ(assertions.messages(),
            (std::vector<std::string>{"Assertion failed: locked_", "Assertion failed: !locked_"}));
  {
    MutexUnlock unlocked(mutex);  // releases for its scope only
    EXPECT_TRUE(anotherThreadCanTake(mutex));
  }
  EXPECT_FALSE(anotherThreadCanTake(mutex));
  EXPECT_TRUE(lock.isLocked());
  RecursiveMutex recursive;
  lockTwice(recursive);
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

// Runs `body` on a new thread, inside `token`'s sequence when it is valid.
template <typename F>
void runOnOtherThread(SequenceToken token, F body) {
  std::thread([&] {
    if (token.valid()) {
      ScopedSequence scope(token);
      body();
    } else {
      body();
    }
  }).join();
}

class SequenceCheckerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DRAVO_DCHECK_IS_ON) GTEST_SKIP() << "sequence checks are compiled out (MEDIA_DCHECK=OFF)";
  }
};

TEST_F(SequenceCheckerTest, ThreadBoundCheckerRefusesOtherThreadsUntilDetached) {
  SequenceChecker checker;
  DRAVO_DCHECK_RUN_ON(checker);  // binds to this thread
  bool elsewhere = true;
  testing::AssertionCapture assertions;
  runOnOtherThread(SequenceToken::create(), [&] {
    elsewhere = checker.isCurrent();
    DRAVO_DCHECK_RUN_ON(checker);
  });
  EXPECT_EQ(assertions.messages(),
            std::vector<std::string>{"Assertion failed: Called on the wrong sequence"});
  EXPECT_FALSE(elsewhere);
  checker.detach();
  runOnOtherThread(SequenceToken(), [&] { elsewhere = checker.isCurrent(); });
  EXPECT_TRUE(elsewhere);
  EXPECT_FALSE(checker.isCurrent());
}

TEST_F(SequenceCheckerTest, SequenceBoundCheckerFollowsItsTokenAcrossThreads) {
  SequenceToken const mine = SequenceToken::create(), other = SequenceToken::create();
  SequenceChecker checker;
  {
    ScopedSequence scope(mine);
    EXPECT_TRUE(checker.isCurrent());
    {
      ScopedSequence nested(other);
      EXPECT_FALSE(checker.isCurrent());
    }
    EXPECT_TRUE(SequenceToken::current() == mine);
  }
  EXPECT_FALSE(checker.isCurrent()) << "this thread outside the sequence";
  bool same_token = false, other_token = true, no_token = true;
  runOnOtherThread(mine, [&] { same_token = checker.isCurrent(); });
  runOnOtherThread(other, [&] { other_token = checker.isCurrent(); });
  runOnOtherThread(SequenceToken(), [&] { no_token = checker.isCurrent(); });
  EXPECT_TRUE(same_token);
  EXPECT_FALSE(other_token || no_token);
}

}  // namespace
}  // namespace dravo
