// ImageBufferConverter and ImageBufferUtil against the raw calls they wrap,
// measured in the same run. Compare as ratios (baseline time / our time):
//   Converter_I420ToBgrx/W/H      / Baseline_LibyuvI420ToArgb/W/H
//   Converter_Downscale2x/W/H     / Baseline_LibyuvI420ScaleBox/W/H
//   Converter_Scale1080pTo720p    / Baseline_SwscaleBilinear1080pTo720p
//                                   (and Baseline_LibyuvBilinear1080pTo720p)
//   Converter_JpegToI420/W/H      / Baseline_TjDecompressToYUVPlanes/W/H
//   DecompressMJPEG/W/H           / Baseline_TjDecompressToYUVPlanes/W/H
//   Converter_CacheHit            (absolute; against Baseline_ShareFrame, the
//                                  image object a hit hands out)
//   WriteString_PerCharacter      (absolute, per character)
// The converter makes a new image for every frame; the raw calls write into
// one destination allocated before the loop, as a caller of them would.

#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>
#include <libyuv/scale.h>
#include <turbojpeg.h>
extern "C" {
#include <libswscale/swscale.h>
}

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

// The three plane pointers and strides of an I420 image.
struct PlanePointers {
  explicit PlanePointers(ImageBuffer& image) {
    for (int p = 0; p < 3; ++p) {
      data[p] = image.getPixelAddress(0, 0, p);
      stride[p] = image.planes()[p].stride_;
    }
  }
  uint8_t* data[3];
  int stride[3];
};

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
  PlanePointers const in(*frame);
  ImageBuffer out(w, h, ImageBuffer::IMAGE_BGRX32);
  for (auto _ : state) {
    libyuv::I420ToARGB(in.data[0], in.stride[0], in.data[1], in.stride[1], in.data[2], in.stride[2],
                       out.data(), 4 * w, w, h);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
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

void libyuvScale(benchmark::State& state, int w, int h, int tw, int th, libyuv::FilterMode mode) {
  auto frame = makeFrame(w, h);
  PlanePointers const in(*frame);
  ImageBuffer result(tw, th, ImageBuffer::IMAGE_I420);
  PlanePointers const out(result);
  for (auto _ : state) {
    libyuv::I420Scale(in.data[0], in.stride[0], in.data[1], in.stride[1], in.data[2], in.stride[2],
                      w, h, out.data[0], out.stride[0], out.data[1], out.stride[1], out.data[2],
                      out.stride[2], tw, th, mode);
    benchmark::DoNotOptimize(result.data());
    benchmark::ClobberMemory();
  }
}

void Baseline_LibyuvI420ScaleBox(benchmark::State& state) {
  int const w = state.range(0);
  int const h = state.range(1);
  libyuvScale(state, w, h, w / 2, h / 2, libyuv::kFilterBox);
}
BENCHMARK(Baseline_LibyuvI420ScaleBox)
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMicrosecond);

void Converter_Scale1080pTo720p(benchmark::State& state) {
  auto frame = makeFrame(1920, 1080);
  auto const target = ImageBuffer(1280, 720, ImageBuffer::IMAGE_I420).format();
  for (auto _ : state) {
    ImagePtr out = ImageBufferConverter::easyConvert(target, freshFrame(*frame));
    benchmark::DoNotOptimize(out->data());
  }
}
BENCHMARK(Converter_Scale1080pTo720p)->Unit(benchmark::kMicrosecond);

void Baseline_LibyuvBilinear1080pTo720p(benchmark::State& state) {
  libyuvScale(state, 1920, 1080, 1280, 720, libyuv::kFilterBilinear);
}
BENCHMARK(Baseline_LibyuvBilinear1080pTo720p)->Unit(benchmark::kMicrosecond);

void Baseline_SwscaleBilinear1080pTo720p(benchmark::State& state) {
  auto frame = makeFrame(1920, 1080);
  PlanePointers const in(*frame);
  ImageBuffer result(1280, 720, ImageBuffer::IMAGE_I420);
  PlanePointers const out(result);
  SwsContext* context = sws_getContext(1920, 1080, AV_PIX_FMT_YUV420P, 1280, 720,
                                       AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!context) return state.SkipWithError("no swscale context");
  for (auto _ : state) {
    sws_scale(context, in.data, in.stride, 0, 1080, out.data, out.stride);
    benchmark::DoNotOptimize(result.data());
    benchmark::ClobberMemory();
  }
  sws_freeContext(context);
}
BENCHMARK(Baseline_SwscaleBilinear1080pTo720p)->Unit(benchmark::kMicrosecond);

// A camera-like 4:2:0 JPEG of the test frame.
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

void DecompressMJPEG(benchmark::State& state) {
  int const w = state.range(0);
  int const h = state.range(1);
  std::vector<unsigned char> const bytes = jpegOf(w, h);
  ImageBuffer result(w, h, ImageBuffer::IMAGE_I420);
  PlanePointers const out(result);
  for (auto _ : state) {
    bool const ok =
        jpeg::decompressMJPEG(bytes.data(), bytes.size(), w, h, false, out.data[0], out.stride[0],
                              out.data[1], out.stride[1], out.data[2], out.stride[2]);
    if (!ok) return state.SkipWithError("decode failed");
    benchmark::ClobberMemory();
  }
}
BENCHMARK(DecompressMJPEG)->Apply(sizes);

void Baseline_TjDecompressToYUVPlanes(benchmark::State& state) {
  int const w = state.range(0);
  int const h = state.range(1);
  std::vector<unsigned char> const bytes = jpegOf(w, h);
  ImageBuffer result(w, h, ImageBuffer::IMAGE_I420);
  PlanePointers out(result);
  tjhandle handle = tjInitDecompress();
  for (auto _ : state) {
    if (tjDecompressToYUVPlanes(handle, bytes.data(), bytes.size(), out.data, w, out.stride, h, 0))
      return state.SkipWithError("decode failed");
    benchmark::ClobberMemory();
  }
  tjDestroy(handle);
}
BENCHMARK(Baseline_TjDecompressToYUVPlanes)->Apply(sizes);

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
