#pragma once
// Shared pieces of the video element tests: a sink that keeps every frame it
// gets, and a caption check.

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media_common/sink_mixin.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/image_buffer_util.h"

namespace dravo::media::video_testing {

// Keeps the frames that reach its input, in arrival order. A source lets
// only two frames live downstream: clear() before asking for a third. Frames arrive on
// the element's scheduler; the test reads them under the lock.
class FrameCollector : public Element, public SinkMixin<ImageBuffer> {
 public:
  ~FrameCollector() override { disconnect_all(); }

  std::vector<std::shared_ptr<ImageBuffer const>> frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }
  // Lets the frames go, and with them the source's tokens.
  void clear() {
    std::lock_guard lock(mutex_);
    frames_.clear();
  }
  size_t count() {
    std::lock_guard lock(mutex_);
    return frames_.size();
  }

 protected:
  void initialize() override {
    Element::initialize();
    SinkMixin<ImageBuffer>::initialize();
  }
  void onBuffer(std::shared_ptr<ImageBuffer const> const& frame) override {
    std::lock_guard lock(mutex_);
    frames_.push_back(frame);
  }

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<ImageBuffer const>> frames_;
};

// True when luma rows [8, 24) of `frame` over the caption's width show
// `caption` as `ImageBufferUtil::writeString` draws it.
inline bool showsCaption(ImageBuffer const& frame, std::string const& caption) {
  ImageBuffer expected(frame.width(), frame.height(), ImageBuffer::IMAGE_I420);
  ImageBufferUtil::writeString(&expected, 0, 8, caption);
  int const width = std::min<int>(static_cast<int>(caption.size()), frame.width() / 8) * 8;
  for (int y = 8; y < std::min(24, frame.height()); ++y)
    for (int x = 0; x < width; ++x)
      if (*frame.getPixelAddress(x, y, 0) != *expected.getPixelAddress(x, y, 0)) return false;
  return true;
}

}  // namespace dravo::media::video_testing
