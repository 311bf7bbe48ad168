// Cost of setting a property that one element listens to (value change,
// notification of the element's node, listener call), against two baselines
// measured in the same run: a std::function call and an uncontended
// lock/unlock of a dravo::Mutex. Also the bare signal emission and the
// per-pass update of a cached property wrapper.

#include <benchmark/benchmark.h>

#include <chrono>
#include <functional>

#include "common/cached_property.h"
#include "common/mutex.h"
#include "common/property_node.h"
#include "common/sigslot.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCallsPerBatch = 10000;

class Listener : public dravo::sigslot::has_slots<dravo::sigslot::multi_threaded_local> {
 public:
  ~Listener() override { disconnect_all(); }
  void onChange(dravo::PropertyChangedArgs const&) { ++calls; }
  void onTick() { ++calls; }
  int64_t calls = 0;
};

template <typename Body>
double nsPerCall(Body&& body) {
  auto start = Clock::now();
  for (int i = 0; i < kCallsPerBatch; ++i) body(i);
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kCallsPerBatch;
}

// The element's layout: a listener on the element node, the property one
// level below it, the element two levels below the root.
void BM_PropertySetWithOneListenerVsBaselines(benchmark::State& state) {
  auto root = dravo::PropertyNode::create();
  auto element = root->getNode("pipeline/source", true);
  auto fps = element->getNode("fps", true);
  Listener listener;
  element->connectChanged(&listener, &Listener::onChange);
  int64_t sink = 0;
  std::function<void(int)> function = [&sink](int i) { sink += i; };
  benchmark::DoNotOptimize(function);
  dravo::Mutex mutex;

  double function_ns = 0, mutex_ns = 0, set_ns = 0;
  for (auto _ : state) {
    function_ns += nsPerCall([&](int i) { function(i); });
    mutex_ns += nsPerCall([&](int) {
      mutex.lock();
      benchmark::ClobberMemory();
      mutex.unlock();
    });
    set_ns += nsPerCall([&](int i) { fps->setValue(i); });
  }
  benchmark::DoNotOptimize(sink);
  double iterations = static_cast<double>(state.iterations());
  state.counters["function_ns"] = function_ns / iterations;
  state.counters["mutex_ns"] = mutex_ns / iterations;
  state.counters["set_ns"] = set_ns / iterations;
  state.counters["ratio_vs_function"] = set_ns / function_ns;
  state.counters["ratio_vs_mutex"] = set_ns / mutex_ns;
}
BENCHMARK(BM_PropertySetWithOneListenerVsBaselines)->Unit(benchmark::kMillisecond);

void BM_SignalEmitOneSlotVsFunction(benchmark::State& state) {
  dravo::sigslot::signal0<> signal;
  Listener listener;
  signal.connect(&listener, &Listener::onTick);
  int64_t sink = 0;
  std::function<void()> function = [&sink] { ++sink; };
  benchmark::DoNotOptimize(function);

  double function_ns = 0, emit_ns = 0;
  for (auto _ : state) {
    function_ns += nsPerCall([&](int) { function(); });
    emit_ns += nsPerCall([&](int) { signal(); });
  }
  benchmark::DoNotOptimize(sink);
  double iterations = static_cast<double>(state.iterations());
  state.counters["function_ns"] = function_ns / iterations;
  state.counters["emit_ns"] = emit_ns / iterations;
  state.counters["ratio"] = emit_ns / function_ns;
}
BENCHMARK(BM_SignalEmitOneSlotVsFunction)->Unit(benchmark::kMillisecond);

// What a property-change pass pays per wrapper.
void BM_CachedPropertyUpdateVsMutex(benchmark::State& state) {
  auto root = dravo::PropertyNode::create();
  dravo::CachedProperty<float> fps(root->getNode("fps", true), 30.0f);
  dravo::Mutex mutex;
  double mutex_ns = 0, update_ns = 0;
  for (auto _ : state) {
    mutex_ns += nsPerCall([&](int) {
      mutex.lock();
      benchmark::ClobberMemory();
      mutex.unlock();
    });
    update_ns += nsPerCall([&](int) { fps.update(); });
  }
  benchmark::DoNotOptimize(*fps);
  double iterations = static_cast<double>(state.iterations());
  state.counters["mutex_ns"] = mutex_ns / iterations;
  state.counters["update_ns"] = update_ns / iterations;
  state.counters["ratio"] = update_ns / mutex_ns;
}
BENCHMARK(BM_CachedPropertyUpdateVsMutex)->Unit(benchmark::kMillisecond);

}  // namespace
