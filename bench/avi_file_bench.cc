// Writing and reading 1080p I420 frames through AVIFileWriter and
// AVIFileReader, against a plain fwrite / fread of the same bytes in the same
// run. Compare the bytes_per_second figures of each pair: a 60-frame clip,
// and a 2 GiB recording that continues in AVIX lists past 1 GiB. The plain
// reads read the AVI file the reader reads, frame by frame: a file's place
// in the page cache changes read speed more than the reader does.

#include <benchmark/benchmark.h>

#include <cstdio>
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
  writeBackDirtyPages();
  for (auto _ : state) writePlainClip(dir.file("plain.raw"));
  setClipBytesProcessed(state);
}

void BM_AVIFileWriter1080p(benchmark::State& state) {
  BenchTempDir dir;
  writeBackDirtyPages();
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

// The 60-frame clip, recorded once for both read benchmarks.
std::string const& aviClip() {
  static BenchTempDir dir;
  static std::string const path = [] {
    std::string const file = dir.file("clip.avi");
    AVIFileWriter writer;
    writer.openFile(file);
    for (int i = 0; i < kClipFrames; ++i) writer.writeFrame(clipFrame());
    return file;
  }();
  return path;
}

// The headers before the first frame, and each frame's chunk header.
constexpr size_t kAviHeaderBytes = 4108;
constexpr size_t kAviChunkHeaderBytes = 8;

void BM_PlainFread1080p(benchmark::State& state) {
  aviClip();  // written untimed
  for (auto _ : state) readPlainClip(aviClip(), kAviHeaderBytes, kAviChunkHeaderBytes);
  setClipBytesProcessed(state);
}

void BM_AVIFileReader1080p(benchmark::State& state) {
  aviClip();
  for (auto _ : state) readWholeClip<AVIFileReader>(aviClip());
  setClipBytesProcessed(state);
}

// 2 GiB of 1080p I420 frames.
constexpr int kLongFrames = 691;

void setLongBytesProcessed(benchmark::State& state) {
  state.SetBytesProcessed(state.iterations() * int64_t{kLongFrames} * int64_t(kClipFrameBytes));
}

void writePlainLong(std::string const& path) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return;
  for (int i = 0; i < kLongFrames; ++i) fwrite(clipFrame()->data(), 1, kClipFrameBytes, f);
  fclose(f);
}

void writeAVILong(std::string const& path) {
  AVIFileWriter writer;
  writer.openFile(path);
  for (int i = 0; i < kLongFrames; ++i) {
    auto copy = std::make_shared<ImageBuffer>(*clipFrame());
    copy->setStartTimestamp(Time::fromNSec(int64_t{40000000} * i));
    writer.writeFrame(copy);
  }
}

// Each run writes a new file and removes it untimed, so that the page cache
// does not fill up with dirty pages from earlier runs.
template <void (*Write)(std::string const&)>
void BM_Write2GiB(benchmark::State& state) {
  BenchTempDir dir;
  std::string const path = dir.file("long");
  for (auto _ : state) {
    Write(path);
    state.PauseTiming();
    std::remove(path.c_str());
    state.ResumeTiming();
  }
  setLongBytesProcessed(state);
}

// The 2 GiB recording, written once for both read benchmarks.
std::string const& aviLong() {
  static BenchTempDir dir;
  static std::string const path = [] {
    writeAVILong(dir.file("long.avi"));
    return dir.file("long.avi");
  }();
  return path;
}

// The whole file in frame-sized reads, each into a new buffer.
void BM_PlainFread2GiB(benchmark::State& state) {
  aviLong();  // written untimed
  for (auto _ : state) {
    FILE* f = fopen(aviLong().c_str(), "rb");
    if (!f) break;
    for (;;) {
      std::unique_ptr<unsigned char[]> buffer(new unsigned char[kClipFrameBytes]);
      if (fread(buffer.get(), 1, kClipFrameBytes, f) != kClipFrameBytes) break;
    }
    fclose(f);
  }
  setLongBytesProcessed(state);
}

void BM_AVIFileReader2GiB(benchmark::State& state) {
  aviLong();
  for (auto _ : state) readWholeClip<AVIFileReader>(aviLong());
  setLongBytesProcessed(state);
}

}  // namespace

// A second each: with a few iterations, one benchmark's figure would depend
// on how much of the other's writing the disk still had to take.
BENCHMARK(BM_PlainFwrite1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_AVIFileWriter1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_PlainFread1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AVIFileReader1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Write2GiB<writePlainLong>)
    ->Name("BM_PlainFwrite2GiB")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_Write2GiB<writeAVILong>)
    ->Name("BM_AVIFileWriter2GiB")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_PlainFread2GiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_AVIFileReader2GiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
