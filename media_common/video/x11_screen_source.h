#pragma once
// A video source that captures a display or one top-level window: of the X11
// display named by $DISPLAY, or, on Wayland desktops, whatever the user
// shares through the desktop's screen-cast portal (see
// screen_capture_backend.h for how the backend is chosen; it is fixed when
// the source is created).
//
// `ScreenVideoSource` is a `VideoSource` that, while "enabled" is true and
// "window" names a display or window (see screenshot_x11.h for the X11 ids;
// the portal's are "screen:portal" and "window:portal"), takes pictures at a
// third of "req_fps" on the system clock (independent of the element's
// "clock") and sends them as IMAGE_BGRX32 frames stamped with the element's
// clock. On the portal a screen cast runs while the loop does, and each
// tick sends the newest picture the stream has given; until the first one
// comes (the user may still be choosing) ticks send nothing. "active" tells
// whether pictures are coming; "width" and "height" give their size, 0
// while inactive. The loop stops by itself when a picture cannot be taken
// (capture failures set the element's status to `Error_ScreenCaptureAPI`;
// a minimised window and an unparsable "window" leave it alone; on the
// portal, a refused or cancelled request and the end of the shared stream
// are failures, with the reason as the status message); the next property
// change that finds the source enabled, inactive and with a window starts
// it again.
//
// Owner: whoever created it through `createScreenSource`. Threads: the
// property-change passes and the capture loop run on the element's
// scheduler (the system clock's timer thread only posts the loop's tasks);
// the portal's screen cast has a thread of its own, stopped and joined when
// the loop stops or the source goes. `getDisplays` and `getWindows` run on
// the caller's thread.

#include <memory>
#include <string>
#include <vector>

#include "common/cached_property.h"
#include "media_common/repeating_timer.h"
#include "media_common/task_info.h"
#include "media_common/video/screen_capture_backend.h"
#include "media_common/video/screenshot_x11.h"
#include "media_common/video/video_source.h"

namespace dravo::media {

class ScreenVideoSource : public VideoSource {
 public:
  using DisplayInfo = media::DisplayInfo;
  using WindowInfo = media::WindowInfo;

  ~ScreenVideoSource() override;

  // Append the displays and windows that can be captured: on the portal,
  // one entry each whose capture asks the portal for that kind of source.
  static void getDisplays(std::vector<DisplayInfo>* monitors);
  static void getWindows(std::vector<WindowInfo>* windows);

 protected:
  void initialize() override;
  void onPropertyChange(bool first) override;
  void finalize() override;

 private:
  void screenshotLoop();
  // Takes and sends one picture; false when there is none to take.
  bool grabScreenshot();
  // The portal's newest picture, null when there is none yet; false when
  // the screen cast cannot go on.
  bool takePortalPicture(std::shared_ptr<ImageBuffer>* image);
  void setInactive();

  CachedProperty<bool> active_;
  CachedProperty<std::string> window_;
  std::shared_ptr<TaskInfo const> loop_task_info_;
  std::shared_ptr<Clock> loop_clock_;
  std::shared_ptr<RepeatingTimer> loop_timer_;
  ScreenCaptureBackend backend_ = ScreenCaptureBackend::X11;
  std::unique_ptr<class ScreenCastSession> screen_cast_;
  uint64_t screen_cast_frames_ = 0;  // frames of `screen_cast_` sent so far
};

std::shared_ptr<ScreenVideoSource> createScreenSource(ElementArgs const& args);

}  // namespace dravo::media
