#include "tools/frame_scaler.h"

#include "common/logging.h"
#include "media_common/video/image_buffer_converter.h"

DRAVO_LOGGER("media_tool");

namespace dravo::tool {

FrameScaler::~FrameScaler() { disconnect_all(); }

void FrameScaler::onBuffer(std::shared_ptr<media::ImageBuffer const> const& frame) {
  if (!frame) return;
  ++received_;
  media::ImageBuffer::FormatType target;
  target.width_ = std::min(width_, frame->width());
  target.height_ = std::min(height_, frame->height());
  target.pixel_format_ = media::ImageBuffer::IMAGE_I420;
  media::ImageBuffer::setupDefaultPlanes(target);
  auto scaled = media::ImageBufferConverter::easyConvert(target, frame);
  if (!scaled) {
    LOGF(3, "%s: cannot scale a %dx%d frame", getFullName().c_str(), frame->width(),
         frame->height());
    return;
  }
  sendBuffer(scaled);
  ++sent_;
}

}  // namespace dravo::tool
