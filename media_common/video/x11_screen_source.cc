#include "media_common/video/x11_screen_source.h"

#include "common/logging.h"
#include "media_common/clock.h"
#include "media_common/video/image_buffer_cache.h"
#include "media_common/video/screencast_session.h"

DRAVO_LOGGER("x11_screen_source");

namespace dravo::media {

ScreenVideoSource::~ScreenVideoSource() {
  disconnect_all();
  loop_timer_.reset();
  screen_cast_.reset();
}

void ScreenVideoSource::getDisplays(std::vector<DisplayInfo>* monitors) {
  if (getScreenCaptureBackend() == ScreenCaptureBackend::PORTAL)
    getPortalDisplays(monitors);
  else
    media::getDisplays(monitors);
}

void ScreenVideoSource::getWindows(std::vector<WindowInfo>* windows) {
  if (getScreenCaptureBackend() == ScreenCaptureBackend::PORTAL)
    getPortalWindows(windows);
  else
    media::getWindows(windows);
}

void ScreenVideoSource::initialize() {
  VideoSource::initialize();
  window_.bind(getPropertyChangeSignal(), getPropertyNode("window"), std::string());
  active_.bind(getPropertyChangeSignal(), getPropertyNode("active"), false);
  active_.node()->setValue(PropertyValue(false));
  height_.node()->setValue(PropertyValue(0));
  width_.node()->setValue(PropertyValue(0));
  actual_fps_.node()->setValue(PropertyValue(0.0f));
  loop_clock_ = getSystemClock();
  loop_task_info_ = std::make_shared<SimpleTaskInfo>(getFullName() + " screenshotLoop");
  backend_ = getScreenCaptureBackend();
}

void ScreenVideoSource::finalize() { Element::finalize(); }

void ScreenVideoSource::onPropertyChange(bool first) {
  VideoSource::onPropertyChange(first);
  if (!*enabled_ || *active_ || window_->empty()) return;
  float const rate = *req_fps_ / 3.0f;
  if (!(rate > 0.0f)) return;  // no pictures asked for
  Duration const interval = Duration::fromSec(1.0 / rate);
  auto self = std::static_pointer_cast<ScreenVideoSource>(shared_from_this());
  loop_timer_ = std::make_shared<RepeatingTimer>(
      loop_clock_,
      scheduledWeakFunction(getScheduler(), Priority(*priority_, false), loop_task_info_,
                            bindWeak(self, &ScreenVideoSource::screenshotLoop)),
      interval);
}

void ScreenVideoSource::screenshotLoop() {
  LOGF(5, "screenshotLoop %s", getFullName().c_str());
  if (!grabScreenshot()) setInactive();
}

bool ScreenVideoSource::grabScreenshot() {
  if (!*enabled_ || window_->empty()) return false;
  std::shared_ptr<ImageBuffer> image;
  if (backend_ == ScreenCaptureBackend::PORTAL) {
    if (!takePortalPicture(&image)) return false;
    if (!image) return true;  // still waiting for the first picture
  } else {
    image = getScreenshot(*window_, Size(-1, -1), getStatus());
    if (!image) return false;
  }
  getActualFpsHistory()->add(1.0);
  width_.set(image->width());
  height_.set(image->height());
  active_.set(true);
  image->setStartTimestamp(getClock()->getTime());
  sendBuffer(image);
  return true;
}

bool ScreenVideoSource::takePortalPicture(std::shared_ptr<ImageBuffer>* image) {
  auto const type = parsePortalId(*window_);
  if (!type) {
    LOGF(2, "Selected a window that can't be parsed: %s", window_->c_str());
    return false;
  }
  if (!screen_cast_ || screen_cast_->type() != *type) {
    screen_cast_.reset();
    screen_cast_ = std::make_unique<ScreenCastSession>(*type);
    screen_cast_frames_ = 0;
  }
  ScreenCastSession::State const state = screen_cast_->state();
  if (state.ended) {
    getStatus()->setStatus(status_codes::Error_ScreenCaptureAPI, state.reason);
    return false;
  }
  if (!state.frame) return true;
  if (screen_cast_frames_ == 0 || getStatus()->isError())
    getStatus()->setStatus(status_codes::Ok, "Element Ok");
  screen_cast_frames_ = state.frames;
  // The same picture may go out again on the next tick: each send gets an
  // image of its own over the shared pixels.
  *image = ImageBufferCache::sharePixels(*state.frame);
  return true;
}

void ScreenVideoSource::setInactive() {
  loop_timer_.reset();
  screen_cast_.reset();
  active_.set(false);
  height_.set(0);
  width_.set(0);
  actual_fps_.set(0.0f);
}

std::shared_ptr<ScreenVideoSource> createScreenSource(ElementArgs const& args) {
  return createElement<ScreenVideoSource>(args);
}

}  // namespace dravo::media
