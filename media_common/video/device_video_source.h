#pragma once
// The base of capture-device sources: names the device, watches the stream
// for missing frames and reopens the device when they stop.
//
// Properties, after those of `VideoSource`: "device" (empty: the default
// camera), "timeout" (10 s), "retry_count" (2) and "reopen" (a pulse: set it
// true to ask for a reopen; it reads back false).
//
// Watchdog: once a second of the element's clock, when frames are expected
// (the device was opened, "enabled" is true, the status is no error and
// "media/video/expect_video_timeout" is false) and none came for more than
// "timeout", a named device is reopened through `reopenDevice()`, at most
// "retry_count" times in a row; then, or at once for the default camera, the
// status becomes `Error_VideoCaptureNoFrames`. A frame resets the count.
//
// Subclasses open the device and report `sourceOpening()` before and
// `sourceOpened()` after opening it, `frameArrived()` (or `deliverFrame`)
// for every frame, and implement `reopenDevice()`. After a property-change
// pass that changed the requested mode, "enabled" or "device", or pulsed
// "reopen", `takeReopenRequest()` is true once.
//
// `ManagedDeviceVideoSource` below does the opening and closing for
// subclasses that only know how to open and close their device.
//
// Owner: whoever created the concrete source. Threads: `onPropertyChange`,
// the watchdog and `reopenDevice()` run on the element's scheduler (the
// watchdog calls `reopenDevice()` without holding `watch_mutex_`, so it may
// report from within); `sourceOpening`, `sourceOpened`, `frameArrived` and
// `deliverFrame` may be called from any thread (a capture thread).

#include <atomic>
#include <memory>
#include <string>

#include "common/cached_property.h"
#include "common/mutex.h"
#include "common/static_property.h"
#include "common/thread_annotations.h"
#include "media_common/repeating_timer.h"
#include "media_common/video/video_source.h"

namespace dravo::media {

// "media/video/expect_video_timeout": while true, frame time-outs are
// expected and never acted upon.
StaticProperty<bool>& expectVideoTimeoutProperty();

class DeviceVideoSource : public VideoSource {
 public:
  ~DeviceVideoSource() override;

 protected:
  DeviceVideoSource();

  void initialize() override;
  void onPropertyChange(bool first) override;

  // Closes and opens the current device again. On the element's scheduler.
  virtual void reopenDevice() = 0;

  // Sends the device-opening event downstream.
  void sourceOpening();
  // Starts the watchdog's wait afresh.
  void sourceOpened();
  // A frame came: resets the retry count and the watchdog's wait.
  void frameArrived();
  // frameArrived(), then stamps `frame` with the clock and the source's
  // priority and sends it; also keeps "actual_fps" up to date.
  void deliverFrame(std::shared_ptr<ImageBuffer> const& frame);

  // True once after a property change called for reopening the device.
  bool takeReopenRequest();

  CachedProperty<std::string> device_;
  CachedProperty<Duration> timeout_;
  CachedProperty<uint32_t> retry_count_;
  CachedProperty<bool> reopen_;

  Mutex watch_mutex_;
  Time last_frame_time_ DRAVO_GUARDED_BY(watch_mutex_);
  unsigned retries_ DRAVO_GUARDED_BY(watch_mutex_) = 0;
  bool reopen_requested_ DRAVO_GUARDED_BY(watch_mutex_) = false;

 private:
  void onRetryTimer();

  std::shared_ptr<RepeatingTimer> retry_timer_;
  // The "priority" property as the capture thread may read it.
  std::atomic<int32_t> frame_priority_{-1};
  // Frames counted for "actual_fps" since `rate_window_start_`.
  Time rate_window_start_ DRAVO_GUARDED_BY(watch_mutex_);
  int rate_window_frames_ DRAVO_GUARDED_BY(watch_mutex_) = 0;
};

// A device source that follows its properties by itself: after a
// property-change pass that calls for it (see `takeReopenRequest`) it closes
// the device and, while "enabled" is true, opens it again; the watchdog's
// `reopenDevice` closes and opens; `finalize` closes first, so that a
// capture thread sending through the element ends before the element does.
// Subclasses implement `openDevice` (reporting `sourceOpening` and
// `sourceOpened`) and `closeDevice` (nothing when closed). All of them run
// on the element's scheduler.
class ManagedDeviceVideoSource : public DeviceVideoSource {
 protected:
  void onPropertyChange(bool first) override;
  void finalize() override;
  void reopenDevice() final;

  virtual void openDevice() = 0;
  virtual void closeDevice() = 0;
};

}  // namespace dravo::media
