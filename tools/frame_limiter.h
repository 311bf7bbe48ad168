#pragma once
// FrameLimiter: the pass-through element right in front of the sink of every
// media-tool pipeline. It counts the frames that pass, lets through at most a
// given number of frames (or a given span of timestamps), and ends the run.
//
// Ending never waits for the scheduler to go idle, so a source that is always
// behind cannot hold it up. Once the limit is reached, the input ends or
// `requestFinish` is called, the limiter drops whatever arrives from then on
// and queues its finish right behind the sink's delivery of the last frame it
// passed: same level, same stamp (the frame's creation time), queued later.
// The scheduler runs tasks one at a time in priority order, equal priorities
// first come first served (the trivial scheduler), so when the finished
// callback runs the sink has had every passed frame, and no task stamped
// later (a source's next frame) has run. Nothing a fast-forward clock does
// while idle runs in between, which keeps runs reproducible.
//
// Owner: the pipeline runner. Threads: frames arrive on the element's
// scheduler and the finished callback runs there; the frame callback too.
// `requestFinish` and the counters may be used from any thread; the
// finish-requested callback runs on the thread that asked. Configure with
// `setLimits` and the callbacks before frames flow.

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
  using Callback = std::function<void()>;

  ~FrameLimiter() override;

  // `max_frames` < 0: no frame limit. A frame whose start timestamp lies
  // `max_span` or more after the first frame's ends the run without passing.
  void setLimits(int64_t max_frames, Duration max_span);
  void setFrameCallback(FrameCallback callback) { frame_callback_ = std::move(callback); }
  // Runs once, when the end is first asked for (by a limit, the input's end
  // or `requestFinish`).
  void setFinishRequestedCallback(Callback callback) {
    finish_requested_callback_ = std::move(callback);
  }
  // Runs once, when the sink has had every frame that passed.
  void setFinishedCallback(Callback callback) { finished_callback_ = std::move(callback); }

  // Ends the run after the frames passed so far; any thread, any number of
  // times.
  void requestFinish();

  int64_t passed() const { return passed_.load(); }
  int64_t dropped() const { return dropped_.load(); }
  bool finished() const { return finished_.load(); }

 protected:
  void onBuffer(std::shared_ptr<media::ImageBuffer const> const& frame) override;

 private:
  // On the scheduler: no frame passes from here on; queues the finish.
  void seal();
  void finish();

  int64_t max_frames_ = -1;
  Duration max_span_ = Duration::max();
  FrameCallback frame_callback_;
  Callback finish_requested_callback_;
  Callback finished_callback_;

  // On the element's scheduler only.
  bool have_first_ = false;
  Time first_stamp_;
  // The lowest level and the latest creation time of the frames passed: a
  // task at that priority runs after the deliveries of all of them.
  int32_t lowest_passed_level_ = 0;
  Time latest_passed_creation_;

  std::atomic<int64_t> passed_{0};
  std::atomic<int64_t> dropped_{0};
  std::atomic<bool> finish_requested_{false};
  std::atomic<bool> finished_{false};
};

}  // namespace dravo::tool
