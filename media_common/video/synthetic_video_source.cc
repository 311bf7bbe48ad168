#include "media_common/video/synthetic_video_source.h"

#include <algorithm>
#include <cstring>

#include "common/logging.h"
#include "common/string_util.h"
#include "media_common/clock.h"
#include "media_common/hardware_timestamp_event.h"
#include "media_common/video/image_buffer_util.h"

DRAVO_LOGGER("video");

namespace dravo::media {
namespace {

struct ColourBar {
  uint8_t y;
  uint8_t u;
  uint8_t v;
};

constexpr ColourBar kBars[8] = {
    {76, 85, 255},   // red
    {149, 43, 21},   // green
    {29, 255, 107},  // blue
    {225, 0, 148},   // yellow
    {178, 171, 0},   // cyan
    {105, 212, 234}, // magenta
    {0, 128, 128},   // black
    {255, 128, 128}, // white
};
constexpr int kBarWidth = 32;
constexpr int kBarHeight = 8;

// Sets the rows [first, end) of columns [x0, x0 + count) of `plane` to
// `value`, clipped to the plane.
void fillPlane(ImageBuffer* frame, int plane, int x0, int first, int count, int end,
               uint8_t value) {
  ImageBuffer::Plane const& p = frame->planes()[plane];
  int const x1 = std::min(x0 + count, p.width_);
  int const y1 = std::min(end, p.height_);
  if (x0 >= x1) return;
  for (int y = first; y < y1; ++y)
    std::memset(frame->data() + p.offset_ + static_cast<ptrdiff_t>(y) * p.stride_ + x0, value,
                static_cast<size_t>(x1 - x0));
}

// The strip of eight bars across the top eight rows; whatever lies outside
// a small frame is left out.
void drawColourBars(ImageBuffer* frame) {
  if (frame->planes().size() != 3 || !frame->data()) return;
  for (int i = 0; i < 8; ++i) {
    int const x0 = i * kBarWidth;
    int const x1 = x0 + kBarWidth;
    fillPlane(frame, 0, x0, 0, x1 - x0, kBarHeight, kBars[i].y);
    fillPlane(frame, 1, x0 / 2, 0, (x1 - x0) / 2, kBarHeight / 2, kBars[i].u);
    fillPlane(frame, 2, x0 / 2, 0, (x1 - x0) / 2, kBarHeight / 2, kBars[i].v);
  }
}

// Odd sizes leave chroma samples outside every whole 2x2 block; the plasma
// never writes them, so they start out neutral instead of undefined.
void clearChromaEdges(ImageBuffer* frame) {
  if (frame->planes().size() != 3 || !frame->data()) return;
  if (frame->width() % 2 == 0 && frame->height() % 2 == 0) return;
  for (int plane = 1; plane <= 2; ++plane) {
    ImageBuffer::Plane const& p = frame->planes()[plane];
    fillPlane(frame, plane, 0, 0, p.width_, p.height_, 128);
  }
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
  width_->setValue(PropertyValue(*req_width_));
  height_->setValue(PropertyValue(*req_height_));
  fps_->setValue(PropertyValue(*req_fps_));
}

void SyntheticVideoSource::onTimer() {
  auto frame = std::make_shared<ImageBuffer>(*req_width_, *req_height_, ImageBuffer::IMAGE_I420);
  clearChromaEdges(frame.get());
  plasma_->draw(frame.get());

  double const seconds = static_cast<double>(clock_->getTime().toNSec()) / 1e9;
  ImageBufferUtil::writeString(frame.get(), 0, 8,
                               stringPrintf("Frame %06d. %dx%d %.2f", frame_counter_,
                                            frame->width(), frame->height(), seconds));
  drawColourBars(frame.get());
  ++frame_counter_;

  frame->setStartTimestamp(clock_->getTime());
  frame->appendEventToMetadata(std::make_shared<HardwareTimestampEvent>(Time::now()));
  sendBuffer(frame);
}

std::shared_ptr<Source<ImageBuffer>> createSyntheticVideoSource(ElementArgs const& args) {
  return createElement<SyntheticVideoSource>(args);
}

}  // namespace dravo::media
