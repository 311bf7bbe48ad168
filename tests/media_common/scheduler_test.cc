// The task queue and the trivial scheduler that runs its tasks on the
// deferred thread; its run order decides how priorities compare.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "common/deferred.h"
#include "media_common/scheduler_task_queue.h"
#include "media_common/trivial_scheduler.h"
#include "tests/support/waitable_flag.h"

namespace dravo::media {
namespace {

// A queued item and its run order: higher level first, then first queued.
struct Item {
  int level = 0;
  int sequence = 0;
};
struct RunsBefore {
  bool operator()(Item const& a, Item const& b) const {
    return a.level != b.level ? a.level > b.level : a.sequence < b.sequence;
  }
};

// Pushes and pops interleaved at random, with runs of in-order items and
// items that overtake them; every pop must be the first in run order of what
// is queued, and a ring that grew and drained must keep working.
TEST(SchedulerTaskQueueTest, PopsInRunOrderWhateverOrderItemsArriveIn) {
  std::minstd_rand random(7);
  SchedulerTaskQueue<Item, RunsBefore> queue;
  std::vector<Item> expected;
  for (int round = 0, sequence = 0; round < 20000; ++round) {
    if (random() % 3 != 0 || expected.empty()) {
      // Mostly equal levels arriving in order; now and then a jump up or down.
      Item item{random() % 8 == 0 ? static_cast<int>(random() % 5) : 2, sequence++};
      queue.push(item);
      expected.push_back(item);
    } else {
      auto first = std::min_element(expected.begin(), expected.end(), RunsBefore());
      ASSERT_EQ(queue.front().sequence, first->sequence);
      ASSERT_EQ(queue.pop().sequence, first->sequence) << "round " << round;
      expected.erase(first);
    }
    ASSERT_EQ(queue.size(), expected.size());
    if (round == 10000) {  // drain a grown ring, then go on
      while (!queue.empty()) queue.pop();
      expected.clear();
    }
  }
}

// A trivial scheduler and the names of the tasks it ran, read after
// waitForDeferredCalls().
class TrivialSchedulerTest : public ::testing::Test {
 protected:
  void schedule(std::string name, Priority priority, std::function<void()> body = {}) {
    scheduler_->schedule(TaskFunction(owner_,
                                      [this, name, body] {
                                        if (body) body();
                                        ran_.push_back(name);
                                      }),
                         priority, nullptr);
  }

  std::shared_ptr<Scheduler> scheduler_ = createTrivialScheduler();
  std::shared_ptr<int> owner_ = std::make_shared<int>(0);
  std::vector<std::string> ran_;
};

TEST_F(TrivialSchedulerTest, RunsNothingBeforeStartThenByPriorityThenFirstCome) {
  Time t0 = Time::now();
  schedule("a", Priority(1, t0));
  schedule("b", Priority(1, t0));
  schedule("idle", Priority::idle(1000));
  schedule("high", Priority(5, t0 + Duration::fromSec(1)), [this] {
    // Queued by a task: runs once that task has returned, not inside it.
    schedule("inner", Priority::highest());
  });
  schedule("older", Priority(1, t0 - Duration::fromSec(1)));
  schedule("c", Priority(1, t0));
  waitForDeferredCalls();
  EXPECT_TRUE(ran_.empty());
  scheduleDeferred([s = scheduler_] { s->start(); });
  scheduler_->waitIdle();  // returns only once started and drained
  waitForDeferredCalls();
  EXPECT_EQ(ran_, (std::vector<std::string>{"high", "inner", "older", "a", "b", "c", "idle"}));
}

TEST_F(TrivialSchedulerTest, DestructionAndShutdownLetTheRunningTaskFinishAndNoOther) {
  testing::WaitableFlag running, release;
  schedule("running", Priority(2, false), [&] {
    running.set();
    release.waitFor();
  });
  for (int i = 0; i < 10; ++i) schedule("t", Priority(1, false));
  scheduler_->start();
  ASSERT_TRUE(running.waitFor());
  scheduler_.reset();  // the first task is still running on the deferred thread
  // Shut down, a scheduler drops what was queued and what comes later.
  scheduler_ = createTrivialScheduler();
  schedule("queued", Priority(1, false));
  scheduler_->shutdown(false);
  scheduler_->waitIdle();  // returns at once after shutdown
  scheduler_->start();
  schedule("later", Priority(1, false));
  release.set();
  waitForDeferredCalls();
  EXPECT_EQ(ran_, std::vector<std::string>{"running"});
}

}  // namespace
}  // namespace dravo::media
