#include "media_common/video/avi_sink.h"

#include "common/logging.h"

DRAVO_LOGGER("avi_sink");

namespace dravo::media {

ImageBuffer::FormatType aviSinkFormat(ImageBuffer::FormatType const& offered) {
  ImageBuffer::PixelFormat format = offered.pixel_format_;
  if (format != ImageBuffer::IMAGE_MJPEG && format != ImageBuffer::IMAGE_JPEG &&
      format != ImageBuffer::IMAGE_QV1)
    format = ImageBuffer::IMAGE_I420;
  ImageBuffer::FormatType proposed;
  proposed.width_ = offered.width_;
  proposed.height_ = offered.height_;
  proposed.pixel_format_ = format;
  ImageBuffer::setupDefaultPlanes(proposed);
  return proposed;
}

AVISink::AVISink() = default;

AVISink::~AVISink() { disconnect_all(); }

void AVISink::initialize() {
  Sink<ImageBuffer>::initialize();
  format_filter_.applyToPad(getInputPad());
  format_filter_.takeHandlerFromPad();
  format_filter_.setConstraint(&aviSinkFormat);
  filename_.bind(getPropertyChangeSignal(), getPropertyNode("filename"), std::string(),
                 "AVI file to record to; empty records nothing.");
  frame_rate_.bind(getPropertyChangeSignal(), getPropertyNode("frame_rate"), 0.0,
                   "Frame rate written into the file headers; 0 estimates it from the "
                   "frames' timestamps.");
}

void AVISink::onBuffer(std::shared_ptr<ImageBuffer const> const& frame) {
  if (*filename_ != opened_name_) {
    opened_name_ = *filename_;
    LOGF(4, "Recording to %s", opened_name_.c_str());
    writer_.openFile(opened_name_);
  }
  writer_.setFrameRate(*frame_rate_);
  writer_.writeFrame(frame);
}

void AVISink::finalize() {
  writer_.close();
  Element::finalize();
}

std::shared_ptr<Sink<ImageBuffer>> createAVISink(ElementArgs const& args) {
  return createElement<AVISink>(args);
}

}  // namespace dravo::media
