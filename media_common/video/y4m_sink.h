#pragma once
// Y4MSink: a pipeline sink that records the frames arriving on its input pad
// into a YUV4MPEG2 ("Y4M") file of raw I420 frames.
//
// Properties (under the element's node): "filename", empty by default. The
// file is created (or replaced) with the first frame after each change of the
// name. "frame_rate", 0 by default: while it is not a positive number the
// stream header states "F30:1", whatever the real rate; set, the header
// carries it as the exact fraction the AVI headers use too (29.97 as
// 30000:1001, see `exactFrameRate`), read when a file is started. The
// header always ends "Ip A1:1". The input pad converts every frame to packed
// I420 of its own size.
//
// Frame-size changes. One Y4M stream has one size, so a frame of another
// size continues the recording in a part file: for "rec.y4m" the parts are
// "rec_part1.y4m", "rec_part2.y4m", ...; a name without ".y4m" gets the
// suffix appended ("clip_part1"). What was recorded before stays in the
// earlier file, and each switch is logged at level 4.
//
// A file that cannot be created is logged ("Could not create file <name>" on
// "y4m_sink", level 2) and frames are dropped; each following frame tries
// again. With an empty name every frame fails that way.
//
// Threads: frames reach `onBuffer` as tasks on the element's scheduler, in
// step with the sink's clock; the file is used only there and is closed by
// `finalize`.

#include <cstdint>
#include <memory>
#include <string>

#include "common/cached_property.h"
#include "common/file.h"
#include "media_common/element_args.h"
#include "media_common/pad_format_filter.h"
#include "media_common/sink_element.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/image_buffer_converter.h"

namespace dravo::media {

class Y4MSink : public Sink<ImageBuffer> {
 public:
  Y4MSink();
  ~Y4MSink() override;

 protected:
  void initialize() override;
  void onBuffer(std::shared_ptr<ImageBuffer const> const& frame) override;
  void finalize() override;

  // Closes the open file and starts a new stream of `width` x `height` in
  // the file the recording is due to continue in.
  void resetFile(int width, int height);
  // Packed I420 of the offered size.
  static ImageBuffer::FormatType formatConstraintFunction(ImageBuffer::FormatType const& offered);

 private:
  // The name of part `part` of the recording under `recording_name_`.
  std::string partName(int part) const;

  int32_t width_ = -1;
  int32_t height_ = -1;
  std::shared_ptr<File> f_;
  CachedProperty<std::string> filename_;
  CachedProperty<double> frame_rate_;
  PadFormatFilter<ImageBuffer, ImageBufferConverter> format_filter_;
  // The "filename" the current recording was started with, its current part
  // (0 for the file of that name itself) and whether any recording started.
  std::string recording_name_;
  int32_t part_ = 0;
  bool recording_ = false;
};

std::shared_ptr<Y4MSink> createY4MSink(ElementArgs const& args);

// A Y4M sink for a name ending in ".y4m", an AVI sink for ".avi" (in any
// case), recording to `filename`; null, logged, for anything else.
std::shared_ptr<Sink<ImageBuffer>> createVideoFileSink(ElementArgs const& args,
                                                       std::string const& filename);

}  // namespace dravo::media
