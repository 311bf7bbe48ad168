#pragma once
// What the file benchmarks share: a scratch folder, the 1080p clip they
// write and read, and the plain stdio baseline every reader and writer is
// compared against in the same run.

#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "common/time.h"
#include "media_common/video/image_buffer.h"

namespace dravo::bench {

// A fresh folder under the system's temporary directory, removed with its
// contents when the object goes.
class BenchTempDir {
 public:
  BenchTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "media_bench.XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~BenchTempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  BenchTempDir(BenchTempDir const&) = delete;
  BenchTempDir& operator=(BenchTempDir const&) = delete;

  std::string file(char const* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sixty 1080p I420 frames: the clip of the video file benchmarks.
constexpr int kClipWidth = 1920;
constexpr int kClipHeight = 1080;
constexpr int kClipFrames = 60;
constexpr size_t kClipFrameBytes = size_t{kClipWidth} * kClipHeight * 3 / 2;

// One frame with a non-constant pattern, made once and shared.
inline std::shared_ptr<media::ImageBuffer const> const& clipFrame() {
  static std::shared_ptr<media::ImageBuffer const> const image = [] {
    auto f = std::make_shared<media::ImageBuffer>(kClipWidth, kClipHeight,
                                                  media::ImageBuffer::IMAGE_I420);
    for (size_t i = 0; i < kClipFrameBytes; ++i) f->data()[i] = static_cast<unsigned char>(i * 7);
    return f;
  }();
  return image;
}

// Writes back what earlier benchmarks left dirty in the page cache, so that
// a writing benchmark does not pay for another's writes.
inline void writeBackDirtyPages() { sync(); }

inline void setClipBytesProcessed(benchmark::State& state) {
  state.SetBytesProcessed(state.iterations() * int64_t{kClipFrames} * int64_t(kClipFrameBytes));
}

// The baseline file: `header`, then every frame of the clip behind
// `frame_prefix`, written with plain fwrite.
inline void writePlainClip(std::string const& path, std::string const& header = {},
                           std::string const& frame_prefix = {}) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return;
  fwrite(header.data(), 1, header.size(), f);
  for (int i = 0; i < kClipFrames; ++i) {
    fwrite(frame_prefix.data(), 1, frame_prefix.size(), f);
    fwrite(clipFrame()->data(), 1, kClipFrameBytes, f);
  }
  fclose(f);
}

// Reads a baseline file back with plain fread, into a new buffer per frame
// as a reader hands out a new image per frame.
inline void readPlainClip(std::string const& path, size_t header_bytes = 0,
                          size_t frame_prefix_bytes = 0) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return;
  std::string skipped(std::max(header_bytes, frame_prefix_bytes), '\0');
  benchmark::DoNotOptimize(fread(skipped.data(), 1, header_bytes, f));
  for (int i = 0; i < kClipFrames; ++i) {
    benchmark::DoNotOptimize(fread(skipped.data(), 1, frame_prefix_bytes, f));
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kClipFrameBytes]);
    benchmark::DoNotOptimize(fread(buffer.get(), 1, kClipFrameBytes, f));
  }
  fclose(f);
}

// Reads every frame of `path` through a fresh `Reader`, touching each one.
template <typename Reader>
void readWholeClip(std::string const& path) {
  Reader reader;
  reader.openFile(path);
  Duration duration;
  while (auto frame = reader.readFrame(&duration)) benchmark::DoNotOptimize(frame->data());
}

}  // namespace dravo::bench
