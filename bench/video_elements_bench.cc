// Synthetic source throughput on one thread with a fast-forward clock, and
// what the caption and colour bars cost on top of the plasma.
//
// Baseline: BM_PlasmaOnly at the same size (allocation plus plasma). The
// other figures read as ratios against it: BM_PlasmaCaptionBars adds the
// caption and the bars, BM_SourceFrame is a whole frame through the element
// (timer task, timestamps, send, delivery to a sink).

#include <benchmark/benchmark.h>

#include "common/string_util.h"
#include "media_common/clock.h"
#include "media_common/link_handle.h"
#include "media_common/property_clock.h"
#include "media_common/video/image_buffer_util.h"
#include "media_common/video/synthetic_overlay.h"
#include "media_common/video/synthetic_video_source.h"
#include "tests/support/chain_elements.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

using Plasma = SyntheticVideoSource::Plasma;

struct FrameSize {
  int width;
  int height;
};
FrameSize sizeOf(benchmark::State const& state) {
  return {static_cast<int>(state.range(0)), static_cast<int>(state.range(1))};
}

void BM_PlasmaOnly(benchmark::State& state) {
  FrameSize const size = sizeOf(state);
  Plasma plasma;
  plasma.setEasy(false);
  for (auto _ : state) {
    auto frame = std::make_shared<ImageBuffer>(size.width, size.height, ImageBuffer::IMAGE_I420);
    plasma.draw(frame.get());
    benchmark::DoNotOptimize(frame->data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_PlasmaCaptionBars(benchmark::State& state) {
  FrameSize const size = sizeOf(state);
  Plasma plasma;
  plasma.setEasy(false);
  int counter = 0;
  for (auto _ : state) {
    auto frame = std::make_shared<ImageBuffer>(size.width, size.height, ImageBuffer::IMAGE_I420);
    plasma.draw(frame.get());
    ImageBufferUtil::writeString(
        frame.get(), 0, 8,
        stringPrintf("Frame %06d. %dx%d %.2f", counter++, size.width, size.height, 1234.5));
    synthetic_overlay::drawColourBars(frame.get());
    benchmark::DoNotOptimize(frame->data());
  }
  state.SetItemsProcessed(state.iterations());
}

using CountingSink = testing::CountingSink<ImageBuffer>;

void BM_SourceFrame(benchmark::State& state) {
  FrameSize const size = sizeOf(state);
  auto scheduler = std::make_shared<testing::ManualScheduler>();
  auto clock = getFastForwardClock(scheduler, Time::fromNSec(1000000000000));
  auto root = PropertyNode::create("bench");
  auto source = createSyntheticVideoSource(ElementArgs(scheduler, root->getNode("source", true))
                                               .property("req_width", size.width)
                                               .property("req_height", size.height));
  setPropertyClock(*source->getPropertyNode("clock"), clock);
  auto sink = createElement<CountingSink>(ElementArgs(scheduler, root->getNode("sink", true)));
  LinkHandle link(source->getOutputPad()->link(*sink->getInputPad()));
  for (auto _ : state) {
    int64_t const target = sink->received.load() + 1;
    while (sink->received.load() < target) scheduler->runOne();
  }
  state.SetItemsProcessed(state.iterations());
  // Simulated seconds per wall second is fps / 30.
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_PlasmaOnly)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlasmaCaptionBars)
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SourceFrame)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dravo::media
