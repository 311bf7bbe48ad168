#include "media_common/video/device_video_source.h"

#include "common/logging.h"
#include "common/string_util.h"
#include "media_common/media_events.h"
#include "media_common/task_info.h"

DRAVO_LOGGER("video_source");

namespace dravo::media {

StaticProperty<bool>& expectVideoTimeoutProperty() {
  static StaticProperty<bool> property(
      "media/video/expect_video_timeout", false,
      "Frame time-outs are expected (e.g. in tests); never reopen the camera or report them.");
  return property;
}

namespace {
// Registers the global node while the library loads, so that it is visible
// in the tree before the first source exists.
[[maybe_unused]] StaticProperty<bool>& registered_expect_video_timeout =
    expectVideoTimeoutProperty();
}  // namespace

DeviceVideoSource::DeviceVideoSource() = default;

DeviceVideoSource::~DeviceVideoSource() {
  disconnect_all();
  retry_timer_.reset();
}

void DeviceVideoSource::initialize() {
  VideoSource::initialize();
  auto& signal = getPropertyChangeSignal();
  device_.bind(signal, getPropertyNode("device"), std::string());
  timeout_.bind(signal, getPropertyNode("timeout"), Duration::fromSec(10.0),
                "Reinitialize the camera if there was no frame for more than this amount of time.");
  retry_count_.bind(signal, getPropertyNode("retry_count"), 2u,
                    "Number of times to retry until we give up and report an error.");
  reopen_.bind(signal, getPropertyNode("reopen"), false, "Reopen the device");

  auto self = std::static_pointer_cast<DeviceVideoSource>(shared_from_this());
  auto info = std::make_shared<SimpleTaskInfo>(getFullName() + " retry");
  retry_timer_ = std::make_shared<RepeatingTimer>(
      getClock(),
      scheduledWeakFunction(getScheduler(), Priority(-1000, false), info,
                            bindWeak(self, &DeviceVideoSource::onRetryTimer)),
      Duration::fromSec(1.0));
}

void DeviceVideoSource::onPropertyChange(bool first) {
  VideoSource::onPropertyChange(first);
  frame_priority_.store(*priority_, std::memory_order_relaxed);
  bool const reopen = *reopen_;
  Time const now = getClock()->getTime();
  {
    MutexLock lock(watch_mutex_);
    reopen_requested_ = reopen_requested_ || req_fps_.changed() || req_width_.changed() ||
                        req_height_.changed() || enabled_.changed() || device_.changed() || reopen;
    if (reopen_requested_) {
      retries_ = 0;
      last_frame_time_ = now;
    }
  }
  if (reopen) reopen_.set(false);
}

bool DeviceVideoSource::takeReopenRequest() {
  MutexLock lock(watch_mutex_);
  bool const requested = reopen_requested_;
  reopen_requested_ = false;
  return requested;
}

void DeviceVideoSource::sourceOpening() {
  auto event = std::make_shared<DeviceOpeningEvent>();
  event->setPriority(-1000);
  event->setStartTimestamp(getClock()->getTime());
  sendDownstreamEvent(event);
}

void DeviceVideoSource::sourceOpened() {
  Time const now = getClock()->getTime();
  MutexLock lock(watch_mutex_);
  last_frame_time_ = now;
}

void DeviceVideoSource::frameArrived() {
  Time const now = getClock()->getTime();
  MutexLock lock(watch_mutex_);
  retries_ = 0;
  last_frame_time_ = now;
}

void DeviceVideoSource::deliverFrame(std::shared_ptr<ImageBuffer> const& frame) {
  Time const now = getClock()->getTime();
  float measured_fps = -1;
  {
    MutexLock lock(watch_mutex_);
    retries_ = 0;
    last_frame_time_ = now;
    if (rate_window_start_ == Time::min() || now < rate_window_start_) {
      rate_window_start_ = now;
      rate_window_frames_ = 0;
    } else {
      ++rate_window_frames_;
      Duration const window = now - rate_window_start_;
      if (window >= Duration::fromSec(1.0)) {
        measured_fps = static_cast<float>(rate_window_frames_ / window.toSec());
        rate_window_start_ = now;
        rate_window_frames_ = 0;
      }
    }
  }
  if (measured_fps >= 0) publishActualFps(measured_fps);
  frame->setStartTimestamp(now);
  frame->setPriority(frame_priority_.load(std::memory_order_relaxed));
  SourceMixin<ImageBuffer>::sendBuffer(frame);
}

void DeviceVideoSource::onRetryTimer() {
  Time const now = getClock()->getTime();
  MutexLock lock(watch_mutex_);
  if (expectVideoTimeoutProperty().get() || last_frame_time_ == Time::min() || !*enabled_ ||
      getStatus()->getStatusCode() < 0) {
    last_frame_time_ = now;
    return;
  }
  if (now - last_frame_time_ <= *timeout_) return;
  if (retries_ < *retry_count_ && !device_->empty()) {
    ++retries_;
    last_frame_time_ = now;
    LOGF(4, "Attempting to re-open camera %s", device_->c_str());
    lock.unlock();
    reopenDevice();
    return;
  }
  // The status goes out without the lock: its listeners may call back in.
  lock.unlock();
  if (device_->empty()) {
    setStatus(status_codes::Error_VideoCaptureNoFrames, "Frames timed out on default camera");
  } else {
    setStatus(status_codes::Error_VideoCaptureNoFrames,
              stringPrintf("Max retry count of %d reached", static_cast<int>(*retry_count_)));
  }
}

void ManagedDeviceVideoSource::onPropertyChange(bool first) {
  DeviceVideoSource::onPropertyChange(first);
  if (!takeReopenRequest()) return;
  if (*enabled_)
    reopenDevice();
  else
    closeDevice();
}

void ManagedDeviceVideoSource::reopenDevice() {
  closeDevice();
  openDevice();
}

void ManagedDeviceVideoSource::finalize() {
  closeDevice();
  DeviceVideoSource::finalize();
}

}  // namespace dravo::media
