#include "tools/frame_keeper.h"

namespace dravo::tool {

FrameKeeper::~FrameKeeper() { disconnect_all(); }

std::shared_ptr<media::ImageBuffer const> FrameKeeper::last() const {
  std::lock_guard lock(mutex_);
  return last_;
}

int64_t FrameKeeper::count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

void FrameKeeper::onBuffer(std::shared_ptr<media::ImageBuffer const> const& frame) {
  std::lock_guard lock(mutex_);
  last_ = frame;
  ++count_;
}

}  // namespace dravo::tool
