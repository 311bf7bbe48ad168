#pragma once
// PNMSink: a pipeline sink that saves every frame arriving on its input pad
// as a numbered raw PPM ("P6") picture, to look at pipeline output frame by
// frame.
//
// Properties (under the element's node): "prefix", empty by default. Frame
// n (counting every frame since the sink was made, from 0) is saved as
// "<prefix>_<n>.pnm" with n in at least five digits; while "prefix" is empty
// frames are counted but not saved. The input pad converts every frame to
// packed RGB24 of its own size. A file that cannot be created is logged on
// "pnm_sink" at level 2 and that frame is skipped.
//
// Threads: frames reach `onBuffer` as tasks on the element's scheduler, in
// step with the sink's clock. `saveBufferToFile` may be called on any thread.

#include <cstdint>
#include <memory>
#include <string>

#include "common/cached_property.h"
#include "media_common/element_args.h"
#include "media_common/pad_format_filter.h"
#include "media_common/sink_element.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/image_buffer_converter.h"

namespace dravo::media {

class PNMSink : public Sink<ImageBuffer> {
 public:
  PNMSink();
  ~PNMSink() override;

  // Writes `frame` to `filename` as a P6 picture: "P6\n<w> <h> 255\n", then
  // the rows of R, G, B bytes from top to bottom. A frame in another format
  // is converted to RGB24 first; false when nothing could be written.
  static bool saveBufferToFile(std::shared_ptr<ImageBuffer const> const& frame,
                               std::string const& filename);

 protected:
  void initialize() override;
  void onBuffer(std::shared_ptr<ImageBuffer const> const& frame) override;

  // Saves `frame` under the name for the current count, if "prefix" is set.
  void saveBuffer(std::shared_ptr<ImageBuffer const> const& frame);
  // Packed RGB24 of the offered size.
  static ImageBuffer::FormatType formatConstraintFunction(ImageBuffer::FormatType const& offered);

 private:
  CachedProperty<std::string> prefix_;
  int32_t counter_ = 0;
  PadFormatFilter<ImageBuffer, ImageBufferConverter> format_filter_;
};

std::shared_ptr<PNMSink> createPNMSink(ElementArgs const& args);

}  // namespace dravo::media
