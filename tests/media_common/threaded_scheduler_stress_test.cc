// Stress tests of the threaded scheduler: many owners, concurrent producers,
// tasks scheduling tasks, owners dying with tasks queued, and shutdown racing
// with scheduling. They check invariants, not timings.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "common/deferred.h"
#include "media_common/threaded_scheduler.h"
#include "tests/support/waitable_flag.h"

namespace dravo::media {
namespace {

constexpr int kOwners = 48, kKilledOwners = 8, kProducers = 3, kTasksPerProducer = 4000;
constexpr int kCapacity = 40000;  // root tasks plus their children

// Schedules tasks for many owners from any thread and checks afterwards that
// each owner's tasks ran one at a time, and each exactly once unless its
// owner was killed. Per-owner priority order is the unit test's business.
class StrandStress {
 public:
  explicit StrandStress(Scheduler& scheduler) : scheduler_(scheduler), runs_(kCapacity) {
    for (int i = 0; i < kOwners; ++i) strong_.push_back(std::make_shared<int>(i));
    weak_.assign(strong_.begin(), strong_.end());
  }
  void scheduleTask(int owner, int level, int depth, std::minstd_rand& random) {
    int id = next_id_.fetch_add(1);
    if (id >= kCapacity) return;
    owner_of_[id] = owner;
    uint32_t seed = random();
    scheduler_.schedule(TaskFunction(weak_[owner], [=, this] { run(id, owner, depth, seed); }),
                        Priority(level, stamp_), nullptr);
  }
  void killSomeOwners() { strong_.erase(strong_.begin(), strong_.begin() + kKilledOwners); }
  void check() {
    EXPECT_EQ(overlaps_.load(), 0) << "tasks of one owner overlapped";
    for (int id = 0; id < std::min(next_id_.load(), kCapacity); ++id) {
      // Owners below kKilledOwners were killed; their tasks may be skipped.
      ASSERT_TRUE(owner_of_[id] < kKilledOwners ? runs_[id] <= 1 : runs_[id] == 1) << "task " << id;
    }
  }

 private:
  void run(int id, int owner, int depth, uint32_t seed) {
    if (in_flight_[owner].fetch_add(1) != 0) ++overlaps_;
    ++runs_[id];
    std::minstd_rand random(seed);
    if (depth < 2 && random() % 2 == 0)
      scheduleTask(static_cast<int>(random() % kOwners), static_cast<int>(random() % 100),
                   depth + 1, random);
    in_flight_[owner].fetch_sub(1);
  }

  Scheduler& scheduler_;
  const Time stamp_ = Time::now();
  std::vector<std::shared_ptr<int>> strong_;     // test thread only
  std::vector<std::weak_ptr<void const>> weak_;  // fixed after construction
  std::vector<std::atomic<int>> runs_;
  std::vector<int> owner_of_ = std::vector<int>(kCapacity);  // written once, before scheduling
  std::atomic<int> next_id_{0}, overlaps_{0}, in_flight_[kOwners] = {};
};

TEST(ThreadedSchedulerStressTest, ManyOwnersManyThreadsTasksSchedulingTasks) {
  auto scheduler = createThreadedScheduler({ThreadedSchedulerBin("low", Priority::lowest(), 2),
                                            ThreadedSchedulerBin("high", Priority(60, false), 2)},
                                           PropertyNode::create());
  auto stress = std::make_unique<StrandStress>(*scheduler);
  testing::WaitableFlag half_way;
  std::atomic<int> producers_half_way{0};
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      std::minstd_rand random(p + 1);
      for (int i = 0; i < kTasksPerProducer; ++i) {
        if (i == kTasksPerProducer / 2 && ++producers_half_way == kProducers) half_way.set();
        stress->scheduleTask(static_cast<int>(random() % kOwners), static_cast<int>(random() % 100),
                             0, random);
      }
    });
  }
  scheduler->start();  // some tasks are queued before the workers start
  ASSERT_TRUE(half_way.waitFor());
  stress->killSomeOwners();
  for (std::thread& producer : producers) producer.join();
  scheduler->waitIdle();  // covers the children that running tasks schedule
  stress->check();
  scheduler.reset();
  waitForDeferredCalls();
}

TEST(ThreadedSchedulerStressTest, ShutdownRacingWithSchedulingNeverRunsATaskAfterward) {
  for (int round = 0; round < 10; ++round) {
    auto scheduler = createThreadedScheduler(3, PropertyNode::create());
    std::atomic<int> ran{0};
    testing::WaitableFlag some_ran;
    std::vector<std::shared_ptr<int>> owners;
    for (int i = 0; i < 16; ++i) owners.push_back(std::make_shared<int>(i));
    // Each task counts itself and may schedule a follow-up while shutdown is
    // under way.
    std::function<void(int, int)> post = [&, raw = scheduler.get()](int owner, int depth) {
      auto task = [&, owner, depth] {
        if (++ran == 200) some_ran.set();
        if (depth < 3) post((owner + 1) % 16, depth + 1);
      };
      raw->schedule(TaskFunction(owners[owner], task), Priority(owner % 5, false), nullptr);
    };
    std::vector<std::thread> producers;
    for (int p = 0; p < 2; ++p)
      producers.emplace_back([&, p] {
        for (int i = 0; i < 800; ++i) post((p * 7 + i) % 16, 0);
      });
    scheduler->start();
    ASSERT_TRUE(some_ran.waitFor());
    scheduler->shutdown(round % 2 == 0);
    // Nothing starts once shutdown has returned.
    int ran_at_shutdown = ran.load();
    for (std::thread& producer : producers) producer.join();
    scheduler->waitIdle();
    EXPECT_EQ(ran.load(), ran_at_shutdown);
    scheduler.reset();  // queued tasks are released with it
    waitForDeferredCalls();
  }
}

}  // namespace
}  // namespace dravo::media
