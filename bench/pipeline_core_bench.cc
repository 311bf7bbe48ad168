// Cost of the pipeline's basic hand-offs.
//
// On the deferred thread, each against a bare deferred call of the support
// library measured in the same run (these include the thread's wake-ups):
//   BM_BareDeferredCall       scheduleDeferred + run, the baseline
//   BM_TrivialSchedulerTask   one task through the trivial scheduler
//   BM_PadHandoff/0|1         sendBuffer to an input pad handler, without and
//                             with a token pool on the output pad
//   BM_SourceFilterSink       the same buffers through source -> filter -> sink
//                             elements (two hops; compare with BM_PadHandoff/1)
//
// On the benchmark's own thread, the library's cost alone: the trivial
// scheduler hands its passes to a queue that the benchmark drains itself.
//   BM_SteppedDequeCall       a std::function pushed to a std::deque and
//                             called from it, the baseline
//   BM_PadHandoffStepped/0|1  sendBuffer to an input pad handler, one pass per
//                             hand-off, without and with a token pool
//
// Each iteration moves a batch of 1000 items and waits for them to finish.

#include <benchmark/benchmark.h>

#include <atomic>
#include <deque>
#include <functional>

#include "common/deferred.h"
#include "common/property_node.h"
#include "media_common/pad.h"
#include "media_common/trivial_scheduler.h"
#include "tests/support/chain_elements.h"

namespace dravo::media {
namespace {

constexpr int kBatch = 1000;

void BM_BareDeferredCall(benchmark::State& state) {
  std::atomic<int> ran{0};
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i)
      scheduleDeferred([&] { ran.fetch_add(1, std::memory_order_relaxed); });
    waitForDeferredCalls();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BareDeferredCall)->UseRealTime();

void BM_TrivialSchedulerTask(benchmark::State& state) {
  auto scheduler = createTrivialScheduler();
  scheduler->start();
  auto owner = std::make_shared<int>(0);
  std::atomic<int> ran{0};
  TaskFunction task(owner, [&] { ran.fetch_add(1, std::memory_order_relaxed); });
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) scheduler->schedule(task, Priority(1, false), nullptr);
    scheduler->waitIdle();
    waitForDeferredCalls();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_TrivialSchedulerTask)->UseRealTime();

class BenchBuffer : public Buffer {
 public:
  BenchBuffer() { setPriority(1); }
};

// An output pad linked to an input pad on one scheduler, the input's handler
// counting what arrives; with a pool, the output pad has a token per buffer
// of a batch. Lives on the benchmark's stack.
struct LinkedPads {
  LinkedPads(std::shared_ptr<Scheduler> const& scheduler, bool with_pool) : with_pool(with_pool) {
    out->initialize(PadArgs(root->getNode("out", true), scheduler));
    in->initialize(PadArgs(root->getNode("in", true), scheduler));
    in->setBufferHandler(owner, [this](std::shared_ptr<DataBase const> const&) {
      received.fetch_add(1, std::memory_order_relaxed);
    });
    link = out->link(*in);
    if (with_pool) out->getOrCreateTokenPool().setNumTokens(kBatch);
  }

  // Sends one batch; with the pool each buffer is new and carries its own
  // token, without it one buffer is sent again and again.
  void sendBatch() {
    for (int i = 0; i < kBatch; ++i) {
      if (with_pool)
        out->sendBuffer(std::make_shared<BenchBuffer>());
      else
        out->sendBuffer(buffer);
    }
  }

  const bool with_pool;
  std::shared_ptr<PropertyNode> root = PropertyNode::create("bench");
  std::shared_ptr<OutputPad<BenchBuffer>> out = std::make_shared<OutputPad<BenchBuffer>>();
  std::shared_ptr<InputPad<BenchBuffer>> in = std::make_shared<InputPad<BenchBuffer>>();
  std::shared_ptr<int> owner = std::make_shared<int>(0);
  std::shared_ptr<BenchBuffer const> buffer = std::make_shared<BenchBuffer>();
  std::atomic<int64_t> received{0};
  LinkHandle link;
};

void BM_PadHandoff(benchmark::State& state) {
  auto scheduler = createTrivialScheduler();
  scheduler->start();
  LinkedPads pads(scheduler, state.range(0) != 0);
  for (auto _ : state) {
    pads.sendBatch();
    scheduler->waitIdle();
    waitForDeferredCalls();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PadHandoff)->Arg(0)->Arg(1)->UseRealTime();

// Calls queued on the benchmark's thread and run there, in order.
class SteppedCalls {
 public:
  void post(std::function<void()> call) { calls_.push_back(std::move(call)); }
  // Runs calls until none is left, including those queued meanwhile.
  void drain() {
    while (!calls_.empty()) {
      std::function<void()> call = std::move(calls_.front());
      calls_.pop_front();
      call();
    }
  }

 private:
  std::deque<std::function<void()>> calls_;
};

void BM_SteppedDequeCall(benchmark::State& state) {
  SteppedCalls calls;
  int64_t ran = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) calls.post([&ran] { ++ran; });
    calls.drain();
  }
  benchmark::DoNotOptimize(ran);
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_SteppedDequeCall);

void BM_PadHandoffStepped(benchmark::State& state) {
  SteppedCalls passes;
  auto scheduler = createTrivialScheduler(
      [&passes](std::function<void()> pass) { passes.post(std::move(pass)); });
  scheduler->start();
  LinkedPads pads(scheduler, state.range(0) != 0);
  passes.drain();
  for (auto _ : state) {
    pads.sendBatch();
    passes.drain();
  }
  if (pads.received.load() != state.iterations() * kBatch) state.SkipWithError("buffers lost");
  state.SetItemsProcessed(state.iterations() * kBatch);
  pads.link.reset();
  passes.drain();
}
BENCHMARK(BM_PadHandoffStepped)->Arg(0)->Arg(1);

using BenchSource = testing::PlainSource<BenchBuffer>;
using BenchFilter = testing::CopyFilter<BenchBuffer>;
using BenchSink = testing::CountingSink<BenchBuffer>;

void BM_SourceFilterSink(benchmark::State& state) {
  auto scheduler = createTrivialScheduler();
  scheduler->start();
  auto root = PropertyNode::create("bench");
  auto source = createElement<BenchSource>(ElementArgs(scheduler, root->getNode("source", true)));
  auto filter = createElement<BenchFilter>(ElementArgs(scheduler, root->getNode("filter", true)));
  auto sink = createElement<BenchSink>(ElementArgs(scheduler, root->getNode("sink", true)));
  LinkHandles links;
  links += LinkHandle(source->getOutputPad()->link(*filter->getInputPad()));
  links += LinkHandle(filter->getOutputPad()->link(*sink->getInputPad()));
  source->getPropertyNode("priority")->setValue(PropertyValue(1));
  scheduler->waitIdle();
  waitForDeferredCalls();
  source->getOutputPad()->getOrCreateTokenPool().setNumTokens(kBatch);
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) source->sendBuffer(std::make_shared<BenchBuffer>());
    scheduler->waitIdle();
    waitForDeferredCalls();
  }
  if (sink->received.load() != state.iterations() * kBatch) state.SkipWithError("buffers lost");
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_SourceFilterSink)->UseRealTime();

}  // namespace
}  // namespace dravo::media
