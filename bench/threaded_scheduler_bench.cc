// Threaded scheduler throughput and hop latency, each against a plain
// mutex + condition-variable thread pool of the same size measured in the
// same run (the pool has no strands, priorities or owners).
//
//   BM_PlainPoolTasks/<owners>          baseline tasks per second
//   BM_ThreadedSchedulerTasks/<owners>  tasks per second with strands
//   BM_PlainPoolHop                     baseline post-to-run latency
//   BM_PadHopBetweenSchedulers          buffer from an output pad in a task
//                                       on one scheduler to the input pad's
//                                       handler on another
// Latency runs report p50_us and p99_us counters.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "common/deferred.h"
#include "media_common/pad.h"
#include "media_common/threaded_scheduler.h"

namespace dravo::media {
namespace {

constexpr unsigned kThreads = 2;
constexpr int kTasksPerIteration = 20000;

// The baseline: one queue, one mutex, one condition variable.
class PlainPool {
 public:
  explicit PlainPool(unsigned threads) {
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
  }
  ~PlainPool() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    work_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }
  void post(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(task));
      ++pending_;
    }
    work_.notify_one();
  }
  void waitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return pending_ == 0; });
  }

 private:
  void work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      std::function<void()> task = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      task();
      task = nullptr;
      lock.lock();
      if (--pending_ == 0) idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> queue_;
  size_t pending_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

std::vector<std::shared_ptr<int>> makeOwners(int64_t count) {
  std::vector<std::shared_ptr<int>> owners;
  for (int64_t i = 0; i < count; ++i) owners.push_back(std::make_shared<int>(0));
  return owners;
}

// Both sides run the same weakly owned task, so the difference is the
// scheduling alone.
void BM_PlainPoolTasks(benchmark::State& state) {
  auto owners = makeOwners(state.range(0));
  std::atomic<int64_t> ran{0};
  PlainPool pool(kThreads);
  for (auto _ : state) {
    for (int i = 0; i < kTasksPerIteration; ++i) {
      TaskFunction task(owners[i % owners.size()], [&ran] { ran.fetch_add(1); });
      pool.post([task] { task(); });
    }
    pool.waitIdle();
  }
  state.SetItemsProcessed(state.iterations() * kTasksPerIteration);
}
BENCHMARK(BM_PlainPoolTasks)->Arg(1)->Arg(64)->Arg(4096)->UseRealTime();

void BM_ThreadedSchedulerTasks(benchmark::State& state) {
  auto owners = makeOwners(state.range(0));
  std::atomic<int64_t> ran{0};
  auto scheduler = createThreadedScheduler(kThreads, PropertyNode::create());
  scheduler->start();
  for (auto _ : state) {
    for (int i = 0; i < kTasksPerIteration; ++i)
      scheduler->schedule(TaskFunction(owners[i % owners.size()], [&ran] { ran.fetch_add(1); }),
                          Priority(1, false), nullptr);
    scheduler->waitIdle();
  }
  state.SetItemsProcessed(state.iterations() * kTasksPerIteration);
  scheduler.reset();
  waitForDeferredCalls();
}
BENCHMARK(BM_ThreadedSchedulerTasks)->Arg(1)->Arg(64)->Arg(4096)->UseRealTime();

// Collects latencies and reports their percentiles.
class LatencyRecorder {
 public:
  void add(Duration latency) { samples_.push_back(latency.toNSec()); }
  void report(benchmark::State& state) {
    if (samples_.empty()) return;
    std::sort(samples_.begin(), samples_.end());
    auto at = [this](double q) {
      return static_cast<double>(samples_[static_cast<size_t>(q * (samples_.size() - 1))]) / 1e3;
    };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
  }

 private:
  std::vector<int64_t> samples_;
};

// A one-shot rendezvous between a measuring thread and a worker.
class Arrival {
 public:
  void signal(Duration latency) {
    std::lock_guard lock(mutex_);
    latency_ = latency;
    arrived_ = true;
    condition_.notify_one();
  }
  Duration wait() {
    std::unique_lock lock(mutex_);
    condition_.wait(lock, [this] { return arrived_; });
    arrived_ = false;
    return latency_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool arrived_ = false;
  Duration latency_;
};

void BM_PlainPoolHop(benchmark::State& state) {
  PlainPool pool(kThreads);
  Arrival arrival;
  LatencyRecorder latencies;
  for (auto _ : state) {
    Time sent = Time::now();
    pool.post([&arrival, sent] { arrival.signal(Time::now() - sent); });
    latencies.add(arrival.wait());
  }
  latencies.report(state);
}
BENCHMARK(BM_PlainPoolHop)->UseRealTime();

class StampedBuffer : public Buffer {
 public:
  explicit StampedBuffer(Time sent) : sent(sent) { setPriority(1); }
  const Time sent;
};

void BM_PadHopBetweenSchedulers(benchmark::State& state) {
  auto root = PropertyNode::create();
  auto sending = createThreadedScheduler(kThreads, root->getNode("a", true));
  auto receiving = createThreadedScheduler(kThreads, root->getNode("b", true));
  auto out = std::make_shared<OutputPad<StampedBuffer>>();
  out->initialize(PadArgs(root->getNode("a/out", true), sending));
  auto in = std::make_shared<InputPad<StampedBuffer>>();
  in->initialize(PadArgs(root->getNode("b/in", true), receiving));
  Arrival arrival;
  auto owner = std::make_shared<int>(0);
  in->setBufferHandler(owner, [&arrival](std::shared_ptr<DataBase const> const& data) {
    auto buffer = std::static_pointer_cast<StampedBuffer const>(data);
    arrival.signal(Time::now() - buffer->sent);
  });
  LinkHandle link = out->link(*in);
  sending->start();
  receiving->start();
  sending->waitIdle();
  receiving->waitIdle();

  LatencyRecorder latencies;
  for (auto _ : state) {
    sending->schedule(
        TaskFunction(owner,
                     [&out] { out->sendBuffer(std::make_shared<StampedBuffer>(Time::now())); }),
        Priority(1, false), nullptr);
    latencies.add(arrival.wait());
  }
  latencies.report(state);

  link.reset();
  sending->waitIdle();
  receiving->waitIdle();
  out.reset();
  in.reset();
  sending.reset();
  receiving.reset();
  waitForDeferredCalls();
}
BENCHMARK(BM_PadHopBetweenSchedulers)->UseRealTime();

}  // namespace
}  // namespace dravo::media
