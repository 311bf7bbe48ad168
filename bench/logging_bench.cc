// Cost of a disabled log point against a loop body of one relaxed atomic
// load, measured in the same run.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>

#include "common/logging.h"

DRAVO_LOGGER("logging_bench");

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPointsPerBatch = 1 << 16;
std::atomic<int> g_flag{0};

double nsPerPass(void (*body)(int)) {
  auto start = Clock::now();
  for (int i = 0; i < kPointsPerBatch; ++i) body(i);
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kPointsPerBatch;
}

void atomicLoadBody(int i) {
  int value = g_flag.load(std::memory_order_relaxed);
  benchmark::DoNotOptimize(value);
  benchmark::DoNotOptimize(i);
}

void disabledLogBody(int i) {
  LOGF(5, "never formatted %d", i);
  benchmark::DoNotOptimize(i);
}

void BM_DisabledLogPointVsAtomicLoad(benchmark::State& state) {
  dravo::logging::setLoggerLevel("logging_bench", 3);
  double baseline = 0, disabled = 0;
  for (auto _ : state) {
    baseline += nsPerPass(&atomicLoadBody);
    disabled += nsPerPass(&disabledLogBody);
  }
  double iterations = static_cast<double>(state.iterations());
  state.counters["atomic_load_ns"] = baseline / iterations;
  state.counters["disabled_log_ns"] = disabled / iterations;
  state.counters["ratio"] = disabled / baseline;
}
BENCHMARK(BM_DisabledLogPointVsAtomicLoad);

}  // namespace
