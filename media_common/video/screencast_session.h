#pragma once
// One screen cast from request to end: asks the desktop's portal for a
// monitor or window, then reads the PipeWire stream it grants, on a thread
// of its own, and keeps the newest frame for whoever polls it. The cast
// ends, with a reason for people, when the portal refuses or the user
// cancels, when no picture comes in time, or when the stream or the portal
// session ends.
//
// Owner: the screen source (one session while its loop runs) or a one-shot
// capture. Threads: the owner creates, polls and destroys it from any one
// thread at a time; the session's thread does all D-Bus and PipeWire work.
// Destruction stops that thread, whatever it is waiting for, and joins it.

#include <cstdint>
#include <memory>
#include <string>

#include "common/condition_variable.h"
#include "common/mutex.h"
#include "common/size.h"
#include "common/status.h"
#include "common/thread.h"
#include "common/time.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/screen_capture_backend.h"
#include "media_common/video/screencast_portal.h"

namespace dravo::media {

struct ScreenCastSessionOptions {
  ScreenCastPortalOptions portal;
  // From the grant to the first picture.
  Duration first_frame_timeout = Duration::fromSec(20.0);
};

class ScreenCastSession {
 public:
  struct State {
    std::shared_ptr<ImageBuffer const> frame;  // the newest; null before the first
    uint64_t frames = 0;                       // how many have come
    bool ended = false;
    std::string reason;  // why it ended
  };

  explicit ScreenCastSession(ScreenCastSourceType type,
                             ScreenCastSessionOptions const& options = {});
  ~ScreenCastSession();
  ScreenCastSession(ScreenCastSession const&) = delete;
  ScreenCastSession& operator=(ScreenCastSession const&) = delete;

  ScreenCastSourceType type() const { return type_; }
  State state() const;
  // Waits until more than `seen` frames have come, the cast ends or
  // `timeout` passes, and returns the state then.
  State waitForFrame(uint64_t seen, Duration timeout) const;

 private:
  void run();
  // Whether the owner asked the thread to stop.
  bool stopping() const;
  void publish(std::shared_ptr<ImageBuffer const> const& frame);
  void finish(std::string const& reason);

  ScreenCastSourceType const type_;
  ScreenCastSessionOptions const options_;
  int stop_fd_ = -1;
  mutable Mutex mutex_;
  mutable ConditionVariable changed_;
  State state_ DRAVO_GUARDED_BY(mutex_);
  Thread thread_;
};

// A single picture of the portal source `id` ("screen:portal" or
// "window:portal"), fitted to `size` as `getScreenshot` fits X11 pictures.
// Failures set `Error_ScreenCaptureAPI` with the reason on `status` (when
// not null) and give null; success sets Ok, "Element Ok".
std::shared_ptr<ImageBuffer> getPortalScreenshot(std::string const& id, Size const& size,
                                                 std::shared_ptr<Status> status,
                                                 ScreenCastSessionOptions const& options = {});

}  // namespace dravo::media
