#pragma once
// The capture source for Video4Linux2 cameras.
//
// A `DeviceVideoSource` whose "device" names a camera by the identifier of
// `probeV4L2Devices` (or a node path; empty: the first camera). When
// enabled it opens the camera in the mode nearest to "req_width",
// "req_height", "req_fps" and "req_pixel_format", publishes the mode it got
// as "width", "height" and "fps", and sends every frame (YUYV as
// IMAGE_YUYV, YUV 4:2:0 and NV12 as IMAGE_I420, MJPEG as IMAGE_MJPEG)
// stamped with its clock. A change of the request, of "device" or "enabled",
// a "reopen" pulse and the watchdog close and open the camera again.
//
// Failures end in a status, never in a hang: a camera that cannot be found
// or opened sets `Error_FileCantOpen`; one that fails while streaming
// (unplugged) stops its capture thread and sets `Error_VideoCaptureNoFrames`.
// A successful open clears the status.
//
// Owner: whoever created it through `createV4L2VideoSource`. Threads:
// opening and closing run on the element's scheduler (closing joins the
// capture thread); frames are sent from the capture thread.

#include <memory>
#include <string>

#include "media_common/video/device_video_source.h"
#include "media_common/video/v4l2_capture.h"
#include "media_common/video/v4l2_device.h"

namespace dravo::media {

class V4L2VideoSource : public ManagedDeviceVideoSource {
 public:
  explicit V4L2VideoSource(std::shared_ptr<V4L2System> system);
  ~V4L2VideoSource() override;

 protected:
  void openDevice() override;
  void closeDevice() override;

 private:
  // On the capture thread.
  void onCaptureFailure(std::string const& camera, std::string const& message);

  std::shared_ptr<V4L2System> const system_;
  // On the element's scheduler only.
  std::unique_ptr<V4L2Capture> capture_;
};

std::shared_ptr<V4L2VideoSource> createV4L2VideoSource(
    ElementArgs const& args, std::shared_ptr<V4L2System> system = getV4L2System());

}  // namespace dravo::media
