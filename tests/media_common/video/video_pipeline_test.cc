// Whole pipelines: synthetic source -> video processor -> texture sink, on a
// fast-forward clock (reproducible to the byte) and on threaded schedulers
// with the system clock.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "media_common/clock.h"
#include "media_common/link_handle.h"
#include "media_common/property_clock.h"
#include "media_common/threaded_scheduler.h"
#include "media_common/trivial_scheduler.h"
#include "media_common/video/synthetic_video_source.h"
#include "media_common/video/video_processor.h"
#include "media_common/video/video_sink.h"
#include "tests/media_common/video/md5_digest.h"

namespace dravo::media {
namespace {

constexpr Time kStart = Time::fromNSec(3000000000000);  // 3000 s

// Stamps each analysed frame's timestamp into its results.
class StampingHook : public VideoProcessorHook, public sigslot::has_slots<> {
 public:
  StampingHook() {
    signal_.connect(this, [](ProcessorRequest& request) {
      request.results.set_processor("stamp");
      request.results.set_frame_timestamp_ns(request.planes[0].timestamp.toNSec());
    });
  }
  ~StampingHook() override { disconnect_all(); }
};

struct SeenFrame {
  std::string md5;
  Time stamp;
  int width = 0;
  Texture::Format format = Texture::FORMAT_BGR24;
  int64_t result_stamp_ns = -1;
};

std::string textureMd5(Texture& texture) {
  video_testing::Md5 md5;
  int const planes = texture.getPlanes();
  for (int p = 0; p < planes; ++p) {
    int const chroma = texture.getFormat() == Texture::FORMAT_I420 && p > 0;
    int const rows = chroma ? (texture.getHeight() + 1) / 2 : texture.getHeight();
    int const bytes = texture.getFormat() == Texture::FORMAT_RGB
                          ? texture.getWidth() * 3
                          : (chroma ? (texture.getWidth() + 1) / 2 : texture.getWidth());
    for (int y = 0; y < rows; ++y)
      md5.update(texture.getBuffer(p) + static_cast<ptrdiff_t>(y) * texture.getStride(p),
                 static_cast<size_t>(bytes));
  }
  return md5.hexDigest();
}

// Records what reaches the sink and lets the test act on frame numbers.
// Slots run on the sink's scheduler; the test reads under the lock.
class Recorder : public sigslot::has_slots<> {
 public:
  ~Recorder() override { disconnect_all(); }

  void attach(TextureVideoSink& sink) {
    sink.texture_signal_.connect(this, [this](std::shared_ptr<Texture> const& texture) {
      SeenFrame seen;
      seen.md5 = textureMd5(*texture);
      seen.stamp = texture->getTimestamp();
      seen.width = texture->getWidth();
      seen.format = texture->getFormat();
      std::function<void(int)> action;
      int count = 0;
      {
        std::lock_guard lock(mutex_);
        frames_.push_back(seen);
        count = static_cast<int>(frames_.size());
        action = on_frame_;
      }
      if (action) action(count);
    });
    sink.processor_results_signal_.connect(
        this, [this](std::shared_ptr<ProcessorResultsProto const> const& results) {
          std::lock_guard lock(mutex_);
          if (results && !frames_.empty())
            frames_.back().result_stamp_ns = results->frame_timestamp_ns();
          changed_.notify_all();
        });
  }
  // Called on the sink's scheduler with the number of frames seen so far.
  void onFrame(std::function<void(int)> action) {
    std::lock_guard lock(mutex_);
    on_frame_ = std::move(action);
  }
  bool waitFor(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60),
                             [&] { return frames_.size() >= count; });
  }
  std::vector<SeenFrame> frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<SeenFrame> frames_;
  std::function<void(int)> on_frame_;
};

struct Pipeline {
  Pipeline(std::shared_ptr<Scheduler> source_scheduler, std::shared_ptr<Scheduler> sink_scheduler,
           std::shared_ptr<Clock> clock)
      : clock(std::move(clock)) {
    source =
        createSyntheticVideoSource(ElementArgs(source_scheduler, root->getNode("source", true)));
    processor = createElement<VideoProcessor>(
        ElementArgs(source_scheduler, root->getNode("processor", true)));
    sink =
        createElement<TextureVideoSink>(ElementArgs(sink_scheduler, root->getNode("sink", true)));
    setPropertyClock(*source->getPropertyNode("clock"), this->clock);
    setPropertyClock(*sink->getPropertyNode("clock"), this->clock);
    processor->setParameters("video", hook);
    recorder->attach(*sink);
    links += LinkHandle(source->getOutputPad()->link(*processor->getInputPad()));
    links += LinkHandle(processor->getOutputPad()->link(*sink->getInputPad()));
  }

  static void set(Element& element, char const* name, PropertyValue const& value) {
    element.getPropertyNode(name)->setValue(value);
  }

  std::shared_ptr<Clock> clock;
  std::shared_ptr<PropertyNode> root = PropertyNode::create("pipeline");
  std::shared_ptr<StampingHook> hook = std::make_shared<StampingHook>();
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::shared_ptr<Source<ImageBuffer>> source;
  std::shared_ptr<VideoProcessor> processor;
  std::shared_ptr<TextureVideoSink> sink;
  LinkHandles links;
};

constexpr int kFastForwardFrames = 24;

// 24 frames on a trivial scheduler and a fast-forward clock; after frame 6
// the size changes, after 12 the rate, after 18 the sink's format.
std::vector<SeenFrame> runFastForward() {
  auto scheduler = createTrivialScheduler();
  std::vector<SeenFrame> frames;
  {
    Pipeline pipeline(scheduler, scheduler, getFastForwardClock(scheduler, kStart));
    Pipeline* p = &pipeline;
    pipeline.recorder->onFrame([p](int count) {
      if (count == 6) {
        p->set(*p->source, "req_width", PropertyValue(320));
        p->set(*p->source, "req_height", PropertyValue(240));
      } else if (count == 12) {
        p->set(*p->source, "req_fps", PropertyValue(50.0));
      } else if (count == 18) {
        p->set(*p->sink, "format", PropertyValue("RGB"));
      } else if (count == kFastForwardFrames) {
        p->set(*p->source, "req_fps", PropertyValue(0.0));
      }
    });
    scheduler->start();
    EXPECT_TRUE(pipeline.recorder->waitFor(kFastForwardFrames));
    scheduler->waitIdle();
    frames = pipeline.recorder->frames();
    scheduler->shutdown(true);
  }
  return frames;
}

TEST(VideoPipelineTest, FastForwardRunsAreIdenticalToTheByteAndFollowPropertyChanges) {
  std::vector<SeenFrame> frames = runFastForward();
  std::vector<SeenFrame> again = runFastForward();
  ASSERT_EQ(static_cast<size_t>(kFastForwardFrames), frames.size());
  ASSERT_EQ(frames.size(), again.size());
  Duration const at30 = Duration::fromSec(1.0 / 30.0);
  Duration const at50 = Duration::fromSec(1.0 / 50.0);
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    SeenFrame const& f = frames[i];
    // Size from the seventh frame on, rate from the thirteenth, format from
    // the nineteenth.
    EXPECT_EQ(i < 6 ? 640 : 320, f.width);
    EXPECT_EQ(i < 18 ? Texture::FORMAT_I420 : Texture::FORMAT_RGB, f.format);
    Time const expected = i < 12 ? kStart + at30 * static_cast<int64_t>(i + 1)
                                 : kStart + at30 * 12 + at50 * static_cast<int64_t>(i - 11);
    EXPECT_EQ(expected, f.stamp);
    EXPECT_EQ(f.stamp.toNSec(), f.result_stamp_ns);
    EXPECT_EQ(again[i].md5, f.md5);
    EXPECT_EQ(again[i].stamp, f.stamp);
    if (i > 0) {
      EXPECT_NE(frames[i - 1].md5, f.md5);
    }
  }
}

TEST(VideoPipelineTest, ThreadedSchedulersWithTheSystemClockDeliverInTimestampOrder) {
  constexpr int kFrames = 20;
  constexpr double kFps = 100.0;
  auto source_scheduler = createThreadedScheduler(2, nullptr);
  auto sink_scheduler = createThreadedScheduler(1, nullptr);
  std::vector<SeenFrame> frames;
  {
    Pipeline pipeline(source_scheduler, sink_scheduler, getSystemClock());
    pipeline.set(*pipeline.source, "req_fps", PropertyValue(kFps));
    pipeline.set(*pipeline.source, "req_width", PropertyValue(160));
    pipeline.set(*pipeline.source, "req_height", PropertyValue(120));
    source_scheduler->start();
    sink_scheduler->start();
    ASSERT_TRUE(pipeline.recorder->waitFor(kFrames));
    pipeline.set(*pipeline.source, "req_fps", PropertyValue(0.0));
    frames = pipeline.recorder->frames();
    source_scheduler->shutdown(true);
    sink_scheduler->shutdown(true);
  }
  ASSERT_GE(frames.size(), static_cast<size_t>(kFrames));
  for (size_t i = 1; i < frames.size(); ++i) EXPECT_LT(frames[i - 1].stamp, frames[i].stamp) << i;
  // Frames come from a fixed cadence: never faster than the rate (dropped
  // frames only stretch the span), and not absurdly slower even on a
  // loaded machine.
  double const span = (frames[kFrames - 1].stamp - frames[0].stamp).toSec();
  EXPECT_GE(span, (kFrames - 1) / kFps * 0.95);
  EXPECT_LT(span, (kFrames - 1) / kFps * 100.0);
  for (SeenFrame const& f : frames) {
    EXPECT_EQ(160, f.width);
    EXPECT_EQ(f.stamp.toNSec(), f.result_stamp_ns);
  }
}

}  // namespace
}  // namespace dravo::media
