// Writing and reading 1080p I420 frames through AVIFileWriter and
// AVIFileReader, against a plain fwrite / fread of the same bytes in the same
// run. Compare the bytes_per_second figures of each pair.

#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "bench/bench_temp_dir.h"
#include "common/logging.h"
#include "media_common/video/avi_file_reader.h"
#include "media_common/video/avi_file_writer.h"

namespace {

using dravo::Duration;
using dravo::Time;
using dravo::media::AVIFileReader;
using dravo::media::AVIFileWriter;
using dravo::media::ImageBuffer;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 60;
constexpr size_t kFrameBytes = size_t{kWidth} * kHeight * 3 / 2;

using TempDir = dravo::bench::BenchTempDir;

std::shared_ptr<ImageBuffer const> const& frame() {
  static std::shared_ptr<ImageBuffer const> const image = [] {
    auto f = std::make_shared<ImageBuffer>(kWidth, kHeight, ImageBuffer::IMAGE_I420);
    for (size_t i = 0; i < kFrameBytes; ++i) f->data()[i] = static_cast<unsigned char>(i * 7);
    return f;
  }();
  return image;
}

void BM_PlainFwrite1080p(benchmark::State& state) {
  TempDir dir;
  for (auto _ : state) {
    FILE* f = fopen(dir.file("plain.raw").c_str(), "wb");
    for (int i = 0; i < kFrames; ++i) fwrite(frame()->data(), 1, kFrameBytes, f);
    fclose(f);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kFrames} * int64_t(kFrameBytes));
}

void BM_AVIFileWriter1080p(benchmark::State& state) {
  TempDir dir;
  for (auto _ : state) {
    AVIFileWriter writer;
    writer.openFile(dir.file("clip.avi"));
    for (int i = 0; i < kFrames; ++i) {
      auto copy = std::make_shared<ImageBuffer>(*frame());
      copy->setStartTimestamp(Time::fromNSec(int64_t{40000000} * i));
      writer.writeFrame(copy);
    }
    writer.close();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kFrames} * int64_t(kFrameBytes));
}

void BM_PlainFread1080p(benchmark::State& state) {
  TempDir dir;
  {
    FILE* f = fopen(dir.file("plain.raw").c_str(), "wb");
    for (int i = 0; i < kFrames; ++i) fwrite(frame()->data(), 1, kFrameBytes, f);
    fclose(f);
  }
  for (auto _ : state) {
    FILE* f = fopen(dir.file("plain.raw").c_str(), "rb");
    for (int i = 0; i < kFrames; ++i) {
      std::unique_ptr<unsigned char[]> buffer(new unsigned char[kFrameBytes]);
      benchmark::DoNotOptimize(fread(buffer.get(), 1, kFrameBytes, f));
    }
    fclose(f);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kFrames} * int64_t(kFrameBytes));
}

void BM_AVIFileReader1080p(benchmark::State& state) {
  TempDir dir;
  {
    AVIFileWriter writer;
    writer.openFile(dir.file("clip.avi"));
    for (int i = 0; i < kFrames; ++i) writer.writeFrame(frame());
  }
  for (auto _ : state) {
    AVIFileReader reader;
    reader.openFile(dir.file("clip.avi"));
    Duration duration;
    while (auto f = reader.readFrame(&duration)) benchmark::DoNotOptimize(f->data());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kFrames} * int64_t(kFrameBytes));
}

}  // namespace

BENCHMARK(BM_PlainFwrite1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AVIFileWriter1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainFread1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AVIFileReader1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
