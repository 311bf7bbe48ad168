// Whole pipelines: synthetic source -> video processor -> texture sink, on a
// fast-forward clock (reproducible to the byte) and on threaded schedulers
// with the system clock.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "media_common/link_handle.h"
#include "media_common/property_clock.h"
#include "media_common/threaded_scheduler.h"
#include "media_common/trivial_scheduler.h"
#include "media_common/video/synthetic_video_source.h"
#include "media_common/video/video_processor.h"
#include "media_common/video/video_sink.h"

namespace dravo::media {
namespace {

constexpr Time kStart = Time::fromNSec(3000000000000);  // 3000 s

struct SeenFrame {
  std::string pixels;  // the visible bytes of the first plane
  Time stamp;
  Texture::Format format;
  int64_t result_stamp_ns;
};

std::string visibleBytes(Texture& t) {
  int const row = t.getFormat() == Texture::FORMAT_RGB ? t.getWidth() * 3 : t.getWidth();
  std::string bytes;
  for (int y = 0; y < t.getHeight(); ++y)
    bytes.append(reinterpret_cast<char const*>(t.getBuffer(0)) + ptrdiff_t{y} * t.getStride(0),
                 static_cast<size_t>(row));
  return bytes;
}

// Builds the pipeline and records what reaches the sink. Slots run on the
// sink's scheduler and call `on_frame` with the count so far; the test reads
// under the lock.
struct Pipeline : sigslot::has_slots<> {
  Pipeline(std::shared_ptr<Scheduler> source_scheduler, std::shared_ptr<Scheduler> sink_scheduler,
           std::shared_ptr<Clock> clock, std::function<void(Pipeline&, int)> on_frame = nullptr)
      : clock(std::move(clock)), on_frame(std::move(on_frame)) {
    source =
        createSyntheticVideoSource(ElementArgs(source_scheduler, root->getNode("source", true)));
    processor = createElement<VideoProcessor>(
        ElementArgs(source_scheduler, root->getNode("processor", true)));
    sink =
        createElement<TextureVideoSink>(ElementArgs(sink_scheduler, root->getNode("sink", true)));
    setPropertyClock(*source->getPropertyNode("clock"), this->clock);
    setPropertyClock(*sink->getPropertyNode("clock"), this->clock);
    processor->setParameters("video", hook);
    hook->signal_.connect(this, [](ProcessorRequest& request) {  // the frame's stamp as result
      request.results.set_frame_timestamp_ns(request.planes[0].timestamp.toNSec());
    });
    sink->texture_signal_.connect(this, [this](std::shared_ptr<Texture> const& texture) {
      std::unique_lock lock(mutex);
      frames.push_back({visibleBytes(*texture), texture->getTimestamp(), texture->getFormat(), -1});
      int const count = static_cast<int>(frames.size());
      lock.unlock();
      if (this->on_frame) this->on_frame(*this, count);
    });
    sink->processor_results_signal_.connect(
        this, [this](std::shared_ptr<ProcessorResultsProto const> const& results) {
          std::lock_guard lock(mutex);
          if (results && !frames.empty())
            frames.back().result_stamp_ns = results->frame_timestamp_ns();
          changed.notify_all();
        });
    links += LinkHandle(source->getOutputPad()->link(*processor->getInputPad()));
    links += LinkHandle(processor->getOutputPad()->link(*sink->getInputPad()));
  }
  ~Pipeline() override { disconnect_all(); }

  static void set(Element& element, char const* name, PropertyValue const& value) {
    element.getPropertyNode(name)->setValue(value);
  }
  // The first `count` frames, once each has its results; a frame's results
  // follow its texture, so the newest frame may still lack them.
  std::vector<SeenFrame> waitForFrames(size_t count) {
    std::unique_lock lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] {
      return frames.size() >= count && frames[count - 1].result_stamp_ns != -1;
    }));
    return {frames.begin(),
            frames.begin() + static_cast<ptrdiff_t>(std::min(count, frames.size()))};
  }

  std::shared_ptr<Clock> clock;  // the property nodes hold it weakly
  std::function<void(Pipeline&, int)> on_frame;
  std::shared_ptr<PropertyNode> root = PropertyNode::create("pipeline");
  std::shared_ptr<VideoProcessorHook> hook = std::make_shared<VideoProcessorHook>();
  std::shared_ptr<Source<ImageBuffer>> source;
  std::shared_ptr<VideoProcessor> processor;
  std::shared_ptr<TextureVideoSink> sink;
  LinkHandles links;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<SeenFrame> frames;
};

// Ten frames on a trivial scheduler and a fast-forward clock; after the
// fifth the sink's format changes.
std::vector<SeenFrame> runFastForward() {
  auto scheduler = createTrivialScheduler();
  Pipeline p(scheduler, scheduler, getFastForwardClock(scheduler, kStart), [](Pipeline& p, int n) {
    if (n == 5) p.set(*p.sink, "format", PropertyValue("RGB"));
    if (n == 10) p.set(*p.source, "req_fps", PropertyValue(0.0));
  });
  scheduler->start();
  p.waitForFrames(10);
  scheduler->waitIdle();
  scheduler->shutdown(true);
  return p.waitForFrames(10);
}

TEST(VideoPipelineTest, FastForwardRunsAreIdenticalToTheByte) {
  std::vector<SeenFrame> const frames = runFastForward(), again = runFastForward();
  ASSERT_TRUE(frames.size() == 10u && again.size() == 10u);
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(kStart + Duration::fromSec(1.0 / 30.0) * static_cast<int64_t>(i + 1),
              frames[i].stamp);
    EXPECT_EQ(i < 5 ? Texture::FORMAT_I420 : Texture::FORMAT_RGB, frames[i].format);
    EXPECT_EQ(frames[i].stamp.toNSec(), frames[i].result_stamp_ns);
    EXPECT_TRUE(again[i].pixels == frames[i].pixels);
    EXPECT_TRUE(i == 0 || frames[i - 1].pixels != frames[i].pixels);
  }
}

TEST(VideoPipelineTest, ThreadedSchedulersWithTheSystemClockDeliverInTimestampOrder) {
  constexpr int kFrames = 20;
  constexpr double kFps = 100.0;
  auto source_scheduler = createThreadedScheduler(2, nullptr);
  auto sink_scheduler = createThreadedScheduler(1, nullptr);
  std::vector<SeenFrame> frames;
  {
    Pipeline p(source_scheduler, sink_scheduler, getSystemClock());
    p.set(*p.source, "req_fps", PropertyValue(kFps));
    source_scheduler->start();
    sink_scheduler->start();
    frames = p.waitForFrames(kFrames);
    p.set(*p.source, "req_fps", PropertyValue(0.0));
    source_scheduler->shutdown(true);
    sink_scheduler->shutdown(true);
  }
  ASSERT_GE(frames.size(), static_cast<size_t>(kFrames));
  for (size_t i = 1; i < frames.size(); ++i) EXPECT_LT(frames[i - 1].stamp, frames[i].stamp) << i;
  // A fixed cadence: never faster than the rate (drops only stretch the
  // span), and not absurdly slower even on a loaded machine.
  double const span = (frames[kFrames - 1].stamp - frames[0].stamp).toSec();
  EXPECT_GE(span, (kFrames - 1) / kFps * 0.95);
  EXPECT_LT(span, (kFrames - 1) / kFps * 100.0);
  for (SeenFrame const& f : frames) EXPECT_EQ(f.stamp.toNSec(), f.result_stamp_ns);
}

}  // namespace
}  // namespace dravo::media
