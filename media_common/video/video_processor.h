#pragma once
// A pass-through filter that lets an analysis component look at every frame
// and attach its findings to it.
//
// `VideoProcessor` accepts aligned I420 (its input converts whatever comes
// to IMAGE_ALIGNED_I420) and sends every frame on unchanged. For frames of a
// known stream ("video" or "nav_video", given to `setParameters`) it first
// emits the hook's signal with a `ProcessorRequest`: read-only views of the
// Y, U and V planes and an empty `results` message. Results the slots wrote
// are attached to the outgoing frame as a `ProcessorResultsEvent`.
//
// Owner: whoever created it with `createElement<VideoProcessor>`; the hook
// is shared with the analysis side. Threads: `onBuffer` runs on the
// element's scheduler and the hook's slots run synchronously there; they
// must not keep the plane pointers after returning. `setParameters` is
// meant to be called before frames flow.

#include <array>
#include <memory>
#include <string>

#include "common/sigslot.h"
#include "common/time.h"
#include "media_common/filter_element.h"
#include "media_common/media_events.h"
#include "media_common/pad_format_filter.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/image_buffer_converter.h"

namespace dravo::media {

// One plane of the analysed frame; `data` stays valid only during the call.
struct ProcessorPlane {
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;
  unsigned char const* data = nullptr;
  Time timestamp;  // the frame's start timestamp
};

// What the hook's slots receive: which stream, the planes Y, U, V in this
// order, and the message to fill.
struct ProcessorRequest {
  int32_t stream_kind = 0;
  std::array<ProcessorPlane, 3> planes;
  ProcessorResultsProto results;
};

// The analysis side's entry point: slots connected to `signal_` run in
// connection order for each frame and may write `request.results`.
class VideoProcessorHook {
 public:
  virtual ~VideoProcessorHook() = default;

  sigslot::signal1<ProcessorRequest&, sigslot::multi_threaded_local> signal_;
};

class VideoProcessor : public FilterElement<ImageBuffer, ImageBuffer> {
 public:
  VideoProcessor() = default;
  ~VideoProcessor() override;

  // The stream's name decides whether frames are analysed: "video" (kind 2)
  // and "nav_video" (kind 1) are, any other name (kind 0) is not. A null hook
  // analyses nothing.
  void setParameters(const std::string& name, const std::shared_ptr<VideoProcessorHook>& hook);

 protected:
  void initialize() override;
  void onBuffer(const std::shared_ptr<ImageBuffer const>& img) override;

  // Fills the stream kind and plane views of `request` from `buff`.
  void convertImage(const std::shared_ptr<ImageBuffer const>& buff,
                    ProcessorRequest* request) const;

 private:
  PadFormatFilter<ImageBuffer, ImageBufferConverter> input_filter_;
  std::string stream_name_;
  int32_t stream_kind_ = 0;
  std::shared_ptr<VideoProcessorHook> hook_;
};

}  // namespace dravo::media
