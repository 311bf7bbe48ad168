#pragma once
// One streaming session of a Video4Linux2 capture device: opens the node,
// chooses and sets the mode, maps the driver's buffers and runs a capture
// thread that hands every filled buffer, copied into an `ImageBuffer`, to a
// callback.
//
//     V4L2Capture capture(system->createDevice());
//     if (!capture.open("/dev/video0", request, &error)) ...
//     capture.start(on_frame, on_failure);
//     ...
//     capture.stop();  // joins the thread, unmaps, closes
//
// A device that fails while streaming (unplugged: ENODEV) ends the thread;
// `on_failure` is called once, on the capture thread, with a description.
// The thread always ends on `stop()` (or destruction), within one poll
// interval at worst.
//
// Owner: one object (the capture source) that calls open/start/stop on one
// thread; the callbacks run on the capture thread and must not call stop().

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/non_copyable.h"
#include "common/thread.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/v4l2_device.h"
#include "media_common/video/v4l2_modes.h"

namespace dravo::media {

class V4L2Capture : NonCopyable {
 public:
  using FrameCallback = std::function<void(std::shared_ptr<ImageBuffer> const&)>;
  using FailureCallback = std::function<void(std::string const&)>;

  explicit V4L2Capture(std::unique_ptr<V4L2Device> device);
  ~V4L2Capture();

  // Opens `path`, sets the mode nearest to `request` and maps the buffers;
  // false with `error` set (and everything undone) on failure.
  bool open(std::string const& path, V4L2Request const& request, std::string* error);
  // The mode set by open().
  V4L2Mode const& mode() const { return mode_; }
  // Starts streaming on the capture thread; false with `error` set.
  bool start(FrameCallback on_frame, FailureCallback on_failure, std::string* error);
  // Stops streaming, joins the thread, unmaps and closes. Idempotent.
  void stop();

 private:
  struct MappedBuffer {
    void* address = nullptr;
    size_t length = 0;
  };

  bool mapBuffers(std::string* error);
  void unmapBuffers();
  void captureLoop();
  // One dequeue-copy-requeue round; false when streaming must end.
  bool takeFrame();
  void fail(std::string const& message);

  std::unique_ptr<V4L2Device> device_;
  V4L2Mode mode_;
  uint32_t stride_ = 0;
  std::vector<MappedBuffer> buffers_;
  bool opened_ = false;
  bool streaming_ = false;
  FrameCallback on_frame_;
  FailureCallback on_failure_;
  std::unique_ptr<Thread> thread_;
  std::atomic<bool> stopping_{false};
};

}  // namespace dravo::media
