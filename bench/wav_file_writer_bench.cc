// Writing one hour of 48 kHz stereo audio in 10 ms blocks through
// WAVFileWriter, against a plain fwrite of the same blocks in the same run.
// Compare the two bytes_per_second figures.

#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/file_bench_support.h"
#include "media_common/audio/wav_file_writer.h"

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kFramesPerBlock = kRate / 100;
constexpr int kBlocks = 3600 * 100;
constexpr unsigned kBlockBytes = kFramesPerBlock * kChannels * sizeof(short);

using TempDir = dravo::bench::BenchTempDir;

std::vector<short> const& block() {
  static std::vector<short> const samples = [] {
    std::vector<short> s(kFramesPerBlock * kChannels);
    for (size_t i = 0; i < s.size(); ++i) s[i] = short(i * 31);
    return s;
  }();
  return samples;
}

void BM_PlainFwriteOneHour(benchmark::State& state) {
  TempDir dir;
  for (auto _ : state) {
    FILE* f = fopen(dir.file("plain.raw").c_str(), "wb");
    for (int i = 0; i < kBlocks; ++i) fwrite(block().data(), 1, kBlockBytes, f);
    fclose(f);
    state.PauseTiming();
    std::filesystem::remove(dir.file("plain.raw"));
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kBlocks} * kBlockBytes);
}

void BM_WAVFileWriterOneHour(benchmark::State& state) {
  TempDir dir;
  for (auto _ : state) {
    dravo::media::WAVFileWriter writer;
    writer.openFile(dir.file("hour.wav"));
    for (int i = 0; i < kBlocks; ++i)
      writer.writeSamples(block().data(), kChannels, kRate, kBlockBytes);
    writer.close();
    state.PauseTiming();
    std::filesystem::remove(dir.file("hour.wav"));
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kBlocks} * kBlockBytes);
}

// Interleaved so that both see the same state of the page cache.
BENCHMARK(BM_PlainFwriteOneHour)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WAVFileWriterOneHour)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFwriteOneHour)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WAVFileWriterOneHour)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
