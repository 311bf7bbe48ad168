#include "media_common/threaded_scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/deferred.h"
#include "common/thread.h"
#include "tests/support/capture.h"
#include "tests/support/waitable_flag.h"

namespace dravo::media {
namespace {

using testing::WaitableFlag;

// Calls `on_line` for every line of the scheduler's logger, on the thread
// that logs it (the sink is synchronous).
class SchedulerLogHook {
 public:
  explicit SchedulerLogHook(std::function<void(std::string const&)> on_line) {
    logging::configureLoggers("threaded_scheduler:5");
    previous_ = logging::setLogSink([on_line](logging::LogRecord const& record) {
      if (record.logger == "threaded_scheduler") on_line(std::string(record.message));
    });
  }
  ~SchedulerLogHook() {
    logging::setLogSink(std::move(previous_));
    logging::resetLoggingConfiguration();
  }

 private:
  logging::LogSink previous_;
};

// Names of the tasks that ran, in order; thread-safe.
class RunLog {
 public:
  void add(std::string const& name) {
    std::lock_guard lock(mutex_);
    ran_.push_back(name);
  }
  std::vector<std::string> ran() const {
    std::lock_guard lock(mutex_);
    return ran_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> ran_;
};

std::string currentThreadName() { return Thread::current()->getName(); }

class ThreadedSchedulerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Schedulers are destroyed on the deferred thread; make sure their
    // workers are joined before the next test.
    schedulers_.clear();
    waitForDeferredCalls();
  }

  std::shared_ptr<Scheduler> make(std::vector<ThreadedSchedulerBin> const& bins) {
    schedulers_.push_back(createThreadedScheduler(bins, root_));
    return schedulers_.back();
  }
  std::shared_ptr<Scheduler> make(unsigned threads) {
    schedulers_.push_back(createThreadedScheduler(threads, root_));
    return schedulers_.back();
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("scheduler");
  std::vector<std::shared_ptr<Scheduler>> schedulers_;
  std::shared_ptr<int> owner_ = std::make_shared<int>(0);
  RunLog log_;
  Time t0_ = Time::now();
};

TEST_F(ThreadedSchedulerTest, DefaultBinStartsNamedWorkersWithPropertyNodes) {
  auto scheduler = make(2);
  // Two owners whose tasks wait for each other must be on two threads.
  std::mutex mutex;
  std::condition_variable both_in;
  int arrived = 0;
  std::set<std::string> names;
  auto meet = [&] {
    std::unique_lock lock(mutex);
    names.insert(currentThreadName());
    ++arrived;
    both_in.notify_all();
    both_in.wait_for(lock, std::chrono::seconds(30), [&] { return arrived == 2; });
  };
  auto other_owner = std::make_shared<int>(1);
  scheduler->schedule(TaskFunction(owner_, meet), Priority(1, false), nullptr);
  scheduler->schedule(TaskFunction(other_owner, meet), Priority(1, false), nullptr);
  scheduler->start();
  scheduler->waitIdle();
  EXPECT_EQ(names, (std::set<std::string>{"scheduler_default_0_minpriority_-2147483648_0",
                                          "scheduler_default_1_minpriority_-2147483648_1"}));
  EXPECT_TRUE(root_->getNode("bins/default/thread0"));
  EXPECT_TRUE(root_->getNode("bins/default/thread1"));
}

TEST_F(ThreadedSchedulerTest, UrgentWorkTakesItsOwnBin) {
  auto scheduler = make({ThreadedSchedulerBin("low", Priority::lowest(), 1),
                         ThreadedSchedulerBin("high", Priority(100, false), 1)});
  scheduler->start();
  WaitableFlag low_busy, release_low, urgent_done;
  std::string low_thread, urgent_thread, at_min_thread;
  auto blocker = std::make_shared<int>(1);
  scheduler->schedule(TaskFunction(blocker,
                                   [&] {
                                     low_thread = currentThreadName();
                                     low_busy.set();
                                     release_low.waitFor();
                                   }),
                      Priority(50, false), nullptr);
  ASSERT_TRUE(low_busy.waitFor());
  // The only "low" thread is busy, yet urgent work runs.
  scheduler->schedule(TaskFunction(owner_,
                                   [&] {
                                     urgent_thread = currentThreadName();
                                     urgent_done.set();
                                   }),
                      Priority(150, false), nullptr);
  EXPECT_TRUE(urgent_done.waitFor());
  release_low.set();
  scheduler->schedule(TaskFunction(owner_, [&] { at_min_thread = currentThreadName(); }),
                      Priority(100, false), nullptr);
  scheduler->waitIdle();
  EXPECT_EQ(low_thread, "scheduler_low_0_minpriority_-2147483648_0");
  EXPECT_EQ(urgent_thread, "scheduler_high_1_minpriority_100_0");
  EXPECT_EQ(at_min_thread, urgent_thread);
}

TEST_F(ThreadedSchedulerTest, RefusesIdlePrioritiesAndLevelsWithoutABin) {
  auto scheduler = make({ThreadedSchedulerBin("only", Priority(0, false), 1)});
  scheduler->start();
  testing::AssertionCapture assertions;
  scheduler->schedule(TaskFunction(owner_, [&] { log_.add("below"); }), Priority(-5, false),
                      nullptr);
  scheduler->schedule(TaskFunction(owner_, [&] { log_.add("idle"); }), Priority::idle(5), nullptr);
  scheduler->waitIdle();  // refused tasks are not counted
  EXPECT_TRUE(log_.ran().empty());
  EXPECT_EQ(assertions.messages(),
            (std::vector<std::string>{
                "Assertion failed: Threaded scheduler doesn't have a bin usable by min priority "
                "items",
                "Assertion failed: Idle priorities are not currently allowed in the threaded "
                "scheduler. If you have a use-case we can revisit this"}));
}

TEST_F(ThreadedSchedulerTest, OneOwnersTasksNeverOverlapAndRunByPriorityThenFirstCome) {
  auto scheduler = make(4);
  std::atomic<int> in_flight{0};
  std::atomic<int> overlaps{0};
  std::vector<std::pair<int, int>> expected;  // (level, index)
  std::vector<std::pair<int, int>> ran;       // written by the strand's tasks only
  for (int i = 0; i < 300; ++i) {
    int level = (i * 7) % 5;
    expected.emplace_back(level, i);
    scheduler->schedule(TaskFunction(owner_,
                                     [&, level, i] {
                                       if (in_flight.fetch_add(1) != 0) ++overlaps;
                                       ran.emplace_back(level, i);
                                       in_flight.fetch_sub(1);
                                     }),
                        Priority(level, t0_), nullptr);
  }
  scheduler->start();
  scheduler->waitIdle();
  std::stable_sort(expected.begin(), expected.end(),
                   [](auto const& a, auto const& b) { return a.first > b.first; });
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(ran, expected);
}

TEST_F(ThreadedSchedulerTest, HigherPriorityPushOvertakesAWaitingStrand) {
  auto scheduler = make(1);
  scheduler->start();
  WaitableFlag busy, release;
  auto blocker = std::make_shared<int>(1);
  auto b = std::make_shared<int>(2);
  auto c = std::make_shared<int>(3);
  scheduler->schedule(TaskFunction(blocker,
                                   [&] {
                                     busy.set();
                                     release.waitFor();
                                   }),
                      Priority(10, t0_), nullptr);
  ASSERT_TRUE(busy.waitFor());
  scheduler->schedule(TaskFunction(b, [&] { log_.add("b1"); }), Priority(1, t0_), nullptr);
  scheduler->schedule(TaskFunction(c, [&] { log_.add("c3"); }), Priority(3, t0_), nullptr);
  scheduler->schedule(TaskFunction(b, [&] { log_.add("b5"); }), Priority(5, t0_), nullptr);
  release.set();
  scheduler->waitIdle();
  // b's first runner item (level 1) went stale; b runs at level 5 first.
  EXPECT_EQ(log_.ran(), (std::vector<std::string>{"b5", "c3", "b1"}));
}

TEST_F(ThreadedSchedulerTest, DeadOwnersTasksAreSkippedButCountedAsRun) {
  auto scheduler = make(2);
  auto doomed = std::make_shared<int>(1);
  scheduler->schedule(TaskFunction(doomed, [&] { log_.add("dead"); }), Priority(5, false), nullptr);
  scheduler->schedule(TaskFunction(owner_, [&] { log_.add("alive"); }), Priority(1, false),
                      nullptr);
  doomed.reset();
  scheduler->start();
  scheduler->waitIdle();
  EXPECT_EQ(log_.ran(), std::vector<std::string>{"alive"});
}

TEST_F(ThreadedSchedulerTest, WaitIdleCoversTasksThatScheduleMoreTasks) {
  auto scheduler = make(3);
  scheduler->waitIdle();  // a new scheduler has nothing to run
  std::vector<std::shared_ptr<int>> owners;
  for (int i = 0; i < 8; ++i) owners.push_back(std::make_shared<int>(i));
  std::atomic<int> ran{0};
  Scheduler* raw = scheduler.get();
  std::function<void(int, int)> spawn = [&](int depth, int seed) {
    raw->schedule(TaskFunction(owners[seed % owners.size()],
                               [&, depth, seed] {
                                 ++ran;
                                 if (depth < 5)
                                   for (int k = 0; k < 3; ++k) spawn(depth + 1, seed * 3 + k);
                               }),
                  Priority(seed % 4, false), nullptr);
  };
  scheduler->start();
  for (int round = 1; round <= 3; ++round) {
    spawn(0, round);
    scheduler->waitIdle();
    EXPECT_EQ(ran.load(), round * (1 + 3 + 9 + 27 + 81 + 243));
  }
}

TEST_F(ThreadedSchedulerTest, GetQueuedTasksListsEachOwnerInRunOrder) {
  auto scheduler = make(1);
  auto a = std::make_shared<int>(1);
  auto b = std::make_shared<int>(2);
  auto queue = [&](std::shared_ptr<int> const& owner, int level, const char* name) {
    std::shared_ptr<TaskInfo const> info;
    if (name) info = std::make_shared<SimpleTaskInfo>(name);
    scheduler->schedule(TaskFunction(owner, [] {}), Priority(level, t0_), info);
  };
  queue(a, 1, "a1");
  queue(b, 2, "b2");
  queue(a, 5, "a5");
  queue(a, 3, "a3");
  queue(b, 0, nullptr);
  queue(a, 3, "a3-later");
  std::vector<std::shared_ptr<TaskInfo const>> tasks;
  scheduler->getQueuedTasks(tasks);
  std::vector<std::string> names;
  for (auto const& info : tasks) names.push_back(info ? info->getName() : "<none>");

  std::vector<std::string> of_a{"a5", "a3", "a3-later", "a1"};
  std::vector<std::string> of_b{"b2", "<none>"};
  std::vector<std::string> expected = of_a;
  expected.insert(std::owner_less<>()(a, b) ? expected.end() : expected.begin(), of_b.begin(),
                  of_b.end());
  EXPECT_EQ(names, expected);
}

TEST_F(ThreadedSchedulerTest, ShutdownBeforeStartRunsNothing) {
  auto scheduler = make(2);
  scheduler->schedule(TaskFunction(owner_, [&] { log_.add("queued"); }), Priority(1, false),
                      nullptr);
  scheduler->shutdown(false);
  scheduler->waitIdle();
  scheduler->schedule(TaskFunction(owner_, [&] { log_.add("late"); }), Priority(1, false), nullptr);
  scheduler->waitIdle();  // tasks queued after shutdown do not count
  std::vector<std::shared_ptr<TaskInfo const>> tasks;
  scheduler->getQueuedTasks(tasks);
  EXPECT_EQ(tasks.size(), 2u);
  EXPECT_TRUE(log_.ran().empty());
}

class ThreadedSchedulerShutdownTest : public ThreadedSchedulerTest,
                                      public ::testing::WithParamInterface<bool> {};

TEST_P(ThreadedSchedulerShutdownTest, QueuedTasksNeverRunOnceShutdownReturns) {
  bool wait = GetParam();
  auto scheduler = make(2);
  WaitableFlag running, shutting_down;
  SchedulerLogHook hook([&](std::string const& line) {
    if (line == "Scheduler shutting down.") shutting_down.set();
  });
  auto blocker = std::make_shared<int>(1);
  // The running task holds its worker until shutdown has begun: the queued
  // tasks below are then certain to be still queued.
  scheduler->schedule(TaskFunction(blocker,
                                   [&] {
                                     running.set();
                                     shutting_down.waitFor();
                                     log_.add("running");
                                   }),
                      Priority(1, false), nullptr);
  scheduler->start();
  ASSERT_TRUE(running.waitFor());
  for (int i = 0; i < 5; ++i)
    scheduler->schedule(TaskFunction(blocker, [&] { log_.add("queued"); }), Priority(1, false),
                        nullptr);
  std::thread stopper([&] { scheduler->shutdown(wait); });
  stopper.join();
  // The running task finished before shutdown returned; nothing else ran.
  EXPECT_EQ(log_.ran(), std::vector<std::string>{"running"});
  scheduler->schedule(TaskFunction(owner_, [&] { log_.add("late"); }), Priority(1, false), nullptr);
  scheduler->waitIdle();
  std::vector<std::shared_ptr<TaskInfo const>> tasks;
  scheduler->getQueuedTasks(tasks);
  EXPECT_EQ(tasks.size(), 6u);
  EXPECT_EQ(log_.ran(), std::vector<std::string>{"running"});
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutWaiting, ThreadedSchedulerShutdownTest, ::testing::Bool());

TEST_F(ThreadedSchedulerTest, LastReleaseOnAWorkerDestroysOnTheDeferredThread) {
  testing::AssertionCapture assertions;
  WaitableFlag destructing;
  std::string destroyed_on;
  std::string task_ran_on;
  SchedulerLogHook hook([&](std::string const& line) {
    if (line != "Destructing") return;
    destroyed_on = currentThreadName();
    destructing.set();
  });
  WaitableFlag released;
  auto scheduler = createThreadedScheduler(1, root_);
  // The task holds the last reference once the test lets go of its own; the
  // reference is dropped on the worker after the task has run.
  scheduler->schedule(TaskFunction(owner_,
                                   [&, keep = scheduler] {
                                     released.waitFor();
                                     task_ran_on = currentThreadName();
                                   }),
                      Priority(1, false), nullptr);
  scheduler->start();
  scheduler.reset();
  released.set();
  ASSERT_TRUE(destructing.waitFor());
  waitForDeferredCalls();
  EXPECT_EQ(task_ran_on, "scheduler_default_0_minpriority_-2147483648_0");
  EXPECT_NE(destroyed_on.rfind("scheduler_", 0), 0u) << destroyed_on;
  EXPECT_TRUE(assertions.messages().empty());
}

TEST_F(ThreadedSchedulerTest, OverloadedStrandIsReportedNotRefused) {
  testing::LogCapture capture("threaded_scheduler:7");  // whatever the throttle decides
  auto scheduler = make(1);
  for (int i = 0; i < 2002; ++i)
    scheduler->schedule(TaskFunction(owner_, [&] {}), Priority(1, false),
                        std::make_shared<SimpleTaskInfo>("flood"));
  EXPECT_TRUE(capture.contains(
      "Excessive number of queued tasks in threaded scheduler strand. Tasks: 2001 first task: "
      "flood"));
  scheduler->start();
  scheduler->waitIdle();
}

}  // namespace
}  // namespace dravo::media
