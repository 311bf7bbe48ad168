#pragma once
// FrameKeeper: a sink that keeps the newest frame it was given and counts
// them, for `media-tool snapshot`.
//
// Owner: the snapshot command. Threads: frames arrive on the element's
// scheduler; `last` may be called from any thread.

#include <cstdint>
#include <memory>
#include <mutex>

#include "media_common/sink_element.h"
#include "media_common/video/image_buffer.h"

namespace dravo::tool {

class FrameKeeper : public media::Sink<media::ImageBuffer> {
 public:
  ~FrameKeeper() override;
  std::shared_ptr<media::ImageBuffer const> last() const;
  // Frames given so far.
  int64_t count() const;

 protected:
  void onBuffer(std::shared_ptr<media::ImageBuffer const> const& frame) override;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<media::ImageBuffer const> last_;
  int64_t count_ = 0;
};

}  // namespace dravo::tool
