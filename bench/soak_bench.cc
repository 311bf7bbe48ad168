// Soak run (not part of CI): 1080p synthetic video at 30 fps -> a converting
// filter (I420 to BGRX) -> AVI sink (which converts back to I420 and writes
// to /dev/null), each element on a threaded scheduler, on the system clock.
// Resident memory is sampled once a second; it must stay flat after the
// first seconds, bounded by the token pools. Counters:
//   rss_first_mb  resident memory after the warm-up (10 s)
//   rss_max_mb    the largest sample after the warm-up
//   rss_last_mb   the last sample
//   frames        frames that reached the filter; dropped = expected - frames
// SOAK_SECONDS sets the length (default 600); SOAK_OUTPUT the AVI file
// (default /dev/null; empty records nothing, to tell the writer's per-frame
// index, which grows by design, from the rest).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "common/deferred.h"
#include "common/property_node.h"
#include "media_common/filter_element.h"
#include "media_common/threaded_scheduler.h"
#include "media_common/video/avi_sink.h"
#include "media_common/video/image_buffer_converter.h"
#include "media_common/video/synthetic_video_source.h"

namespace dravo::media {
namespace {

class ToBgrxFilter : public FilterElement<ImageBuffer, ImageBuffer> {
 public:
  ~ToBgrxFilter() override { disconnect_all(); }
  void onBuffer(std::shared_ptr<ImageBuffer const> const& in) override {
    frames.fetch_add(1, std::memory_order_relaxed);
    auto out = ImageBufferConverter::easyConvert(ImageBuffer::IMAGE_BGRX32, in);
    if (out) sendBuffer(out);
  }
  std::atomic<int64_t> frames{0};
};

double residentMegabytes() {
  long pages = 0;
  long resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

void BM_Soak1080pSyntheticToAvi(benchmark::State& state) {
  char const* env = std::getenv("SOAK_SECONDS");
  int const seconds = env ? std::max(15, std::atoi(env)) : 600;
  constexpr int kWarmUpSeconds = 10;
  constexpr double kFps = 30.0;
  for (auto _ : state) {
    auto root = PropertyNode::create("soak");
    auto source_scheduler = createThreadedScheduler(1, root->getNode("source_scheduler", true));
    auto filter_scheduler = createThreadedScheduler(1, root->getNode("filter_scheduler", true));
    auto sink_scheduler = createThreadedScheduler(1, root->getNode("sink_scheduler", true));
    auto source =
        createSyntheticVideoSource(ElementArgs(source_scheduler, root->getNode("source", true)));
    auto filter =
        createElement<ToBgrxFilter>(ElementArgs(filter_scheduler, root->getNode("filter", true)));
    auto sink = createAVISink(ElementArgs(sink_scheduler, root->getNode("sink", true)));
    source->getPropertyNode("req_width")->setValue(PropertyValue(1920));
    source->getPropertyNode("req_height")->setValue(PropertyValue(1080));
    source->getPropertyNode("req_fps")->setValue(PropertyValue(kFps));
    source->getPropertyNode("priority")->setValue(PropertyValue(1));
    char const* output = std::getenv("SOAK_OUTPUT");
    sink->getPropertyNode("filename")
        ->setValue(PropertyValue(std::string(output ? output : "/dev/null")));
    LinkHandles links;
    links += LinkHandle(source->getOutputPad()->link(*filter->getInputPad()));
    links += LinkHandle(filter->getOutputPad()->link(*sink->getInputPad()));
    for (auto const& scheduler : {source_scheduler, filter_scheduler, sink_scheduler})
      scheduler->start();

    double first = 0;
    double highest = 0;
    double last = 0;
    for (int second = 1; second <= seconds; ++second) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      last = residentMegabytes();
      if (second == kWarmUpSeconds) first = last;
      if (second >= kWarmUpSeconds) highest = std::max(highest, last);
    }
    source->getPropertyNode("req_fps")->setValue(PropertyValue(0.0));
    int64_t const frames = filter->frames.load();
    links.reset();
    source.reset();
    filter.reset();
    sink.reset();
    for (auto const& scheduler : {source_scheduler, filter_scheduler, sink_scheduler})
      scheduler->shutdown(true);
    waitForDeferredCalls();

    state.counters["rss_first_mb"] = first;
    state.counters["rss_max_mb"] = highest;
    state.counters["rss_last_mb"] = last;
    state.counters["frames"] = static_cast<double>(frames);
    state.counters["dropped"] = std::max(0.0, seconds * kFps - static_cast<double>(frames));
  }
}
BENCHMARK(BM_Soak1080pSyntheticToAvi)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace dravo::media
