#include "media_common/video/video_processor.h"

#include "common/check.h"
#include "common/logging.h"

DRAVO_LOGGER("video_processor");

namespace dravo::media {

VideoProcessor::~VideoProcessor() { disconnect_all(); }

void VideoProcessor::setParameters(const std::string& name,
                                   const std::shared_ptr<VideoProcessorHook>& hook) {
  stream_name_ = name;
  hook_ = hook;
  if (name == "video")
    stream_kind_ = 2;
  else if (name == "nav_video")
    stream_kind_ = 1;
  else
    stream_kind_ = 0;
}

void VideoProcessor::initialize() {
  FilterElement<ImageBuffer, ImageBuffer>::initialize();
  input_filter_.applyToPad(getInputPad());
  input_filter_.takeHandlerFromPad();
  input_filter_.setConstraint([](ImageBuffer::FormatType const& offered) {
    return image_format::defaultFormat(offered.width_, offered.height_,
                                       ImageBuffer::IMAGE_ALIGNED_I420);
  });
}

void VideoProcessor::convertImage(const std::shared_ptr<ImageBuffer const>& buff,
                                  ProcessorRequest* request) const {
  DRAVO_CHECK(buff->format().pixel_format_ == ImageBuffer::IMAGE_ALIGNED_I420);
  request->stream_kind = stream_kind_;
  size_t const planes = std::min<size_t>(buff->planes().size(), 3);
  for (size_t p = 0; p < planes; ++p) {
    ImageBuffer::Plane const& plane = buff->planes()[p];
    ProcessorPlane& out = request->planes[p];
    out.width = plane.width_;
    out.height = plane.height_;
    out.stride = plane.stride_;
    out.data = buff->getPixelAddress(0, 0, static_cast<int>(p));
    out.timestamp = buff->getStartTimestamp();
  }
}

void VideoProcessor::onBuffer(const std::shared_ptr<ImageBuffer const>& img) {
  LOGF(5, "VideoProcessor::onBuffer");
  auto copy = std::make_shared<ImageBuffer>(*img);
  if (hook_ && stream_kind_ != 0) {
    ProcessorRequest request;
    convertImage(img, &request);
    hook_->signal_(request);
    if (request.results.ByteSizeLong() > 0)
      copy->appendEventToMetadata(std::make_shared<ProcessorResultsEvent>(request.results));
  }
  SourceMixin<ImageBuffer>::sendBuffer(copy);
}

}  // namespace dravo::media
