// Recording 1080p I420 frames through Y4MSink and reading them back through
// Y4MFileReader, against a plain fwrite / fread of the same bytes in the same
// run. Compare the bytes_per_second figures of each pair.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/file_bench_support.h"
#include "common/string_util.h"
#include "media_common/video/y4m_file_reader.h"
#include "media_common/video/y4m_sink.h"
#include "tests/support/manual_scheduler.h"

namespace {

using dravo::PropertyNode;
using dravo::PropertyValue;
using dravo::media::createElement;
using dravo::media::ElementArgs;
using dravo::media::Y4MFileReader;
using dravo::media::Y4MSink;
using namespace dravo::bench;

// The sink with its frame handler reachable, to record without a pipeline.
class DirectY4MSink : public Y4MSink {
 public:
  using Y4MSink::onBuffer;
};

std::string const& header() {
  static std::string const text =
      dravo::stringPrintf("YUV4MPEG2 W%d H%d F30:1 Ip A1:1\n", kClipWidth, kClipHeight);
  return text;
}
std::string const kFrameLine = "FRAME\n";

void recordThroughSink(std::string const& path) {
  auto scheduler = std::make_shared<dravo::testing::ManualScheduler>();
  auto sink = createElement<DirectY4MSink>(
      ElementArgs(scheduler, PropertyNode::create()).property("filename", PropertyValue(path)));
  scheduler->runAll();  // the first property pass sets "filename"
  for (int i = 0; i < kClipFrames; ++i) sink->onBuffer(clipFrame());
  sink.reset();
  scheduler->shutdown(true);
}

void BM_PlainFwrite1080p(benchmark::State& state) {
  BenchTempDir dir;
  for (auto _ : state) writePlainClip(dir.file("plain.y4m"), header(), kFrameLine);
  setClipBytesProcessed(state);
}

void BM_Y4MSinkWrite1080p(benchmark::State& state) {
  BenchTempDir dir;
  for (auto _ : state) recordThroughSink(dir.file("sink.y4m"));
  setClipBytesProcessed(state);
}

void BM_PlainFread1080p(benchmark::State& state) {
  BenchTempDir dir;
  writePlainClip(dir.file("plain.y4m"), header(), kFrameLine);
  for (auto _ : state) readPlainClip(dir.file("plain.y4m"), header().size(), kFrameLine.size());
  setClipBytesProcessed(state);
}

void BM_Y4MFileReader1080p(benchmark::State& state) {
  BenchTempDir dir;
  recordThroughSink(dir.file("clip.y4m"));
  for (auto _ : state) readWholeClip<Y4MFileReader>(dir.file("clip.y4m"));
  setClipBytesProcessed(state);
}

}  // namespace

BENCHMARK(BM_PlainFwrite1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Y4MSinkWrite1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainFread1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Y4MFileReader1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
