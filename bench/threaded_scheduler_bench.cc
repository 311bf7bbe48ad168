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
//
// Throughput of a hop between two threads, buffers per second:
//   BM_PlainQueueHop                    baseline: shared_ptrs from a producer
//                                       thread to a consumer thread through a
//                                       mutex + condition-variable queue
//   BM_ThreadedPipeline/0|1             a source element on one threaded
//                                       scheduler (one worker) sending to a
//                                       sink element on another, without and
//                                       with the source's token pool
// The producer keeps a window of buffers alive and is woken to refill it
// when half of it is free: 64 buffers, or with the token pool its 2 tokens
// and 4 queue places, so that nothing is dropped.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "common/deferred.h"
#include "media_common/pad.h"
#include "media_common/threaded_scheduler.h"
#include "tests/support/chain_elements.h"

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

// Counts a batch of buffers across a hop and wakes the producer to refill
// its window. A buffer counts as delivered when it is destroyed, which is
// also when a token pool gets its token back. Producer and consumer may run
// on different threads.
class HopWindow {
 public:
  explicit HopWindow(int64_t window) : window_(window) {}

  // How the consumer side wakes the producer.
  std::function<void()> wake_producer;

  // Starts a batch; the producer is about to be woken.
  void startBatch(int64_t total) {
    target_.store(sent_.load() + total);
    pumping_.store(true);
  }
  // Producer: true while another buffer may be sent.
  bool maySend() const {
    int64_t sent = sent_.load();
    return sent < target_.load() && sent - delivered_.load() < window_;
  }
  void sent() { sent_.fetch_add(1); }
  // Producer: stops pumping; true if it must go on (the consumer made room
  // meanwhile and saw the producer still busy).
  bool stopPumping() {
    pumping_.store(false);
    return maySend() && !pumping_.exchange(true);
  }
  // Consumer: counts one buffer, and wakes the producer when half the
  // window is free.
  void delivered() {
    int64_t delivered = delivered_.fetch_add(1) + 1;
    if (delivered == target_.load()) {
      std::lock_guard lock(mutex_);
      done_.notify_all();
    }
    int64_t sent = sent_.load();
    if (sent - delivered <= window_ / 2 && sent < target_.load() && !pumping_.exchange(true))
      wake_producer();
  }
  bool waitDone() {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, std::chrono::seconds(60),
                          [this] { return delivered_.load() >= target_.load(); });
  }

 private:
  const int64_t window_;
  std::atomic<int64_t> target_{0};
  std::atomic<int64_t> sent_{0};
  std::atomic<int64_t> delivered_{0};
  std::atomic<bool> pumping_{false};
  std::mutex mutex_;
  std::condition_variable done_;
};

constexpr int kHopBatch = 20000;
constexpr int64_t kPlainWindow = 64;

class HopBuffer : public Buffer {
 public:
  explicit HopBuffer(HopWindow* window) : window_(window) { setPriority(1); }
  ~HopBuffer() override { window_->delivered(); }

 private:
  HopWindow* const window_;
};

// The baseline consumer: one thread popping shared_ptrs from a queue and
// letting go of them.
class PlainConsumer {
 public:
  PlainConsumer() : thread_([this] { run(); }) {}
  ~PlainConsumer() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  void push(std::shared_ptr<Buffer const> buffer) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(buffer));
    }
    wake_.notify_one();
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      std::shared_ptr<Buffer const> buffer = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      buffer.reset();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Buffer const>> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

void BM_PlainQueueHop(benchmark::State& state) {
  HopWindow window(kPlainWindow);
  PlainPool producer(1);
  std::unique_ptr<PlainConsumer> consumer;
  std::function<void()> pump = [&] {
    do {
      while (window.maySend()) {
        window.sent();
        consumer->push(std::make_shared<HopBuffer>(&window));
      }
    } while (window.stopPumping());
  };
  window.wake_producer = [&] { producer.post(pump); };
  consumer = std::make_unique<PlainConsumer>();
  for (auto _ : state) {
    window.startBatch(kHopBatch);
    producer.post(pump);
    if (!window.waitDone()) state.SkipWithError("buffers lost");
  }
  producer.waitIdle();
  consumer.reset();
  state.SetItemsProcessed(state.iterations() * kHopBatch);
}
BENCHMARK(BM_PlainQueueHop)->UseRealTime();

// Sends from a task on its own scheduler while the window allows. With the
// pool, its pad limits buffers in flight as a Source<T>'s does.
class PumpingSource : public Element, public SourceMixin<HopBuffer> {
 public:
  explicit PumpingSource(bool with_pool) : with_pool_(with_pool) {}
  ~PumpingSource() override { disconnect_all(); }
  void initialize() override {
    Element::initialize();
    SourceMixin<HopBuffer>::initialize();
    if (with_pool_) getOutputPad()->getOrCreateTokenPool().setQueueLength(4).setNumTokens(2);
  }
  void pump() {
    do {
      while (window->maySend()) {
        window->sent();
        sendBuffer(std::make_shared<HopBuffer>(window));
      }
    } while (window->stopPumping());
  }
  void schedulePump() {
    getScheduler()->schedule(TaskFunction(weak_from_this(), [this] { pump(); }), Priority(1, false),
                             nullptr);
  }

  HopWindow* window = nullptr;

 private:
  const bool with_pool_;
};

// Lets each buffer go as soon as it arrives.
class HopSink : public testing::CountingSink<HopBuffer> {
 public:
  void onBuffer(std::shared_ptr<HopBuffer const> const&) override {}
};

void BM_ThreadedPipeline(benchmark::State& state) {
  bool with_pool = state.range(0) != 0;
  auto root = PropertyNode::create();
  auto sending = createThreadedScheduler(1, root->getNode("a", true));
  auto receiving = createThreadedScheduler(1, root->getNode("b", true));
  sending->start();
  receiving->start();
  auto source =
      createElement<PumpingSource>(ElementArgs(sending, root->getNode("source", true)), with_pool);
  auto sink = createElement<HopSink>(ElementArgs(receiving, root->getNode("sink", true)));
  // With the pool, its 2 tokens and 4 queue places.
  HopWindow window(with_pool ? 6 : kPlainWindow);
  window.wake_producer = [&source] { source->schedulePump(); };
  source->window = &window;
  LinkHandle link = source->getOutputPad()->link(*sink->getInputPad());
  sending->waitIdle();
  receiving->waitIdle();
  for (auto _ : state) {
    window.startBatch(kHopBatch);
    source->schedulePump();
    if (!window.waitDone()) state.SkipWithError("buffers lost");
  }
  state.SetItemsProcessed(state.iterations() * kHopBatch);
  sending->waitIdle();
  receiving->waitIdle();
  link.reset();
  source.reset();
  sink.reset();
  sending->waitIdle();
  receiving->waitIdle();
  sending.reset();
  receiving.reset();
  waitForDeferredCalls();
}
BENCHMARK(BM_ThreadedPipeline)->Arg(0)->Arg(1)->UseRealTime();

}  // namespace
}  // namespace dravo::media
