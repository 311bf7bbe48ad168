#include "media_common/video/pnm_sink.h"

#include "common/file.h"
#include "common/logging.h"
#include "common/string_util.h"

DRAVO_LOGGER("pnm_sink");

namespace dravo::media {

PNMSink::PNMSink() = default;

PNMSink::~PNMSink() { disconnect_all(); }

ImageBuffer::FormatType PNMSink::formatConstraintFunction(ImageBuffer::FormatType const& offered) {
  return image_format::defaultFormat(offered.width_, offered.height_, ImageBuffer::IMAGE_RGB24);
}

void PNMSink::initialize() {
  Sink<ImageBuffer>::initialize();
  format_filter_.applyToPad(getInputPad());
  format_filter_.takeHandlerFromPad();
  format_filter_.setConstraint(&PNMSink::formatConstraintFunction);
  prefix_.bind(getPropertyChangeSignal(), getPropertyNode("prefix"), std::string(),
               "Name prefix of the saved pictures; empty saves nothing.");
}

void PNMSink::onBuffer(std::shared_ptr<ImageBuffer const> const& frame) {
  saveBuffer(frame);
  ++counter_;
}

void PNMSink::saveBuffer(std::shared_ptr<ImageBuffer const> const& frame) {
  if (prefix_->empty()) return;
  saveBufferToFile(frame, stringPrintf("%s_%05d.pnm", prefix_->c_str(), counter_));
}

bool PNMSink::saveBufferToFile(std::shared_ptr<ImageBuffer const> const& frame,
                               std::string const& filename) {
  if (!frame) return false;
  // The pad hands over RGB24 already; a frame given directly may be anything.
  std::shared_ptr<ImageBuffer const> rgb = frame;
  if (frame->format().pixel_format_ != ImageBuffer::IMAGE_RGB24)
    rgb = ImageBufferConverter::easyConvert(ImageBuffer::IMAGE_RGB24, frame);
  if (!rgb || rgb->planes().empty() || rgb->width() < 0 || rgb->height() < 0) {
    LOGF(3, "No RGB24 picture to save as %s", filename.c_str());
    return false;
  }
  std::shared_ptr<File> f = File::open(filename, File::kWrite);
  if (!f) {
    LOGF(2, "Could not create file %s", filename.c_str());
    return false;
  }
  bool ok = f->write(stringPrintf("P6\n%d %d 255\n", rgb->width(), rgb->height()));
  size_t const row_bytes = static_cast<size_t>(rgb->width()) * 3;
  int const stride = rgb->planes()[0].stride_;
  if (static_cast<size_t>(stride) == row_bytes) {
    ok = ok && f->write(rgb->getPixelAddress(0, 0, 0), row_bytes * rgb->height());
  } else {
    for (int y = 0; y < rgb->height() && ok; ++y)
      ok = f->write(rgb->getPixelAddress(0, y, 0), row_bytes);
  }
  return ok;
}

std::shared_ptr<PNMSink> createPNMSink(ElementArgs const& args) {
  return createElement<PNMSink>(args);
}

}  // namespace dravo::media
