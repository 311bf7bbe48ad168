#pragma once
// AVISink: a pipeline sink that records the frames arriving on its input pad
// into AVI files through an AVIFileWriter.
//
// Properties (under the element's node): "filename", empty by default. While
// it is empty nothing is recorded; setting a name starts a new recording
// under it with the next frame (part files the writer creates for format
// changes do not restart it). "frame_rate", 0 by default: a positive value
// is written into the headers of the files the sink completes, exactly
// (29.97 as 30000/1001); 0 or less lets the writer estimate the rate from
// the frames' timestamps. Frames arrive as I420, or unchanged when they
// are "MJPG", "JPEG" or "QV1 ": the input pad converts everything else.
//
// Threads: frames reach `onBuffer` as tasks on the element's scheduler, in
// step with the sink's clock; the writer is used only there and is closed by
// `finalize`.

#include <memory>
#include <string>

#include "common/cached_property.h"
#include "media_common/element_args.h"
#include "media_common/pad_format_filter.h"
#include "media_common/sink_element.h"
#include "media_common/video/avi_file_writer.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/image_buffer_converter.h"

namespace dravo::media {

class AVISink : public Sink<ImageBuffer> {
 public:
  AVISink();
  ~AVISink() override;

 protected:
  void initialize() override;
  void onBuffer(std::shared_ptr<ImageBuffer const> const& frame) override;
  void finalize() override;

 private:
  CachedProperty<std::string> filename_;
  CachedProperty<double> frame_rate_;
  PadFormatFilter<ImageBuffer, ImageBufferConverter> format_filter_;
  AVIFileWriter writer_;
  // The name last passed to the writer's openFile.
  std::string opened_name_;
};

// The format an AVISink accepts for an offered one: the same size, in I420
// unless the frame is "MJPG", "JPEG" or "QV1 ".
ImageBuffer::FormatType aviSinkFormat(ImageBuffer::FormatType const& offered);

std::shared_ptr<Sink<ImageBuffer>> createAVISink(ElementArgs const& args);

}  // namespace dravo::media
