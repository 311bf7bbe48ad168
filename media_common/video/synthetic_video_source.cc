#include "media_common/video/synthetic_video_source.h"

#include "common/logging.h"
#include "common/status.h"
#include "common/string_util.h"
#include "media_common/clock.h"
#include "media_common/hardware_timestamp_event.h"
#include "media_common/video/image_buffer_util.h"
#include "media_common/video/synthetic_overlay.h"

DRAVO_LOGGER("video");

namespace dravo::media {

namespace {

// Each side of a frame is at most this many pixels: a bigger picture is a
// configuration error, not a test pattern worth allocating every tick.
constexpr int32_t kMaxSide = 16384;

bool isDrawableSize(int32_t width, int32_t height) {
  return width >= 0 && height >= 0 && width <= kMaxSide && height <= kMaxSide;
}

}  // namespace

SyntheticVideoSource::~SyntheticVideoSource() {
  disconnect_all();
  plasma_.reset();
  frame_timer_.reset();
}

void SyntheticVideoSource::initialize() {
  Source<ImageBuffer>::initialize();
  req_width_.bind(getPropertyChangeSignal(), getPropertyNode("req_width"), 640);
  req_height_.bind(getPropertyChangeSignal(), getPropertyNode("req_height"), 480);
  req_fps_.bind(getPropertyChangeSignal(), getPropertyNode("req_fps"), 30.0);
  clock_ = initializeClockProperty("clock", getSystemClock());
  device_.bind(getPropertyChangeSignal(), getPropertyNode("device"), std::string());
  width_ = getPropertyNode("width");
  width_->setMeta("help", PropertyValue("Actual width."));
  width_->setDefaultValue(PropertyValue(640));
  height_ = getPropertyNode("height");
  height_->setMeta("help", PropertyValue("Actual height."));
  height_->setDefaultValue(PropertyValue(480));
  fps_ = getPropertyNode("fps");
  fps_->setMeta("help", PropertyValue("Actual frame rate (frames per second)."));
  fps_->setDefaultValue(PropertyValue(30.0));
  easy_to_compress_.bind(getPropertyChangeSignal(), getPropertyNode("easy_to_compress"), false,
                         "Indicates to use an easy to compress plasma.");

  plasma_ = std::make_shared<Plasma>();

  auto self = std::static_pointer_cast<SyntheticVideoSource>(shared_from_this());
  auto info = std::make_shared<SimpleTaskInfo>(getFullName() + " frame timer");
  frame_timer_ = std::make_shared<RepeatingTimer>(
      clock_,
      scheduledWeakFunction(getScheduler(), Priority(0, false), info,
                            bindWeak(self, &SyntheticVideoSource::onTimer)),
      Duration());
}

void SyntheticVideoSource::onPropertyChange(bool first) {
  Source<ImageBuffer>::onPropertyChange(first);
  if (req_fps_.changed()) {
    double const seconds = *req_fps_ > 0 ? 1.0 / *req_fps_ : -1.0;
    frame_timer_->setInterval(Duration::fromSec(seconds));
  }
  plasma_->setEasy(*easy_to_compress_);
  if (req_width_.changed() || req_height_.changed()) checkRequestedSize();
  width_->setValue(PropertyValue(*req_width_));
  height_->setValue(PropertyValue(*req_height_));
  fps_->setValue(PropertyValue(*req_fps_));
}

void SyntheticVideoSource::checkRequestedSize() {
  if (isDrawableSize(*req_width_, *req_height_)) {
    if (!size_drawable_) setStatus(status_codes::Ok, std::string());
    size_drawable_ = true;
    return;
  }
  size_drawable_ = false;
  std::string const message =
      stringPrintf("Frame size out of range: %dx%d", *req_width_, *req_height_);
  LOGS(2) << getFullName() << ": " << message;
  setStatus(status_codes::Error_Unknown, message);
}

void SyntheticVideoSource::onTimer() {
  if (!size_drawable_) return;
  auto frame = std::make_shared<ImageBuffer>(*req_width_, *req_height_, ImageBuffer::IMAGE_I420);
  synthetic_overlay::neutraliseChromaEdges(frame.get());
  plasma_->draw(frame.get());

  double const seconds = static_cast<double>(clock_->getTime().toNSec()) / 1e9;
  ImageBufferUtil::writeString(frame.get(), 0, 8,
                               stringPrintf("Frame %06d. %dx%d %.2f", frame_counter_,
                                            frame->width(), frame->height(), seconds));
  synthetic_overlay::drawColourBars(frame.get());
  ++frame_counter_;

  frame->setStartTimestamp(clock_->getTime());
  frame->appendEventToMetadata(std::make_shared<HardwareTimestampEvent>(Time::now()));
  sendBuffer(frame);
}

std::shared_ptr<Source<ImageBuffer>> createSyntheticVideoSource(ElementArgs const& args) {
  return createElement<SyntheticVideoSource>(args);
}

}  // namespace dravo::media
