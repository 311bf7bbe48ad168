#pragma once
// FrameScaler: shrinks every frame to a fixed size (I420), keeping its
// timing, priority and metadata. Frames already at that size, or smaller,
// pass at their own size: the library's resize only shrinks.
//
// Owner: the pipeline runner. Threads: frames arrive and leave on the
// element's scheduler; the size is set before frames flow; the counters
// may be read from any thread.

#include <atomic>
#include <cstdint>
#include <memory>

#include "media_common/filter_element.h"
#include "media_common/video/image_buffer.h"

namespace dravo::tool {

class FrameScaler : public media::FilterElement<media::ImageBuffer, media::ImageBuffer> {
 public:
  FrameScaler(int width, int height) : width_(width), height_(height) {}
  ~FrameScaler() override;

  int width() const { return width_; }
  int height() const { return height_; }
  int64_t received() const { return received_.load(); }
  int64_t sent() const { return sent_.load(); }

 protected:
  void onBuffer(std::shared_ptr<media::ImageBuffer const> const& frame) override;

 private:
  int const width_;
  int const height_;
  std::atomic<int64_t> received_{0};
  std::atomic<int64_t> sent_{0};
};

}  // namespace dravo::tool
