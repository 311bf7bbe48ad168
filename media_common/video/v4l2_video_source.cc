#include "media_common/video/v4l2_video_source.h"

#include "common/logging.h"
#include "media_common/video/v4l2_device_probe.h"

DRAVO_LOGGER("video_source");

namespace dravo::media {

V4L2VideoSource::V4L2VideoSource(std::shared_ptr<V4L2System> system) : system_(std::move(system)) {}

V4L2VideoSource::~V4L2VideoSource() { disconnect_all(); }

void V4L2VideoSource::closeDevice() {
  if (!capture_) return;
  capture_->stop();
  capture_.reset();
}

void V4L2VideoSource::openDevice() {
  sourceOpening();
  std::string const camera = device_->empty() ? std::string("default camera") : *device_;
  std::string const path = findV4L2DeviceNode(*system_, *device_);
  if (path.empty()) {
    LOGF(2, "Camera %s not found", camera.c_str());
    setStatus(status_codes::Error_FileCantOpen, "Camera " + camera + " not found");
    return;
  }
  V4L2Request request;
  request.width = *req_width_;
  request.height = *req_height_;
  request.fps = *req_fps_;
  request.preferred = *req_pixel_format_;
  auto capture = std::make_unique<V4L2Capture>(system_->createDevice());
  std::string error;
  if (!capture->open(path, request, &error)) {
    LOGF(2, "Could not open camera %s: %s", camera.c_str(), error.c_str());
    setStatus(status_codes::Error_FileCantOpen, "Could not open camera " + camera + ": " + error);
    return;
  }
  V4L2Mode const mode = capture->mode();
  publishMode(mode.width, mode.height, mode.fps());
  bool const started = capture->start(
      [this](std::shared_ptr<ImageBuffer> const& frame) { deliverFrame(frame); },
      [this, camera](std::string const& message) { onCaptureFailure(camera, message); }, &error);
  if (!started) {
    LOGF(2, "Could not start camera %s: %s", camera.c_str(), error.c_str());
    setStatus(status_codes::Error_FileCantOpen, "Could not start camera " + camera + ": " + error);
    return;
  }
  capture_ = std::move(capture);
  setStatus(status_codes::Ok, std::string());
  sourceOpened();
}

void V4L2VideoSource::onCaptureFailure(std::string const& camera, std::string const& message) {
  setStatus(status_codes::Error_VideoCaptureNoFrames, "Camera " + camera + " stopped: " + message);
}

std::shared_ptr<V4L2VideoSource> createV4L2VideoSource(ElementArgs const& args,
                                                       std::shared_ptr<V4L2System> system) {
  return createElement<V4L2VideoSource>(args, std::move(system));
}

}  // namespace dravo::media
