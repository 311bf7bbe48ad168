#include "common/deferred.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/condition_variable.h"
#include "common/mutex.h"
#include "tests/support/capture.h"

namespace dravo {
namespace {

constexpr Duration kGenerous = Duration::fromMSec(20000);

// A counter that tests can wait on, with a generous deadline so a loaded
// machine never fails a correct implementation.
class Counter {
 public:
  void increment() {
    MutexLock lock(mutex_);
    ++value_;
    changed_.notifyAll();
  }
  int value() {
    MutexLock lock(mutex_);
    return value_;
  }
  bool waitFor(int target) {
    Time deadline = Time::now() + kGenerous;
    MutexLock lock(mutex_);
    while (value_ < target && Time::now() < deadline) changed_.timedWaitAbsolute(lock, deadline);
    return value_ >= target;
  }

 private:
  Mutex mutex_;
  ConditionVariable changed_;
  int value_ DRAVO_GUARDED_BY(mutex_) = 0;
};

// Holds the deferred thread inside a call until `open` is called.
class Gate {
 public:
  void block() {
    MutexLock lock(mutex_);
    entered_ = true;
    changed_.notifyAll();
    while (!open_) changed_.wait(lock);
  }
  void waitEntered() {
    MutexLock lock(mutex_);
    while (!entered_) changed_.wait(lock);
  }
  void open() {
    MutexLock lock(mutex_);
    open_ = true;
    changed_.notifyAll();
  }

 private:
  Mutex mutex_;
  ConditionVariable changed_;
  bool entered_ DRAVO_GUARDED_BY(mutex_) = false;
  bool open_ DRAVO_GUARDED_BY(mutex_) = false;
};

// Waits until every timer due before now has run: timers run in due order on
// one thread, so a zero-delay timer created now runs after all of them.
void waitForDueTimers() {
  Counter done;
  createOneShotTimer(Duration(), [&] { done.increment(); });
  ASSERT_TRUE(done.waitFor(1));
}

TEST(DeferredTest, CallsRunInQueueOrderAndLaterCallsQueueBehind) {
  std::vector<int> order;  // touched only on the deferred thread until drained
  std::thread::id deferred_thread;
  char thread_name[16] = {};
  Gate gate;  // everything below is queued before the first call runs
  scheduleDeferred([&gate] { gate.block(); });
  gate.waitEntered();
  for (int i = 0; i < 1000; ++i) {
    scheduleDeferred([&order, &deferred_thread, &thread_name, i] {
      order.push_back(i);
      if (i == 0) {
        deferred_thread = std::this_thread::get_id();
        pthread_getname_np(pthread_self(), thread_name, sizeof thread_name);
        // Queued from inside a call: runs after everything already queued.
        scheduleDeferred([&order] { order.push_back(-1); });
      }
    });
  }
  gate.open();
  waitForDeferredCalls();
  ASSERT_EQ(order.size(), 1001u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(order[i], i);
  EXPECT_EQ(order.back(), -1);
  EXPECT_NE(deferred_thread, std::this_thread::get_id());
  EXPECT_STREQ(thread_name, "dravo_deferred");
  EXPECT_EQ(getDeferredCbCount(), 0u);
}

TEST(DeferredTest, CountIncludesRunningAndQueuedCallsAndCancelWins) {
  Gate gate;
  std::atomic<int> ran{0};
  scheduleDeferred([&] { gate.block(); });
  gate.waitEntered();
  TimerHandle first = scheduleDeferred([&] { ran += 1; });
  TimerHandle copy = first;
  TimerHandle second = scheduleDeferred([&] { ran += 10; });
  EXPECT_EQ(getDeferredCbCount(), 3u);
  copy.cancel();  // a copy cancels the shared registration
  first.cancel();
  gate.open();
  waitForDeferredCalls();
  EXPECT_EQ(ran.load(), 10);
  EXPECT_EQ(getDeferredCbCount(), 0u);
  TimerHandle().cancel();  // an empty handle is harmless
  EXPECT_TRUE(TimerHandle().empty());
  EXPECT_FALSE(second.empty());
}

TEST(DeferredTest, WaitCoversChainsAndRefusesTheDeferredThread) {
  std::atomic<int> depth{0};
  std::function<void()> step = [&] {
    if (++depth < 100) scheduleDeferred(step);
  };
  scheduleDeferred(step);
  waitForDeferredCalls();
  EXPECT_EQ(depth.load(), 100);

  testing::AssertionCapture assertions;
  scheduleDeferred([] { waitForDeferredCalls(); });
  waitForDeferredCalls();
  ASSERT_EQ(assertions.messages().size(), 1u);
  EXPECT_EQ(assertions.messages()[0],
            "Assertion failed: waitForDeferredCalls called on the deferred thread");
}

// Records the thread that destroyed it.
struct Tracked {
  explicit Tracked(std::thread::id* destroyed_on) : destroyed_on_(destroyed_on) {}
  ~Tracked() { *destroyed_on_ = std::this_thread::get_id(); }
  std::thread::id* destroyed_on_;
};

TEST(DeferredTest, DeleteAndResetHappenOnTheDeferredThread) {
  std::thread::id deleted_on, reset_on, deferred_thread;
  scheduleDeferred([&] { deferred_thread = std::this_thread::get_id(); });
  deferredDelete(new Tracked(&deleted_on));
  auto shared = std::make_shared<Tracked>(&reset_on);
  deferredReset(shared);
  EXPECT_FALSE(shared);
  waitForDeferredCalls();
  EXPECT_EQ(deleted_on, deferred_thread);
  EXPECT_EQ(reset_on, deferred_thread);
  deferredDelete<Tracked>(nullptr);
  std::shared_ptr<Tracked> empty;
  deferredReset(empty);
  waitForDeferredCalls();
}

// The target is due (queued right behind a running call, or a timer past its
// due time behind a running timer) when another thread cancels it; the
// running call ends only after cancel() returned, so any start is a late one.
TEST(DeferredTest, CancelFromAnotherThreadWinsWhileTheCallIsDue) {
  std::atomic<int> late_starts{0};
  for (int round = 0; round < 200; ++round) {
    bool use_timer = round % 2;
    Gate gate;
    auto blocker = [&gate] { gate.block(); };
    auto target = [&late_starts] { ++late_starts; };
    TimerHandle handle;
    if (use_timer) {
      createOneShotTimer(Duration(), blocker);
      handle = createOneShotTimer(Duration(), target);
    } else {
      scheduleDeferred(blocker);
      handle = scheduleDeferred(target);
    }
    gate.waitEntered();
    std::thread canceller([&] {
      handle.cancel();
      gate.open();
    });
    canceller.join();
    if (use_timer)
      waitForDueTimers();
    else
      waitForDeferredCalls();
  }
  EXPECT_EQ(late_starts.load(), 0);
}

// Cancel racing the start: each call runs at most once and the bookkeeping
// settles, whichever side wins.
TEST(DeferredTest, CancelRacingTheStartKeepsCountsConsistent) {
  constexpr int kRounds = 2000;
  std::atomic<int> ran{0}, twice{0};
  for (int round = 0; round < kRounds; ++round) {
    auto runs = std::make_shared<std::atomic<int>>(0);
    auto body = [runs, &ran, &twice] {
      if (++*runs > 1) ++twice;
      ++ran;
    };
    TimerHandle handle =
        (round % 2) ? scheduleDeferred(body) : createOneShotTimer(Duration(), body);
    std::thread canceller([&handle] { handle.cancel(); });
    canceller.join();
  }
  waitForDeferredCalls();
  waitForDueTimers();
  EXPECT_EQ(twice.load(), 0);
  EXPECT_LE(ran.load(), kRounds);
  EXPECT_EQ(getDeferredCbCount(), 0u);
}

TEST(TimerTest, OneShotTimersRunInDueOrder) {
  Mutex mutex;
  std::vector<int> order;
  Counter done;
  for (int delay_ms : {60, 20, 40, 0, 30}) {
    createOneShotTimer(Duration::fromMSec(delay_ms), [&, delay_ms] {
      {
        MutexLock lock(mutex);
        order.push_back(delay_ms);
      }
      done.increment();
    });
  }
  ASSERT_TRUE(done.waitFor(5));
  MutexLock lock(mutex);
  EXPECT_EQ(order, (std::vector<int>{0, 20, 30, 40, 60}));
}

TEST(TimerTest, TimerNeverRunsEarly) {
  Time created = Time::now();
  Time fired;
  Counter done;
  createOneShotTimer(Duration::fromMSec(30), [&] {
    fired = Time::now();
    done.increment();
  });
  ASSERT_TRUE(done.waitFor(1));
  EXPECT_GE(fired - created, Duration::fromMSec(30));
}

TEST(TimerTest, RepeatingTimerKeepsCadenceSkipsMissedTicksAndCancelsItself) {
  constexpr Duration kInterval = Duration::fromMSec(20);
  Mutex mutex;
  ConditionVariable never_signalled;
  std::vector<Time> ticks;
  Counter count;
  TimerHandle handle;
  Time start = Time::now();
  {
    MutexLock lock(mutex);  // the callback reads `handle` only after this
    handle = createRepeatingTimer(kInterval, [&] {
      MutexLock lock(mutex);
      ticks.push_back(Time::now());
      // Stall the first tick for 5.5 intervals: later ticks must stay on the
      // original phase instead of catching up in a burst.
      if (ticks.size() == 1) never_signalled.timedWaitRelative(lock, kInterval * 11 / 2);
      if (ticks.size() == 4) handle.cancel();
      count.increment();
    });
  }
  ASSERT_TRUE(count.waitFor(4));
  // Any further tick would be due within two intervals; let them come due.
  Counter barrier;
  createOneShotTimer(kInterval * 3, [&] { barrier.increment(); });
  ASSERT_TRUE(barrier.waitFor(1));

  MutexLock lock(mutex);
  ASSERT_EQ(ticks.size(), 4u) << "cancel from inside the callback must stop the timer";
  EXPECT_GE(ticks[0] - start, kInterval);
  // Tick 2 is the latest missed tick (due at >= 6 intervals), run at once;
  // tick 3 keeps the phase and is not due before 7 intervals.
  EXPECT_GE(ticks[1] - start, kInterval * 6);
  EXPECT_GE(ticks[2] - start, kInterval * 7);
  EXPECT_GE(ticks[3] - start, kInterval * 8);
  EXPECT_LT(ticks[3] - start, kInterval * 8 + Duration::fromSec(10));
}

// After cancel() returns from another thread at most the one run already
// started may still count; no tick starts later.
TEST(TimerTest, RepeatingTimerCancelledFromAnotherThreadStops) {
  for (int round = 0; round < 20; ++round) {
    Counter ticks;
    TimerHandle handle = createRepeatingTimer(Duration::fromMSec(1), [&] { ticks.increment(); });
    ASSERT_TRUE(ticks.waitFor(2));
    int seen = 0;
    std::thread canceller([&] {
      handle.cancel();
      seen = ticks.value();
    });
    canceller.join();
    Counter barrier;
    createOneShotTimer(Duration::fromMSec(5), [&] { barrier.increment(); });
    ASSERT_TRUE(barrier.waitFor(1));
    EXPECT_LE(ticks.value(), seen + 1);
  }
}

TEST(TimerTest, CancelledTimerReleasesItsCapturesBeforeItsDueTime) {
  auto payload = std::make_shared<int>(7);
  std::weak_ptr<int> watch = payload;
  TimerHandle handle = createOneShotTimer(Duration::fromSec(3600),
                                          [payload = std::move(payload)] { ADD_FAILURE(); });
  handle.cancel();
  handle.cancel();
  waitForDueTimers();
  EXPECT_TRUE(watch.expired());
}

TEST(TimerTest, CallbacksMayMixDeferredCallsAndTimersWithoutDeadlock) {
  Counter done;
  std::atomic<bool> cancelled_ran{false};
  TimerHandle victim = createOneShotTimer(Duration::fromMSec(200), [&] { cancelled_ran = true; });
  scheduleDeferred([&] {
    createOneShotTimer(Duration::fromMSec(1), [&] {
      victim.cancel();
      scheduleDeferred([&] {
        // From the deferred thread: a timer whose callback queues a call.
        createOneShotTimer(Duration(), [&] { scheduleDeferred([&] { done.increment(); }); });
      });
    });
  });
  ASSERT_TRUE(done.waitFor(1));
  // Past the victim's due time: it must not have run.
  Counter barrier;
  createOneShotTimer(Duration::fromMSec(250), [&] { barrier.increment(); });
  ASSERT_TRUE(barrier.waitFor(1));
  EXPECT_FALSE(cancelled_ran.load());
}

}  // namespace
}  // namespace dravo
