#include "tools/jpeg_encoder.h"

#include "common/logging.h"
#include "media_common/video/image_buffer_converter.h"
#include "media_common/video/image_conversion_functions.h"

DRAVO_LOGGER("media_tool");

namespace dravo::tool {

JpegEncoder::~JpegEncoder() { disconnect_all(); }

void JpegEncoder::onBuffer(std::shared_ptr<media::ImageBuffer const> const& frame) {
  if (!frame) return;
  ++received_;
  auto const i420 = media::ImageBufferConverter::easyConvert(media::ImageBuffer::IMAGE_I420, frame);
  auto const jpeg = i420 ? media::image_conversion::compressI420ToJpeg(i420, quality_) : nullptr;
  if (!jpeg) {
    LOGF(3, "%s: cannot compress a %dx%d frame", getFullName().c_str(), frame->width(),
         frame->height());
    return;
  }
  // The same bytes, labelled as a frame of a Motion-JPEG stream; a JPEG
  // with its own tables is a valid one.
  auto mjpeg = std::make_shared<media::ImageBuffer>(jpeg->width(), jpeg->height(),
                                                    media::ImageBuffer::IMAGE_MJPEG, jpeg->data(),
                                                    jpeg, jpeg->size());
  mjpeg->copyMetadata(*frame);
  bytes_ += jpeg->size();
  sendBuffer(mjpeg);
  ++sent_;
}

}  // namespace dravo::tool
