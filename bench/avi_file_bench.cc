// Writing and reading 1080p I420 frames through AVIFileWriter and
// AVIFileReader, against a plain fwrite / fread of the same bytes in the same
// run. Compare the bytes_per_second figures of each pair.

#include <benchmark/benchmark.h>

#include <memory>

#include "bench/file_bench_support.h"
#include "media_common/video/avi_file_reader.h"
#include "media_common/video/avi_file_writer.h"

namespace {

using dravo::Time;
using dravo::media::AVIFileReader;
using dravo::media::AVIFileWriter;
using dravo::media::ImageBuffer;
using namespace dravo::bench;

void BM_PlainFwrite1080p(benchmark::State& state) {
  BenchTempDir dir;
  for (auto _ : state) writePlainClip(dir.file("plain.raw"));
  setClipBytesProcessed(state);
}

void BM_AVIFileWriter1080p(benchmark::State& state) {
  BenchTempDir dir;
  for (auto _ : state) {
    AVIFileWriter writer;
    writer.openFile(dir.file("clip.avi"));
    for (int i = 0; i < kClipFrames; ++i) {
      auto copy = std::make_shared<ImageBuffer>(*clipFrame());
      copy->setStartTimestamp(Time::fromNSec(int64_t{40000000} * i));
      writer.writeFrame(copy);
    }
    writer.close();
  }
  setClipBytesProcessed(state);
}

void BM_PlainFread1080p(benchmark::State& state) {
  BenchTempDir dir;
  writePlainClip(dir.file("plain.raw"));
  for (auto _ : state) readPlainClip(dir.file("plain.raw"));
  setClipBytesProcessed(state);
}

void BM_AVIFileReader1080p(benchmark::State& state) {
  BenchTempDir dir;
  {
    AVIFileWriter writer;
    writer.openFile(dir.file("clip.avi"));
    for (int i = 0; i < kClipFrames; ++i) writer.writeFrame(clipFrame());
  }
  for (auto _ : state) readWholeClip<AVIFileReader>(dir.file("clip.avi"));
  setClipBytesProcessed(state);
}

}  // namespace

BENCHMARK(BM_PlainFwrite1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AVIFileWriter1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainFread1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AVIFileReader1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
