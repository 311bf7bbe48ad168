#pragma once
// A capture-device source without hardware: a capture thread of its own
// draws the synthetic source's plasma and colour bars into I420 frames and
// delivers them the way a camera driver would.
//
// It opens its "device" (any name, or the default camera) when "enabled"
// becomes true, reopens it when the requested mode, the device or "reopen"
// change and when the watchdog asks, and closes it when disabled. Frames
// come either at the requested rate of the wall clock (`Pacing::kWallClock`)
// or only when released with `releaseFrames` (`Pacing::kOnRequest`, for
// tests). `setStalled(true)` makes the device hang: no frames, across
// reopens too, until it is cleared.
//
// Owner: whoever created it through `createTestPatternVideoSource`.
// Threads: opening and closing run on the element's scheduler (they start
// and join the capture thread); frames are made and sent on the capture
// thread; the test controls (`setStalled`, `releaseFrames`, the counters and
// waits) may be called from any thread. `mutex_` guards the shared state.

#include <cstdint>
#include <memory>

#include "common/condition_variable.h"
#include "common/mutex.h"
#include "common/thread.h"
#include "media_common/video/device_video_source.h"

namespace dravo::media {

class TestPatternVideoSource : public ManagedDeviceVideoSource {
 public:
  enum class Pacing { kWallClock, kOnRequest };

  explicit TestPatternVideoSource(Pacing pacing) : pacing_(pacing) {}
  ~TestPatternVideoSource() override;

  void setStalled(bool stalled);
  // With Pacing::kOnRequest: lets the capture thread make `count` more
  // frames (kept across reopens while the device is stalled or closed).
  void releaseFrames(int count);

  int openCount();
  uint64_t framesDelivered();
  // Waits until `count` frames were delivered in all, or `timeout` of wall
  // time passed; true when they were.
  bool waitForFramesDelivered(uint64_t count, Duration timeout);

 protected:
  void openDevice() override;
  void closeDevice() override;

 private:
  struct Mode {
    int width;
    int height;
    float fps;
  };

  void captureLoop(Mode mode);

  const Pacing pacing_;
  // Used on the element's scheduler only.
  std::unique_ptr<Thread> capture_thread_;

  Mutex mutex_;
  ConditionVariable changed_;
  bool stopping_ DRAVO_GUARDED_BY(mutex_) = false;
  bool stalled_ DRAVO_GUARDED_BY(mutex_) = false;
  int released_frames_ DRAVO_GUARDED_BY(mutex_) = 0;
  int open_count_ DRAVO_GUARDED_BY(mutex_) = 0;
  uint64_t frames_delivered_ DRAVO_GUARDED_BY(mutex_) = 0;
};

std::shared_ptr<TestPatternVideoSource> createTestPatternVideoSource(
    ElementArgs const& args,
    TestPatternVideoSource::Pacing pacing = TestPatternVideoSource::Pacing::kWallClock);

}  // namespace dravo::media
