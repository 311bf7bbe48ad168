// Recording 1080p I420 frames through Y4MSink and reading them back through
// Y4MFileReader, against a plain fwrite / fread of the same bytes in the same
// run. Compare the bytes_per_second figures of each pair.

#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "bench/bench_temp_dir.h"
#include "common/string_util.h"
#include "media_common/video/y4m_file_reader.h"
#include "media_common/video/y4m_sink.h"
#include "tests/support/manual_scheduler.h"

namespace {

using dravo::Duration;
using dravo::PropertyNode;
using dravo::PropertyValue;
using dravo::media::createElement;
using dravo::media::ElementArgs;
using dravo::media::ImageBuffer;
using dravo::media::Y4MFileReader;
using dravo::media::Y4MSink;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 60;
constexpr size_t kFrameBytes = size_t{kWidth} * kHeight * 3 / 2;

using TempDir = dravo::bench::BenchTempDir;

// The sink with its frame handler reachable, to record without a pipeline.
class DirectY4MSink : public Y4MSink {
 public:
  using Y4MSink::onBuffer;
};

std::shared_ptr<ImageBuffer const> const& frame() {
  static std::shared_ptr<ImageBuffer const> const image = [] {
    auto f = std::make_shared<ImageBuffer>(kWidth, kHeight, ImageBuffer::IMAGE_I420);
    for (size_t i = 0; i < kFrameBytes; ++i) f->data()[i] = static_cast<unsigned char>(i * 7);
    return f;
  }();
  return image;
}

std::string const& header() {
  static std::string const text =
      dravo::stringPrintf("YUV4MPEG2 W%d H%d F30:1 Ip A1:1\n", kWidth, kHeight);
  return text;
}

void writePlain(std::string const& path) {
  FILE* f = fopen(path.c_str(), "wb");
  fwrite(header().data(), 1, header().size(), f);
  for (int i = 0; i < kFrames; ++i) {
    fwrite("FRAME\n", 1, 6, f);
    fwrite(frame()->data(), 1, kFrameBytes, f);
  }
  fclose(f);
}

void recordThroughSink(std::string const& path) {
  auto scheduler = std::make_shared<dravo::testing::ManualScheduler>();
  auto sink = createElement<DirectY4MSink>(
      ElementArgs(scheduler, PropertyNode::create()).property("filename", PropertyValue(path)));
  scheduler->runAll();  // the first property pass sets "filename"
  for (int i = 0; i < kFrames; ++i) sink->onBuffer(frame());
  sink.reset();
  scheduler->shutdown(true);
}

void BM_PlainFwrite1080p(benchmark::State& state) {
  TempDir dir;
  for (auto _ : state) writePlain(dir.file("plain.y4m"));
  state.SetBytesProcessed(state.iterations() * int64_t{kFrames} * int64_t(kFrameBytes));
}

void BM_Y4MSinkWrite1080p(benchmark::State& state) {
  TempDir dir;
  for (auto _ : state) recordThroughSink(dir.file("sink.y4m"));
  state.SetBytesProcessed(state.iterations() * int64_t{kFrames} * int64_t(kFrameBytes));
}

void BM_PlainFread1080p(benchmark::State& state) {
  TempDir dir;
  writePlain(dir.file("plain.y4m"));
  for (auto _ : state) {
    FILE* f = fopen(dir.file("plain.y4m").c_str(), "rb");
    std::string line(header().size(), '\0');
    benchmark::DoNotOptimize(fread(line.data(), 1, line.size(), f));
    for (int i = 0; i < kFrames; ++i) {
      char frame_line[6];
      benchmark::DoNotOptimize(fread(frame_line, 1, sizeof(frame_line), f));
      // A new buffer per frame, as a reader hands out a new image per frame.
      std::unique_ptr<unsigned char[]> buffer(new unsigned char[kFrameBytes]);
      benchmark::DoNotOptimize(fread(buffer.get(), 1, kFrameBytes, f));
    }
    fclose(f);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kFrames} * int64_t(kFrameBytes));
}

void BM_Y4MFileReader1080p(benchmark::State& state) {
  TempDir dir;
  recordThroughSink(dir.file("clip.y4m"));
  for (auto _ : state) {
    Y4MFileReader reader;
    reader.openFile(dir.file("clip.y4m"));
    Duration duration;
    while (auto f = reader.readFrame(&duration)) benchmark::DoNotOptimize(f->data());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kFrames} * int64_t(kFrameBytes));
}

}  // namespace

BENCHMARK(BM_PlainFwrite1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Y4MSinkWrite1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainFread1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Y4MFileReader1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
