// Per-element overhead: buffers through source -> filter -> sink elements on
// one trivial scheduler, against the bare pad hand-off (output pad with a
// token pool straight into an input pad handler) measured in the same run.
// The pipeline makes two hops, so "per hop" ratio = pipeline time / (2 x
// hand-off time). Each iteration moves a batch of 1000 buffers.

#include <benchmark/benchmark.h>

#include <atomic>

#include "common/deferred.h"
#include "common/property_node.h"
#include "media_common/filter_element.h"
#include "media_common/sink_mixin.h"
#include "media_common/source_element.h"
#include "media_common/trivial_scheduler.h"

namespace dravo::media {
namespace {

constexpr int kBatch = 1000;

class BenchBuffer : public Buffer {
 public:
  BenchBuffer() { setPriority(1); }
};

class BenchSource : public Source<BenchBuffer> {
 public:
  ~BenchSource() override { disconnect_all(); }
};

class BenchFilter : public FilterElement<BenchBuffer, BenchBuffer> {
 public:
  ~BenchFilter() override { disconnect_all(); }
  void onBuffer(std::shared_ptr<BenchBuffer const> const& in) override {
    auto out = std::make_shared<BenchBuffer>();
    out->copyMetadata(*in);
    sendBuffer(out);
  }
};

class BenchSink : public Element, public SinkMixin<BenchBuffer> {
 public:
  ~BenchSink() override { disconnect_all(); }
  void initialize() override {
    Element::initialize();
    SinkMixin<BenchBuffer>::initialize();
  }
  void onBuffer(std::shared_ptr<BenchBuffer const> const&) override {
    received.fetch_add(1, std::memory_order_relaxed);
  }
  std::atomic<int> received{0};
};

void drain(Scheduler& scheduler) {
  scheduler.waitIdle();
  waitForDeferredCalls();
}

void BM_BarePadHandoff(benchmark::State& state) {
  auto scheduler = createTrivialScheduler();
  scheduler->start();
  auto root = PropertyNode::create("bench");
  auto out = std::make_shared<OutputPad<BenchBuffer>>();
  auto in = std::make_shared<InputPad<BenchBuffer>>();
  out->initialize(PadArgs(root->getNode("out", true), scheduler));
  in->initialize(PadArgs(root->getNode("in", true), scheduler));
  auto owner = std::make_shared<int>(0);
  std::atomic<int> received{0};
  in->setBufferHandler(owner, [&](std::shared_ptr<DataBase const> const&) {
    received.fetch_add(1, std::memory_order_relaxed);
  });
  LinkHandle link = out->link(*in);
  out->getOrCreateTokenPool().setNumTokens(kBatch);
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) out->sendBuffer(std::make_shared<BenchBuffer>());
    drain(*scheduler);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BarePadHandoff)->UseRealTime();

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
  drain(*scheduler);
  source->getOutputPad()->getOrCreateTokenPool().setNumTokens(kBatch);
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) source->sendBuffer(std::make_shared<BenchBuffer>());
    drain(*scheduler);
  }
  if (sink->received.load() != state.iterations() * kBatch) state.SkipWithError("buffers lost");
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_SourceFilterSink)->UseRealTime();

}  // namespace
}  // namespace dravo::media
