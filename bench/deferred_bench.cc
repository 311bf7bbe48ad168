// Cost of a deferred call (queue, hand over to the deferred thread, run),
// against a same-thread baseline: a std::function pushed into a mutex-guarded
// deque and popped again.

#include <benchmark/benchmark.h>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>

#include "common/deferred.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCallsPerBatch = 10000;

double baselineNsPerCall(int64_t* sink) {
  std::mutex mutex;
  std::deque<std::function<void()>> queue;
  auto start = Clock::now();
  for (int i = 0; i < kCallsPerBatch; ++i) {
    {
      std::lock_guard lock(mutex);
      queue.push_back([sink] { ++*sink; });
    }
    std::function<void()> call;
    {
      std::lock_guard lock(mutex);
      call = std::move(queue.front());
      queue.pop_front();
    }
    call();
  }
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kCallsPerBatch;
}

double deferredNsPerCall(int64_t* sink) {
  auto start = Clock::now();
  for (int i = 0; i < kCallsPerBatch; ++i) dravo::scheduleDeferred([sink] { ++*sink; });
  dravo::waitForDeferredCalls();
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kCallsPerBatch;
}

// One iteration = one batch of each; the counters give per-call costs and
// their ratio, both measured in this run.
void BM_DeferredCallVsBaseline(benchmark::State& state) {
  int64_t sink = 0;
  double baseline = 0, deferred = 0;
  for (auto _ : state) {
    baseline += baselineNsPerCall(&sink);
    deferred += deferredNsPerCall(&sink);
  }
  benchmark::DoNotOptimize(sink);
  double iterations = static_cast<double>(state.iterations());
  state.counters["baseline_ns_per_call"] = baseline / iterations;
  state.counters["deferred_ns_per_call"] = deferred / iterations;
  state.counters["ratio"] = deferred / baseline;
  state.counters["deferred_calls_per_s"] = 1e9 * iterations / deferred;
}
BENCHMARK(BM_DeferredCallVsBaseline)->Unit(benchmark::kMillisecond);

// A cancelled call still costs the queue round trip; it must stay cheap.
void BM_CancelledDeferredCall(benchmark::State& state) {
  for (auto _ : state) {
    for (int i = 0; i < kCallsPerBatch; ++i) dravo::scheduleDeferred([] {}).cancel();
    dravo::waitForDeferredCalls();
  }
  state.SetItemsProcessed(state.iterations() * kCallsPerBatch);
}
BENCHMARK(BM_CancelledDeferredCall)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
