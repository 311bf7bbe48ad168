// The threaded scheduler: bins, strands per owner, shutdown and its own
// destruction; a stress run of racing producers; and a running threaded
// pipeline torn down in every order.

#include "media_common/threaded_scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <thread>

#include "common/deferred.h"
#include "common/thread.h"
#include "tests/support/capture.h"
#include "tests/support/chain_elements.h"
#include "tests/support/waitable_flag.h"

namespace dravo::media {
namespace {

using testing::WaitableFlag;

// Calls `on_line` for every line of the scheduler's logger, synchronously on
// the thread that logs it.
struct SchedulerLogHook {
  explicit SchedulerLogHook(std::function<void(std::string const&)> on_line)
      : previous(logging::setLogSink([on_line](logging::LogRecord const& record) {
          if (record.logger == "threaded_scheduler") on_line(std::string(record.message));
        })) {
    logging::configureLoggers("threaded_scheduler:5");
  }
  ~SchedulerLogHook() {
    logging::setLogSink(std::move(previous));
    logging::resetLoggingConfiguration();
  }
  logging::LogSink previous;
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
  // Behind the busy thread: an owner goes at its most urgent task's level,
  // so b5 leads c3 and b1 follows; a dead owner's task is skipped.
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
  EXPECT_EQ(assertions.messages().size(), 2u);  // the task below every bin and the idle one
}

// Shutdown with and without waiting.
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

TEST_F(ThreadedSchedulerTest, LastReleaseOnAWorkerDestroysTheSchedulerElsewhere) {
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

// Producers schedule tasks for many owners at random levels, and some tasks
// schedule more; each owner's tasks must run one at a time, each exactly once.
TEST(ThreadedSchedulerStressTest, EachOwnersTasksRunAloneAndOnceWhileProducersRace) {
  constexpr int kOwners = 48, kProducers = 3, kTasksPerProducer = 4000;
  constexpr int kCapacity = 40000;  // root tasks plus their children
  auto scheduler = createThreadedScheduler({ThreadedSchedulerBin("low", Priority::lowest(), 2),
                                            ThreadedSchedulerBin("high", Priority(60, false), 2)},
                                           PropertyNode::create());
  std::vector<std::shared_ptr<int>> owners;
  for (int i = 0; i < kOwners; ++i) owners.push_back(std::make_shared<int>(i));
  std::vector<std::atomic<int>> runs(kCapacity);
  std::atomic<int> next_id{0}, overlaps{0}, in_flight[kOwners] = {};
  Time const stamp = Time::now();
  std::function<void(std::minstd_rand&, int)> post = [&](std::minstd_rand& random, int depth) {
    int const id = next_id++, owner = static_cast<int>(random() % kOwners);
    Priority const priority(static_cast<int>(random() % 100), stamp);
    uint32_t const seed = random();
    if (id >= kCapacity) return;
    scheduler->schedule(TaskFunction(owners[owner],
                                     [&, id, owner, depth, seed] {
                                       if (in_flight[owner]++ != 0) ++overlaps;
                                       ++runs[id];
                                       std::minstd_rand child(seed);
                                       if (depth < 2 && child() % 2 == 0) post(child, depth + 1);
                                       --in_flight[owner];
                                     }),
                        priority, nullptr);
  };
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      std::minstd_rand random(p + 1);
      for (int i = 0; i < kTasksPerProducer; ++i) post(random, 0);
    });
  }
  scheduler->start();  // some tasks are queued before the workers start
  for (std::thread& producer : producers) producer.join();
  scheduler->waitIdle();  // covers the children that running tasks schedule
  EXPECT_EQ(overlaps.load(), 0) << "tasks of one owner overlapped";
  for (int id = 0; id < std::min(next_id.load(), kCapacity); ++id)
    ASSERT_EQ(runs[id], 1) << "task " << id;
  scheduler.reset();
  waitForDeferredCalls();
}

// Source, filter and sink each on their own threaded scheduler, a producer
// thread feeding the source, then one part after another destroyed while
// buffers are in flight. Nothing may crash, hang or reorder buffers, and
// every token comes back to the source's pool.

// The only producer thread never waits for a token, so every send happens on
// it, in order, and must arrive in order (the start stamp numbers them)
// across the three schedulers.
class OrderCheckingSink : public testing::CountingSink<Buffer> {
 public:
  void onBuffer(std::shared_ptr<Buffer const> const& buffer) override {
    if (buffer->getStartTimestamp() <= last_) ++*out_of_order;
    last_ = buffer->getStartTimestamp();
    CountingSink::onBuffer(buffer);
  }
  std::shared_ptr<std::atomic<int>> out_of_order = std::make_shared<std::atomic<int>>(0);

 private:
  Time last_ = Time::min();  // the sink's strand only
};

enum class Teardown { kSinkFirst, kSourceFirst, kFilterFirst, kLinksFirst, kShutdownFirst };

// The running pipeline: each element on its own threaded scheduler.
class ThreadedTeardownTest : public ::testing::TestWithParam<Teardown> {
 protected:
  template <typename T>
  std::shared_ptr<T> make(char const* name) {
    schedulers_.push_back(createThreadedScheduler(2, root_->getNode(name, true)));
    return createElement<T>(ElementArgs(schedulers_.back(), root_->getNode(name, true)));
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("teardown");
  std::vector<std::shared_ptr<Scheduler>> schedulers_;
  std::shared_ptr<testing::PlainSource<Buffer>> source_ =
      make<testing::PlainSource<Buffer>>("source");
  std::shared_ptr<testing::CopyFilter<Buffer>> filter_ =
      make<testing::CopyFilter<Buffer>>("filter");
  std::shared_ptr<OrderCheckingSink> sink_ = make<OrderCheckingSink>("sink");
  LinkHandles links_;
  std::thread producer_;
  std::atomic<bool> stop_{false};
};

TEST_P(ThreadedTeardownTest, NothingCrashesHangsOrKeepsATokenWhateverGoesFirst) {
  source_->getPropertyNode("priority")->setValue(PropertyValue(1));
  links_ += LinkHandle(source_->getOutputPad()->link(*filter_->getInputPad()));
  links_ += LinkHandle(filter_->getOutputPad()->link(*sink_->getInputPad()));
  TokenPool pool = source_->getOutputPad()->getOrCreateTokenPool();
  for (auto const& scheduler : schedulers_) scheduler->start();
  // The elements' first property pass, after which the source may send.
  for (auto const& scheduler : schedulers_) scheduler->waitIdle();
  sink_->notify_at = 20;
  // Feeds the source until told to stop; the source's pool throttles it.
  producer_ = std::thread([&] {
    for (int64_t index = 1; !stop_;) {
      if (pool.getNumTokensOutstanding() >= pool.getNumTokens()) {
        std::this_thread::yield();
        continue;
      }
      auto buffer = std::make_shared<Buffer>();
      buffer->setStartTimestamp(Time::fromNSec(index++));
      source_->sendBuffer(buffer);
    }
  });
  auto stopProducer = [&] {
    stop_ = true;
    if (producer_.joinable()) producer_.join();
  };
  ASSERT_TRUE(sink_->reached.waitFor());
  auto out_of_order = sink_->out_of_order;
  Teardown const first = GetParam();
  if (first == Teardown::kSinkFirst) sink_.reset();
  if (first == Teardown::kSourceFirst) stopProducer(), source_.reset();
  if (first == Teardown::kFilterFirst) filter_.reset();
  if (first == Teardown::kLinksFirst) links_.reset();
  if (first == Teardown::kShutdownFirst)
    for (auto const& scheduler : schedulers_) scheduler->shutdown(false);
  // Then everything else, the schedulers last but without waiting for them.
  stopProducer();
  links_.reset();
  source_.reset();
  filter_.reset();
  sink_.reset();
  for (auto const& scheduler : schedulers_) scheduler->shutdown(true);
  schedulers_.clear();
  waitForDeferredCalls();
  EXPECT_EQ(pool.getNumTokensOutstanding(), 0u);
  EXPECT_EQ(out_of_order->load(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryOrder, ThreadedTeardownTest,
                         ::testing::Values(Teardown::kSinkFirst, Teardown::kSourceFirst,
                                           Teardown::kFilterFirst, Teardown::kLinksFirst,
                                           Teardown::kShutdownFirst));

}  // namespace
}  // namespace dravo::media
