// ImageBufferConverter and ImageBufferUtil against the raw calls they wrap,
// measured in the same run. Compare as ratios:
//   Converter_I420ToBgrx/W/H     / Baseline_LibyuvI420ToArgb/W/H
//   Converter_Downscale2x/W/H    / Baseline_LibyuvI420ScaleBox/W/H
//   Converter_JpegToI420/W/H     / Baseline_DecompressMJPEG/W/H
//   Converter_CacheHit           (absolute; against Baseline_ShareFrame, the
//                                 image object a hit hands out)
//   WriteString_PerCharacter     (absolute, per character)

#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>
#include <libyuv/scale.h>

#include <memory>
#include <string>
#include <vector>

#include "media_common/video/image_buffer_cache.h"
#include "media_common/video/image_buffer_converter.h"
#include "media_common/video/image_buffer_util.h"
#include "qvideo/jpeg/mjpeg_decoder.h"

namespace dravo::media {
namespace {

using ImagePtr = std::shared_ptr<ImageBuffer const>;

std::shared_ptr<ImageBuffer> makeFrame(int width, int height) {
  auto frame = std::make_shared<ImageBuffer>(width, height, ImageBuffer::IMAGE_I420);
  for (int p = 0; p < 3; ++p) {
    ImageBuffer::Plane const& plane = frame->planes()[p];
    for (int y = 0; y < plane.height_; ++y)
      for (int x = 0; x < plane.width_; ++x)
        *frame->getPixelAddress(x, y, p) =
            static_cast<unsigned char>(p == 0 ? 16 + (x + y) % 220 : 100 + (x ^ y) % 56);
  }
  frame->setPriority(1);
  return frame;
}

// A new image over the same pixels with no cache yet, as each new frame
// from a source arrives.
ImagePtr freshFrame(const ImageBuffer& frame) {
  auto copy = ImageBufferCache::sharePixels(frame);
  copy->setPriority(1);
  return copy;
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
}

void Converter_I420ToBgrx(benchmark::State& state) {
  auto frame = makeFrame(state.range(0), state.range(1));
  for (auto _ : state) {
    ImagePtr out = ImageBufferConverter::easyConvert(ImageBuffer::IMAGE_BGRX32, freshFrame(*frame));
    benchmark::DoNotOptimize(out->data());
  }
}
BENCHMARK(Converter_I420ToBgrx)->Apply(sizes);

void Baseline_LibyuvI420ToArgb(benchmark::State& state) {
  int const w = state.range(0);
  int const h = state.range(1);
  auto frame = makeFrame(w, h);
  auto const& planes = frame->planes();
  for (auto _ : state) {
    ImageBuffer out(w, h, ImageBuffer::IMAGE_BGRX32);
    libyuv::I420ToARGB(frame->getPixelAddress(0, 0, 0), planes[0].stride_,
                       frame->getPixelAddress(0, 0, 1), planes[1].stride_,
                       frame->getPixelAddress(0, 0, 2), planes[2].stride_, out.data(), 4 * w, w, h);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(Baseline_LibyuvI420ToArgb)->Apply(sizes);

void Converter_Downscale2x(benchmark::State& state) {
  int const w = state.range(0);
  int const h = state.range(1);
  auto frame = makeFrame(w, h);
  auto const target = ImageBuffer(w / 2, h / 2, ImageBuffer::IMAGE_I420).format();
  for (auto _ : state) {
    ImagePtr out = ImageBufferConverter::easyConvert(target, freshFrame(*frame));
    benchmark::DoNotOptimize(out->data());
  }
}
BENCHMARK(Converter_Downscale2x)
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMicrosecond);

void Baseline_LibyuvI420ScaleBox(benchmark::State& state) {
  int const w = state.range(0);
  int const h = state.range(1);
  auto frame = makeFrame(w, h);
  auto const& p = frame->planes();
  for (auto _ : state) {
    ImageBuffer out(w / 2, h / 2, ImageBuffer::IMAGE_I420);
    auto const& q = out.planes();
    libyuv::I420Scale(
        frame->getPixelAddress(0, 0, 0), p[0].stride_, frame->getPixelAddress(0, 0, 1),
        p[1].stride_, frame->getPixelAddress(0, 0, 2), p[2].stride_, w, h,
        out.getPixelAddress(0, 0, 0), q[0].stride_, out.getPixelAddress(0, 0, 1), q[1].stride_,
        out.getPixelAddress(0, 0, 2), q[2].stride_, w / 2, h / 2, libyuv::kFilterBox);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(Baseline_LibyuvI420ScaleBox)
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMicrosecond);

std::vector<unsigned char> jpegOf(int w, int h) {
  ImagePtr jpeg = ImageBufferConverter::easyConvert(ImageBuffer::IMAGE_JPEG, makeFrame(w, h));
  return std::vector<unsigned char>(jpeg->data(), jpeg->data() + jpeg->size());
}

void Converter_JpegToI420(benchmark::State& state) {
  auto bytes = std::make_shared<std::vector<unsigned char>>(jpegOf(state.range(0), state.range(1)));
  for (auto _ : state) {
    auto image = std::make_shared<ImageBuffer>(-1, -1, ImageBuffer::IMAGE_JPEG, bytes->data(),
                                               bytes, static_cast<int>(bytes->size()));
    image->setPriority(1);
    ImagePtr out = ImageBufferConverter::easyConvert(ImageBuffer::IMAGE_I420, image);
    benchmark::DoNotOptimize(out->data());
  }
}
BENCHMARK(Converter_JpegToI420)->Apply(sizes);

void Baseline_DecompressMJPEG(benchmark::State& state) {
  int const w = state.range(0);
  int const h = state.range(1);
  std::vector<unsigned char> const bytes = jpegOf(w, h);
  for (auto _ : state) {
    ImageBuffer out(w, h, ImageBuffer::IMAGE_I420);
    auto const& q = out.planes();
    bool ok = jpeg::decompressMJPEG(
        bytes.data(), bytes.size(), w, h, false, out.getPixelAddress(0, 0, 0), q[0].stride_,
        out.getPixelAddress(0, 0, 1), q[1].stride_, out.getPixelAddress(0, 0, 2), q[2].stride_);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(Baseline_DecompressMJPEG)->Apply(sizes);

void Converter_CacheHit(benchmark::State& state) {
  ImagePtr frame = makeFrame(640, 480);
  ImageBufferConverter::easyConvert(ImageBuffer::IMAGE_BGRX32, frame);
  for (auto _ : state) {
    ImagePtr out = ImageBufferConverter::easyConvert(ImageBuffer::IMAGE_BGRX32, frame);
    benchmark::DoNotOptimize(out->data());
  }
}
BENCHMARK(Converter_CacheHit);

void Baseline_ShareFrame(benchmark::State& state) {
  ImagePtr frame = makeFrame(640, 480);
  for (auto _ : state) {
    auto out = std::make_shared<ImageBuffer>(*frame);
    benchmark::DoNotOptimize(out->data());
  }
}
BENCHMARK(Baseline_ShareFrame);

void WriteString_PerCharacter(benchmark::State& state) {
  auto frame = makeFrame(640, 480);
  std::string const text(64, 'W');
  for (auto _ : state) {
    ImageBufferUtil::writeString(frame.get(), 0, 8, text);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(WriteString_PerCharacter);

}  // namespace
}  // namespace dravo::media
