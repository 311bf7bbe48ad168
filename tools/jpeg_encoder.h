#pragma once
// JpegEncoder: compresses every frame into a Motion-JPEG frame at a fixed
// quality with the library's JPEG conversion, for `--codec mjpeg`. Frames
// of any convertible format are taken to I420 first; the result keeps the
// frame's timing, priority and metadata and is labelled IMAGE_MJPEG, which
// the AVI sink stores as an "MJPG" stream.
//
// Owner: the pipeline runner. Threads: frames arrive and leave on the
// element's scheduler; the counters may be read from any thread.

#include <atomic>
#include <cstdint>
#include <memory>

#include "media_common/filter_element.h"
#include "media_common/video/image_buffer.h"

namespace dravo::tool {

class JpegEncoder : public media::FilterElement<media::ImageBuffer, media::ImageBuffer> {
 public:
  // `quality` from 1 (smallest) to 100 (best).
  explicit JpegEncoder(int quality) : quality_(quality) {}
  ~JpegEncoder() override;

  int quality() const { return quality_; }
  int64_t received() const { return received_.load(); }
  int64_t sent() const { return sent_.load(); }
  // Bytes of compressed frames sent.
  int64_t bytes() const { return bytes_.load(); }

 protected:
  void onBuffer(std::shared_ptr<media::ImageBuffer const> const& frame) override;

 private:
  int const quality_;
  std::atomic<int64_t> received_{0};
  std::atomic<int64_t> sent_{0};
  std::atomic<int64_t> bytes_{0};
};

}  // namespace dravo::tool
