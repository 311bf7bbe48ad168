#pragma once
// FrameLimiter: the pass-through element in front of the sink of every
// media-tool pipeline. It counts the frames that pass, lets through at most
// a given number of frames (or a given span of timestamps), and ends the run:
// once the limit is reached, the input ends, or `requestFinish` is called,
// it queues an idle task on its scheduler and, when that task runs, drops
// whatever still arrives and calls the finished callback. Being idle, that
// task runs only after every queued delivery (so the sink has written the
// last frame) and, on a fast-forward clock, before the clock leaps to the
// next frame, which keeps runs reproducible.
//
// Owner: the pipeline runner. Threads: frames arrive on the element's
// scheduler; the callbacks run there too; `requestFinish` and the counters
// may be used from any thread. Configure with `setLimits` and the callbacks
// before frames flow.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/time.h"
#include "media_common/filter_element.h"
#include "media_common/video/image_buffer.h"

namespace dravo::tool {

class FrameLimiter : public media::FilterElement<media::ImageBuffer, media::ImageBuffer> {
 public:
  using FrameCallback = std::function<void(int64_t frames_passed)>;
  using FinishedCallback = std::function<void()>;

  ~FrameLimiter() override;

  // `max_frames` < 0: no frame limit. A frame whose start timestamp lies
  // `max_span` or more after the first frame's ends the run without passing.
  void setLimits(int64_t max_frames, Duration max_span);
  void setFrameCallback(FrameCallback callback) { frame_callback_ = std::move(callback); }
  void setFinishedCallback(FinishedCallback callback) { finished_callback_ = std::move(callback); }

  // Ends the run after what is queued now; any thread, any number of times.
  void requestFinish();

  int64_t passed() const { return passed_.load(); }
  int64_t dropped() const { return dropped_.load(); }
  bool finished() const { return finished_.load(); }

 protected:
  void onBuffer(std::shared_ptr<media::ImageBuffer const> const& frame) override;

 private:
  void finish();

  int64_t max_frames_ = -1;
  Duration max_span_ = Duration::max();
  bool have_first_ = false;
  Time first_stamp_;
  FrameCallback frame_callback_;
  FinishedCallback finished_callback_;
  std::atomic<int64_t> passed_{0};
  std::atomic<int64_t> dropped_{0};
  std::atomic<bool> finish_requested_{false};
  std::atomic<bool> finished_{false};
};

}  // namespace dravo::tool
