#include "media_common/trivial_scheduler.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "common/deferred.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

// Records the order in which tasks ran; every task is owned by `owner`.
class RunLog {
 public:
  TaskFunction task(std::string name) {
    return TaskFunction(owner_, [this, name] { ran_.push_back(name); });
  }
  std::vector<std::string> const& ran() const { return ran_; }
  std::shared_ptr<int> owner_ = std::make_shared<int>(0);

 private:
  std::vector<std::string> ran_;  // written on the deferred thread only
};

class TrivialSchedulerTest : public ::testing::Test {
 protected:
  std::shared_ptr<Scheduler> scheduler_ = createTrivialScheduler();
  RunLog log_;
};

TEST_F(TrivialSchedulerTest, RunsNothingBeforeStartThenByPriorityThenFirstCome) {
  Time t0 = Time::now();
  auto doomed = std::make_shared<int>(1);
  scheduler_->schedule(TaskFunction(doomed, [] { FAIL() << "dead owner's task ran"; }),
                       Priority(9, false), nullptr);
  doomed.reset();
  scheduler_->schedule(log_.task("a"), Priority(1, t0), nullptr);
  scheduler_->schedule(log_.task("b"), Priority(1, t0), nullptr);
  scheduler_->schedule(log_.task("idle"), Priority::idle(1000), nullptr);
  scheduler_->schedule(log_.task("high"), Priority(5, t0 + Duration::fromSec(1)), nullptr);
  scheduler_->schedule(log_.task("older"), Priority(1, t0 - Duration::fromSec(1)), nullptr);
  scheduler_->schedule(log_.task("c"), Priority(1, t0), nullptr);
  waitForDeferredCalls();
  EXPECT_TRUE(log_.ran().empty());
  scheduleDeferred([s = scheduler_] { s->start(); });
  scheduler_->waitIdle();  // returns only once started and drained
  waitForDeferredCalls();
  EXPECT_EQ(log_.ran(), (std::vector<std::string>{"high", "older", "a", "b", "c", "idle"}));
}

TEST_F(TrivialSchedulerTest, TaskQueuedByATaskRunsInALaterPass) {
  bool inner_ran_inside = false;
  bool outer_done = false;
  scheduler_->schedule(
      TaskFunction(log_.owner_,
                   [&] {
                     scheduler_->schedule(
                         TaskFunction(log_.owner_, [&] { inner_ran_inside = !outer_done; }),
                         Priority::highest(), nullptr);
                     outer_done = true;
                   }),
      Priority(1, false), nullptr);
  scheduler_->start();
  scheduler_->waitIdle();
  waitForDeferredCalls();
  EXPECT_TRUE(outer_done);
  EXPECT_FALSE(inner_ran_inside);
}

TEST_F(TrivialSchedulerTest, DestructionAndShutdownLetTheRunningTaskFinishAndNoOther) {
  std::mutex mutex;
  std::condition_variable cv;
  bool running = false, released = false;
  scheduler_->schedule(TaskFunction(log_.owner_,
                                    [&] {
                                      std::unique_lock lock(mutex);
                                      running = true;
                                      cv.notify_all();
                                      cv.wait(lock, [&] { return released; });
                                    }),
                       Priority(2, false), nullptr);
  for (int i = 0; i < 10; ++i) scheduler_->schedule(log_.task("t"), Priority(1, false), nullptr);
  scheduler_->start();
  {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return running; });
  }
  scheduler_.reset();  // the first task is still running on the deferred thread
  // Shut down, a scheduler drops what was queued and what comes later.
  auto stopped = createTrivialScheduler();
  stopped->schedule(log_.task("queued"), Priority(1, false), nullptr);
  stopped->shutdown(false);
  stopped->waitIdle();  // returns at once after shutdown
  stopped->start();
  stopped->schedule(log_.task("later"), Priority(1, false), nullptr);
  {
    std::lock_guard lock(mutex);
    released = true;
  }
  cv.notify_all();
  waitForDeferredCalls();
  EXPECT_TRUE(log_.ran().empty());
}

TEST_F(TrivialSchedulerTest, ContractFailures) {
  testing::LogCapture log;
  testing::AssertionCapture assertions;
  scheduler_->start();
  scheduler_->start();
  EXPECT_EQ(log.messages("check"), std::vector<std::string>{"Check failed !impl_->started_ "});
  std::vector<std::shared_ptr<TaskInfo const>> tasks;
  scheduler_->getQueuedTasks(tasks);
  EXPECT_EQ(assertions.messages(), std::vector<std::string>{"Assertion failed: Not implemented"});
}

}  // namespace
}  // namespace dravo::media
