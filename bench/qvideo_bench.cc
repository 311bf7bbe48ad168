// qvideo against the raw library calls it wraps, on 1280x720 frames.
// Each wrapped case runs beside its baseline; compare them as ratios:
//   LowLevel_I420ToBgra            / Baseline_LibyuvI420ToArgb
//   DecompressMJPEG*               / Baseline_TjDecompressToYUVPlanes

#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>
#include <turbojpeg.h>

#include <cstdint>
#include <vector>

#include "qvideo/jpeg/mjpeg_decoder.h"
#include "qvideo/low_level.h"
#include "qvideo/qv_i420.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

struct I420Frame {
  I420Frame() : image(kWidth, kHeight, 16) {
    for (int i = 0; i < 3; ++i) {
      const qvideo::QvGray8& plane = image.plane(i);
      for (int y = 0; y < plane.height_; ++y)
        for (int x = 0; x < plane.width_; ++x)
          plane.row(y)[x] = static_cast<uint8_t>(i == 0 ? 16 + (x + y) % 220 : 100 + (x ^ y) % 56);
    }
  }
  qvideo::QvI420 image;
};

const I420Frame& i420Frame() {
  static const I420Frame frame;
  return frame;
}

// A camera-like 4:2:0 JPEG of the frame, and the same frame without its DHT
// segments as a Motion-JPEG camera sends it.
struct JpegFrames {
  JpegFrames() {
    std::vector<uint8_t> bgra(static_cast<size_t>(kWidth) * kHeight * 4);
    const qvideo::QvI420& image = i420Frame().image;
    qvideo::LowLevel::convertFromI420toBGRA8888(kWidth, kHeight, image.y().data_, image.y().stride_,
                                                image.u().data_, image.u().stride_, image.v().data_,
                                                image.v().stride_, bgra.data(), kWidth * 4);
    tjhandle handle = tjInitCompress();
    unsigned char* data = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, bgra.data(), kWidth, 0, kHeight, TJPF_BGRA, &data, &size, TJSAMP_420, 80,
                0);
    tjDestroy(handle);
    jpeg.assign(data, data + size);
    tjFree(data);

    mjpeg.assign(jpeg.begin(), jpeg.begin() + 2);
    size_t pos = 2;
    while (jpeg[pos + 1] != 0xDA) {
      size_t const length = 2 + (size_t{jpeg[pos + 2]} << 8 | jpeg[pos + 3]);
      if (jpeg[pos + 1] != 0xC4) mjpeg.insert(mjpeg.end(), &jpeg[pos], &jpeg[pos] + length);
      pos += length;
    }
    mjpeg.insert(mjpeg.end(), jpeg.begin() + pos, jpeg.end());
  }
  std::vector<uint8_t> jpeg;
  std::vector<uint8_t> mjpeg;
};

const JpegFrames& jpegFrames() {
  static const JpegFrames frames;
  return frames;
}

void BM_Baseline_LibyuvI420ToArgb(benchmark::State& state) {
  const qvideo::QvI420& image = i420Frame().image;
  std::vector<uint8_t> bgra(static_cast<size_t>(kWidth) * kHeight * 4);
  for (auto _ : state) {
    libyuv::I420ToARGB(image.y().data_, image.y().stride_, image.u().data_, image.u().stride_,
                       image.v().data_, image.v().stride_, bgra.data(), kWidth * 4, kWidth,
                       kHeight);
    benchmark::DoNotOptimize(bgra.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 4);
}
BENCHMARK(BM_Baseline_LibyuvI420ToArgb);

void BM_LowLevel_I420ToBgra(benchmark::State& state) {
  const qvideo::QvI420& image = i420Frame().image;
  std::vector<uint8_t> bgra(static_cast<size_t>(kWidth) * kHeight * 4);
  qvideo::LowLevel::initIfNeeded();
  for (auto _ : state) {
    qvideo::LowLevel::convertFromI420toBGRA8888(kWidth, kHeight, image.y().data_, image.y().stride_,
                                                image.u().data_, image.u().stride_, image.v().data_,
                                                image.v().stride_, bgra.data(), kWidth * 4);
    benchmark::DoNotOptimize(bgra.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 4);
}
BENCHMARK(BM_LowLevel_I420ToBgra);

void BM_Baseline_TjDecompressToYUVPlanes(benchmark::State& state) {
  const std::vector<uint8_t>& jpeg = jpegFrames().jpeg;
  qvideo::QvI420 out(kWidth, kHeight, 16);
  tjhandle handle = tjInitDecompress();
  for (auto _ : state) {
    unsigned char* planes[3] = {out.y().data_, out.u().data_, out.v().data_};
    int strides[3] = {out.y().stride_, out.u().stride_, out.v().stride_};
    tjDecompressToYUVPlanes(handle, jpeg.data(), jpeg.size(), planes, kWidth, strides, kHeight, 0);
    benchmark::ClobberMemory();
  }
  tjDestroy(handle);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(jpeg.size()));
}
BENCHMARK(BM_Baseline_TjDecompressToYUVPlanes);

// Plain tjDecompress to packed pixels, for scale.
void BM_Reference_TjDecompressToBgra(benchmark::State& state) {
  const std::vector<uint8_t>& jpeg = jpegFrames().jpeg;
  std::vector<uint8_t> bgra(static_cast<size_t>(kWidth) * kHeight * 4);
  tjhandle handle = tjInitDecompress();
  for (auto _ : state) {
    tjDecompress2(handle, jpeg.data(), jpeg.size(), bgra.data(), kWidth, 0, kHeight, TJPF_BGRA, 0);
    benchmark::ClobberMemory();
  }
  tjDestroy(handle);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(jpeg.size()));
}
BENCHMARK(BM_Reference_TjDecompressToBgra);

void decompressBenchmark(benchmark::State& state, const std::vector<uint8_t>& data,
                         bool motion_jpeg) {
  qvideo::QvI420 out(kWidth, kHeight, 16);
  for (auto _ : state) {
    bool const ok = dravo::jpeg::decompressMJPEG(
        data.data(), data.size(), kWidth, kHeight, motion_jpeg, out.y().data_, out.y().stride_,
        out.u().data_, out.u().stride_, out.v().data_, out.v().stride_);
    if (!ok) state.SkipWithError("decode failed");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}

void BM_DecompressMJPEG_Jpeg(benchmark::State& state) {
  decompressBenchmark(state, jpegFrames().jpeg, false);
}
BENCHMARK(BM_DecompressMJPEG_Jpeg);

void BM_DecompressMJPEG_WithoutTables(benchmark::State& state) {
  decompressBenchmark(state, jpegFrames().mjpeg, true);
}
BENCHMARK(BM_DecompressMJPEG_WithoutTables);

}  // namespace
