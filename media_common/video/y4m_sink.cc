#include "media_common/video/y4m_sink.h"

#include <cmath>

#include "common/logging.h"
#include "common/string_util.h"
#include "media_common/video/avi_file_writer.h"
#include "media_common/video/avi_sink.h"

DRAVO_LOGGER("y4m_sink");

namespace dravo::media {

namespace {

// The bytes of all planes when they lie one after the other without row
// padding (the default I420 layout), so that one write stores the frame;
// 0 otherwise.
size_t packedSize(ImageBuffer const& frame) {
  auto const& planes = frame.planes();
  if (planes.empty()) return 0;
  int64_t next = planes[0].offset_;
  for (ImageBuffer::Plane const& plane : planes) {
    if (plane.offset_ != next || plane.stride_ != plane.width_ || plane.height_ < 0) return 0;
    next += int64_t{plane.stride_} * plane.height_;
  }
  return static_cast<size_t>(next - planes[0].offset_);
}

// The stream header's frame-rate field.
std::string rateField(double fps) {
  if (!(fps > 0) || !std::isfinite(fps)) return "30:1";
  FrameRate const rate = exactFrameRate(fps);
  return stringPrintf("%u:%u", rate.rate, rate.scale);
}

}  // namespace

Y4MSink::Y4MSink() = default;

Y4MSink::~Y4MSink() { disconnect_all(); }

ImageBuffer::FormatType Y4MSink::formatConstraintFunction(ImageBuffer::FormatType const& offered) {
  return image_format::defaultFormat(offered.width_, offered.height_, ImageBuffer::IMAGE_I420);
}

void Y4MSink::initialize() {
  Sink<ImageBuffer>::initialize();
  format_filter_.applyToPad(getInputPad());
  format_filter_.takeHandlerFromPad();
  format_filter_.setConstraint(&Y4MSink::formatConstraintFunction);
  filename_.bind(getPropertyChangeSignal(), getPropertyNode("filename"), std::string(),
                 "Y4M file to record to.");
  frame_rate_.bind(getPropertyChangeSignal(), getPropertyNode("frame_rate"), 0.0,
                   "Frame rate the stream header states (frames per second); 0 states 30.");
}

std::string Y4MSink::partName(int part) const {
  if (part == 0) return recording_name_;
  std::string const suffix = stringPrintf("_part%d", part);
  std::string const extension = File::extension(recording_name_);
  if (toLower(extension) != "y4m") return recording_name_ + suffix;
  size_t const stem = recording_name_.size() - extension.size() - 1;
  return recording_name_.substr(0, stem) + suffix + recording_name_.substr(stem);
}

void Y4MSink::resetFile(int width, int height) {
  f_.reset();
  std::string const name = partName(part_);
  f_ = File::open(name, File::kWrite);
  if (!f_) {
    LOGF(2, "Could not create file %s", name.c_str());
  } else {
    f_->write(stringPrintf("YUV4MPEG2 W%d H%d F%s Ip A1:1\n", width, height,
                           rateField(*frame_rate_).c_str()));
  }
  width_ = width;
  height_ = height;
}

void Y4MSink::onBuffer(std::shared_ptr<ImageBuffer const> const& frame) {
  int const width = frame->width();
  int const height = frame->height();
  if (!recording_ || *filename_ != recording_name_) {
    recording_ = true;
    recording_name_ = *filename_;
    part_ = 0;
    resetFile(width, height);
  } else if (!f_) {
    resetFile(width, height);
  } else if (width != width_ || height != height_) {
    // Reopening the same name would truncate what is recorded so far.
    ++part_;
    LOGF(4, "Frame size changed from %dx%d to %dx%d; continuing in %s", width_, height_, width,
         height, partName(part_).c_str());
    resetFile(width, height);
  }
  if (!f_) return;
  f_->write("FRAME\n", 6);
  if (size_t const packed = packedSize(*frame)) {
    f_->write(frame->getPixelAddress(0, 0, 0), packed);
    return;
  }
  for (int p = 0; p < static_cast<int>(frame->planes().size()); ++p) {
    ImageBuffer::Plane const& plane = frame->planes()[p];
    if (plane.width_ <= 0 || plane.height_ <= 0) continue;
    unsigned char const* first = frame->getPixelAddress(0, 0, p);
    if (plane.stride_ == plane.width_) {
      f_->write(first, static_cast<size_t>(plane.width_) * plane.height_);
      continue;
    }
    for (int y = 0; y < plane.height_; ++y)
      f_->write(first + static_cast<ptrdiff_t>(y) * plane.stride_, plane.width_);
  }
}

void Y4MSink::finalize() {
  f_.reset();
  Element::finalize();
}

std::shared_ptr<Y4MSink> createY4MSink(ElementArgs const& args) {
  return createElement<Y4MSink>(args);
}

std::shared_ptr<Sink<ImageBuffer>> createVideoFileSink(ElementArgs const& args,
                                                       std::string const& filename) {
  std::string const extension = toLower(File::extension(filename));
  ElementArgs named = args;
  named.property("filename", PropertyValue(filename));
  if (extension == "y4m") return createY4MSink(named);
  if (extension == "avi") return createAVISink(named);
  LOGF(2, "Unsupported extension %s for recording video.", extension.c_str());
  return nullptr;
}

}  // namespace dravo::media
