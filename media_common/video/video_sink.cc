#include "media_common/video/video_sink.h"

#include <functional>
#include <sstream>

#include "common/logging.h"
#include "common/property_enum.h"

DRAVO_LOGGER("video");

namespace dravo::media {

ImageBuffer::FormatType videoSinkFormatConstraintFunction(const ImageBuffer::FormatType& offered,
                                                          Texture::Format format) {
  ImageBuffer::FormatType result;
  result.width_ = offered.width_;
  result.height_ = offered.height_;
  result.pixel_aspect_ = offered.pixel_aspect_;
  switch (format) {
    case Texture::FORMAT_APPL:
      result.pixel_format_ = ImageBuffer::IMAGE_PLATFORM_BUFFER;
      break;
    case Texture::FORMAT_RGB:
      result.pixel_format_ = ImageBuffer::IMAGE_RGB24;
      break;
    case Texture::FORMAT_I420:
      result.pixel_format_ = ImageBuffer::IMAGE_CONSTRAINED_I420;
      break;
    case Texture::FORMAT_BGR24:
    case Texture::FORMAT_BGRX32:
    case Texture::FORMAT_BGRA32:
      LOGF(1, "BGR formats not implemented");
      result.pixel_format_ = ImageBuffer::IMAGE_UNKNOWN;
      break;
    default:
      result.pixel_format_ = ImageBuffer::IMAGE_UNKNOWN;
      break;
  }
  ImageBuffer::setupDefaultPlanes(result);
  return result;
}

TextureVideoSink::~TextureVideoSink() { disconnect_all(); }

void TextureVideoSink::initialize() {
  Sink<ImageBuffer>::initialize();
  std::shared_ptr<PropertyNode> node = getPropertyNode("format");
  setPropertyEnumValues(node, {MetaEnumValue(PropertyValue(0), "APPL", "APPL"),
                               MetaEnumValue(PropertyValue(1), "RGB", "RGB"),
                               MetaEnumValue(PropertyValue(2), "I420", "I420")});
  format_.bind(getPropertyChangeSignal(), node, Texture::FORMAT_I420);
  input_filter_.applyToPad(getInputPad());
  input_filter_.takeHandlerFromPad();
}

void TextureVideoSink::onPropertyChange(bool first) {
  Sink<ImageBuffer>::onPropertyChange(first);
  Texture::Format const format = *format_;
  LOGF(5, "Texture format is now %i, property at %p, name %s", static_cast<int>(format),
       static_cast<void*>(format_.node().get()), format_.node()->getFullName().c_str());
  input_filter_.setConstraint([format](ImageBuffer::FormatType const& offered) {
    return videoSinkFormatConstraintFunction(offered, format);
  });
}

std::shared_ptr<Texture> TextureVideoSink::newTexture(const std::shared_ptr<ImageBuffer const>& img,
                                                      const TextureId& id) const {
  return std::make_shared<VideoSinkTexture>(img, id);
}

void TextureVideoSink::onBuffer(const std::shared_ptr<ImageBuffer const>& img) {
  TextureId id;
  if (auto event = std::static_pointer_cast<DrivingFeedbackEvent const>(
          img->getMetadataByTypeId(typeid(DrivingFeedbackEvent)))) {
    std::shared_ptr<DrivingFeedback> feedback = drivingFeedbackFromEvent(*event);
    LOGS(6) << "Got frame with feedback " << feedback->tag;
    id.setFeedback(feedback);
  }
  if (buffer_trace::isEnabled()) {
    LOGS_TO("buffer_trace", 5) << "Created texture from <" << img->getStartTimestamp() << ","
                               << img->getCreationTime() << "> with ID <TID_" << id << "> on "
                               << getFullName();
  }
  std::shared_ptr<Texture> texture = newTexture(img, id);
  if (buffer_trace::isEnabled()) buffer_trace::track(texture.get(), getInstInfo());
  texture_signal_(texture);

  std::shared_ptr<ProcessorResultsProto const> results;
  if (auto event = std::static_pointer_cast<ProcessorResultsEvent const>(
          img->getMetadataByTypeId(typeid(ProcessorResultsEvent)))) {
    if (logging::isLoggerEnabled("video", 6)) LOGS(6) << event->message().DebugString();
    results = std::shared_ptr<ProcessorResultsProto const>(event, &event->message());
  }
  processor_results_signal_(results);
}

bool TextureVideoSink::onDownstreamEvent(const std::shared_ptr<Event const>& event) {
  if (!dynamic_cast<DeviceOpeningEvent const*>(event.get())) return false;
  device_opening_signal_(event->getStartTimestamp());
  return true;
}

}  // namespace dravo::media
