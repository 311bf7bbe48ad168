// Threads, mutexes, condition variables, and deferred calls and timers on
// the library's own threads.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/condition_variable.h"
#include "common/deferred.h"
#include "common/mutex.h"
#include "common/thread.h"
#include "tests/support/capture.h"
#include "tests/support/waitable_flag.h"

namespace dravo {
namespace {

TEST(ThreadTest, AJoinedThreadIsNeverTheCurrentOneAgain) {
  // The system reuses a finished thread's id for the next thread it starts,
  // usually at once; the joined thread must not take that one for itself.
  Thread first;
  first.start([] {});
  first.join();
  bool first_is_current = true;
  std::thread([&] { first_is_current = first.isCurrent(); }).join();
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

TEST(MutexTest, ScopedLockMisuseIsReportedWithoutDeadlock) {
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
}

TEST(ConditionVariableTest, AnUnboundedWaitWakesAndAPastDeadlineReturnsAtOnce) {
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
  EXPECT_FALSE(cv.timedWaitRelative(lock, -Duration::fromMSec(5))) << "a past deadline";
  lock.unlock();
  notifier.join();
}

using testing::WaitableFlag;

// Holds the deferred (or timer) thread inside a call until opened.
struct Gate {
  void block() { entered.set(), open.waitFor(); }
  WaitableFlag entered, open;
};

// Waits until every timer due before now has run: timers run in due order on
// one thread, so a zero-delay timer created now runs after all of them.
void waitForTimersDueBy(Duration delay = Duration()) {
  WaitableFlag done;
  createOneShotTimer(delay, [&] { done.set(); });
  ASSERT_TRUE(done.waitFor());
}

// Records the thread that destroyed it.
struct Tracked {
  ~Tracked() { *destroyed_on = std::this_thread::get_id(); }
  std::thread::id* destroyed_on;
};

TEST(DeferredTest, CallsRunInQueueOrderOnTheDeferredThreadAndCancelWins) {
  std::vector<int> order;  // touched only on the deferred thread until drained
  std::thread::id deferred_thread, deleted_on, reset_on;
  Gate gate;  // everything below is queued before the first call runs
  scheduleDeferred([&gate] { gate.block(); });
  gate.entered.waitFor();
  for (int i = 0; i < 3; ++i)
    scheduleDeferred([&, i] {
      order.push_back(i);
      deferred_thread = std::this_thread::get_id();
      // Queued from inside a call: runs after everything already queued.
      if (i == 0) scheduleDeferred([&order] { order.push_back(-1); });
    });
  TimerHandle cancelled = scheduleDeferred([&order] { order.push_back(-2); });
  TimerHandle(cancelled).cancel();  // a copy cancels the shared registration
  deferredDelete(new Tracked{&deleted_on});
  std::shared_ptr<Tracked> shared(new Tracked{&reset_on});
  deferredReset(shared);
  EXPECT_FALSE(shared);
  testing::AssertionCapture assertions;
  scheduleDeferred([] { waitForDeferredCalls(); });  // would wait for itself
  gate.open.set();
  waitForDeferredCalls();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, -1}));
  EXPECT_TRUE(deferred_thread != std::this_thread::get_id() && deleted_on == deferred_thread &&
              reset_on == deferred_thread);
  EXPECT_EQ(assertions.messages(),
            std::vector<std::string>{
                "Assertion failed: waitForDeferredCalls called on the deferred thread"});
}

// Another thread cancels (a) a call that is due right behind a running one,
// which ends only after cancel() returned, so any start is a late one, and
// (b) a call racing its own start, which may run but at most once. A
// cancelled timer releases its captures at once, not at its due time.
TEST(DeferredTest, CancelFromAnotherThreadStopsDueCallsAndRacesCleanly) {
  auto payload = std::make_shared<int>(7);
  std::weak_ptr<int> watch = payload;
  createOneShotTimer(Duration::fromSec(3600), [payload = std::move(payload)] {}).cancel();
  std::atomic<int> late_starts{0}, twice{0};
  for (int round = 0; round < 600; ++round) {
    bool const use_timer = round % 2;
    auto schedule = [use_timer](std::function<void()> f) {
      return use_timer ? createOneShotTimer(Duration(), f) : scheduleDeferred(f);
    };
    Gate gate;
    schedule([&gate] { gate.block(); });
    TimerHandle due = schedule([&late_starts] { ++late_starts; });
    gate.entered.waitFor();
    std::thread([&] {
      due.cancel();
      gate.open.set();
    }).join();
    auto runs = std::make_shared<std::atomic<int>>(0);
    TimerHandle racing = schedule([runs, &twice] {
      if (++*runs > 1) ++twice;
    });
    std::thread([&racing] { racing.cancel(); }).join();
    use_timer ? waitForTimersDueBy() : waitForDeferredCalls();
  }
  EXPECT_EQ(late_starts.load() + twice.load(), 0);
  EXPECT_TRUE(watch.expired());
}

TEST(TimerTest, RepeatingTimerKeepsCadenceSkipsMissedTicksAndCancelsItself) {
  constexpr Duration kInterval = Duration::fromMSec(20);
  Mutex mutex;
  ConditionVariable never_signalled;
  std::vector<Time> ticks;
  WaitableFlag fourth;
  TimerHandle handle;
  Time const start = Time::now();
  MutexLock lock(mutex);  // the callback reads `handle` only once it is set
  handle = createRepeatingTimer(kInterval, [&] {
    MutexLock lock(mutex);
    ticks.push_back(Time::now());
    // Stall the first tick for 5.5 intervals: later ticks must stay on the
    // original phase instead of catching up in a burst.
    if (ticks.size() == 1) never_signalled.timedWaitRelative(lock, kInterval * 11 / 2);
    if (ticks.size() == 4) handle.cancel(), fourth.set();
  });
  lock.unlock();
  ASSERT_TRUE(fourth.waitFor());
  waitForTimersDueBy(kInterval * 3);  // any further tick would be due by then
  lock.relock();
  ASSERT_EQ(ticks.size(), 4u) << "cancel from inside the callback must stop the timer";
  // Tick 2 is the latest missed tick (due at 6 intervals), run at once;
  // ticks 3 and 4 keep the phase.
  for (int i = 0; i < 4; ++i) EXPECT_GE(ticks[i] - start, kInterval * (i == 0 ? 1 : 5 + i)) << i;
}

}  // namespace
}  // namespace dravo
