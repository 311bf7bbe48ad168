#include "media_common/threaded_scheduler.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/deferred.h"
#include "common/thread.h"
#include "tests/support/capture.h"
#include "tests/support/waitable_flag.h"

namespace dravo::media {
namespace {

using testing::WaitableFlag;

// Calls `on_line` for every line of the scheduler's logger, synchronously on
// the thread that logs it.
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

std::string threadName() { return Thread::current()->getName(); }

// Owns the schedulers of a test and a thread-safe log of the tasks that ran.
class ThreadedSchedulerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    schedulers_.clear();  // destroyed on the deferred thread
    waitForDeferredCalls();
  }
  template <typename Bins>
  std::shared_ptr<Scheduler> make(Bins const& bins) {
    schedulers_.push_back(createThreadedScheduler(bins, root_));
    return schedulers_.back();
  }
  // Queues a task that runs `first`, then logs `name`, followed by its
  // thread's name if `name` ends with "@".
  void schedule(Scheduler& s, std::shared_ptr<int> const& owner, int level, std::string name,
                std::function<void()> first = {}) {
    s.schedule(TaskFunction(owner,
                            [=, this] {
                              if (first) first();
                              add(name.ends_with("@") ? name + threadName() : name);
                            }),
               Priority(level, t0_), nullptr);
  }
  // The same, once it has set `started` and seen `release`.
  void block(Scheduler& s, std::shared_ptr<int> const& owner, int level, WaitableFlag& started,
             WaitableFlag& release, std::string name) {
    schedule(s, owner, level, name, [started = &started, release = &release] {
      started->set();
      release->waitFor();
    });
  }
  void add(std::string const& name) {
    std::lock_guard lock(mutex_);
    ran_.push_back(name);
  }
  std::vector<std::string> ran() {
    std::lock_guard lock(mutex_);
    return ran_;
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("scheduler");
  std::vector<std::shared_ptr<Scheduler>> schedulers_;
  std::shared_ptr<int> owner_ = std::make_shared<int>(0);
  std::mutex mutex_;
  std::vector<std::string> ran_;
  Time t0_ = Time::now();
};

TEST_F(ThreadedSchedulerTest, OwnersRunInParallelBinsTakeTheirLevelsAndPriorityLeads) {
  auto scheduler = make(2u);
  // Two owners whose tasks wait for each other must be on two threads.
  WaitableFlag a_in, b_in;
  auto other = std::make_shared<int>(1);
  block(*scheduler, owner_, 1, a_in, b_in, "@");
  block(*scheduler, other, 1, b_in, a_in, "@");
  scheduler->start();
  scheduler->waitIdle();
  auto threads = ran();
  ASSERT_EQ(threads.size(), 2u);
  EXPECT_NE(threads[0], threads[1]);
  ran_.clear();  // every task is done

  testing::AssertionCapture assertions;
  auto binned = make(std::vector{ThreadedSchedulerBin("low", Priority(0, false), 1),
                                 ThreadedSchedulerBin("high", Priority(100, false), 1)});
  binned->start();
  WaitableFlag low_busy, release_low;
  block(*binned, other, 50, low_busy, release_low, "low@");
  ASSERT_TRUE(low_busy.waitFor());
  // Behind the busy thread: b's first runner item (level 1) goes stale when
  // b5 arrives, so b runs at level 5 before c; a dead owner's task is skipped.
  auto b = std::make_shared<int>(2), c = std::make_shared<int>(3),
       doomed = std::make_shared<int>(4);
  schedule(*binned, b, 1, "b1");
  schedule(*binned, c, 3, "c3");
  schedule(*binned, b, 5, "b5");
  schedule(*binned, doomed, 9, "dead");
  doomed.reset();
  schedule(*binned, owner_, -5, "below every bin");
  binned->schedule(TaskFunction(owner_, [&] { add("idle"); }), Priority::idle(5), nullptr);
  // The only "low" thread is busy, yet urgent work runs, and releases it.
  binned->schedule(TaskFunction(owner_,
                                [&] {
                                  add("urgent@" + threadName());
                                  release_low.set();
                                }),
                   Priority(100, false), nullptr);
  binned->waitIdle();
  EXPECT_EQ(ran(),
            (std::vector<std::string>{"urgent@scheduler_high_1_minpriority_100_0",
                                      "low@scheduler_low_0_minpriority_0_0", "b5", "c3", "b1"}));
  EXPECT_EQ(assertions.messages(),
            (std::vector<std::string>{
                "Assertion failed: Threaded scheduler doesn't have a bin usable by min priority "
                "items",
                "Assertion failed: Idle priorities are not currently allowed in the threaded "
                "scheduler. If you have a use-case we can revisit this"}));
}

class ThreadedSchedulerShutdownTest : public ThreadedSchedulerTest,
                                      public ::testing::WithParamInterface<bool> {};

TEST_P(ThreadedSchedulerShutdownTest, QueuedTasksNeverRunOnceShutdownReturns) {
  auto scheduler = make(2u);
  WaitableFlag running, shutting_down;
  SchedulerLogHook hook([&](std::string const& line) {
    // Other tests' schedulers may still be shutting down on the deferred thread.
    if (line == "Scheduler shutting down." && threadName() == "shutdown") shutting_down.set();
  });
  auto blocker = std::make_shared<int>(1);
  // The running task holds its worker until shutdown has begun: the queued
  // tasks below are then certain to be still queued.
  block(*scheduler, blocker, 1, running, shutting_down, "running");
  scheduler->start();
  ASSERT_TRUE(running.waitFor());
  for (int i = 0; i < 5; ++i) schedule(*scheduler, blocker, 1, "queued");
  Thread shutdown;
  shutdown.setName("shutdown");
  shutdown.start([&] { scheduler->shutdown(GetParam()); });
  shutdown.join();
  schedule(*scheduler, owner_, 1, "late");
  scheduler->waitIdle();
  // The running task finished before shutdown returned; nothing else ran.
  EXPECT_EQ(ran(), std::vector<std::string>{"running"});
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutWaiting, ThreadedSchedulerShutdownTest, ::testing::Bool());

TEST_F(ThreadedSchedulerTest, LastReleaseOnAWorkerDestroysOnTheDeferredThread) {
  testing::AssertionCapture assertions;
  WaitableFlag destructing, released;
  std::string destroyed_on;
  SchedulerLogHook hook([&](std::string const& line) {
    if (line != "Destructing") return;
    destroyed_on = threadName();
    destructing.set();
  });
  auto scheduler = createThreadedScheduler(1, root_);
  // The task holds the last reference once the test lets go of its own; the
  // reference is dropped on the worker after the task has run.
  scheduler->schedule(TaskFunction(owner_, [&, keep = scheduler] { released.waitFor(); }),
                      Priority(1, false), nullptr);
  scheduler->start();
  scheduler.reset();
  released.set();
  ASSERT_TRUE(destructing.waitFor());
  waitForDeferredCalls();
  EXPECT_NE(destroyed_on.rfind("scheduler_", 0), 0u) << destroyed_on;
  EXPECT_TRUE(assertions.messages().empty());
}

TEST_F(ThreadedSchedulerTest, OverloadedStrandIsReportedNotRefused) {
  testing::LogCapture capture("threaded_scheduler:7");  // whatever the throttle decides
  auto scheduler = make(1u);
  for (int i = 0; i < 2002; ++i)
    scheduler->schedule(TaskFunction(owner_, [&] { add("flood"); }), Priority(1, false),
                        std::make_shared<SimpleTaskInfo>("flood"));
  EXPECT_TRUE(capture.contains(
      "Excessive number of queued tasks in threaded scheduler strand. Tasks: 2001 first task: "
      "flood"));
  scheduler->start();
  scheduler->waitIdle();
  EXPECT_EQ(ran().size(), 2002u);
}

TEST_F(ThreadedSchedulerTest, AnOwnerReachedThroughAliasesHasOneStrand) {
  auto scheduler = make(1u);  // not started: everything stays queued
  auto owner = std::make_shared<std::pair<int, int>>();
  std::shared_ptr<int const> alias(owner, &owner->second);
  auto queue = [&](std::shared_ptr<void const> const& who, int level, char const* name) {
    scheduler->schedule(TaskFunction(who, [] {}), Priority(level, t0_),
                        std::make_shared<SimpleTaskInfo>(name));
  };
  queue(alias, 1, "a1");
  queue(owner, 3, "o3");
  queue(alias, 5, "a5");
  std::vector<std::shared_ptr<TaskInfo const>> queued;
  scheduler->getQueuedTasks(queued);
  std::vector<std::string> names;
  for (auto const& info : queued) names.push_back(info->getName());
  // One strand, in run order; two strands would keep a5 and a1 together.
  EXPECT_EQ(names, (std::vector<std::string>{"a5", "o3", "a1"}));
}

}  // namespace
}  // namespace dravo::media
