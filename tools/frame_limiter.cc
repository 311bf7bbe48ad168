#include "tools/frame_limiter.h"

#include <algorithm>

#include "common/logging.h"
#include "media_common/task_info.h"

DRAVO_LOGGER("media_tool");

namespace dravo::tool {

FrameLimiter::~FrameLimiter() { disconnect_all(); }

void FrameLimiter::setLimits(int64_t max_frames, Duration max_span) {
  max_frames_ = max_frames;
  max_span_ = max_span;
}

void FrameLimiter::requestFinish() {
  if (finish_requested_.exchange(true)) return;
  if (finish_requested_callback_) finish_requested_callback_();
  // Ahead of everything a busy pipeline queues, so the seal itself is never
  // kept waiting; frames sent before it still reach the sink first.
  auto self = std::static_pointer_cast<FrameLimiter>(shared_from_this());
  getScheduler()->schedule(bindWeak(self, &FrameLimiter::seal), media::Priority::highest(),
                           std::make_shared<media::SimpleTaskInfo>(getFullName() + " seal"));
}

void FrameLimiter::seal() {
  if (passed_.load() == 0) {
    finish();
    return;
  }
  auto self = std::static_pointer_cast<FrameLimiter>(shared_from_this());
  getScheduler()->schedule(bindWeak(self, &FrameLimiter::finish),
                           media::Priority(lowest_passed_level_, latest_passed_creation_),
                           std::make_shared<media::SimpleTaskInfo>(getFullName() + " finish"));
}

void FrameLimiter::finish() {
  if (finished_.exchange(true)) return;
  LOGF(4, "%s finished after %lld frames", getFullName().c_str(),
       static_cast<long long>(passed_.load()));
  if (finished_callback_) finished_callback_();
}

void FrameLimiter::onBuffer(std::shared_ptr<media::ImageBuffer const> const& frame) {
  if (!frame) return;
  if (finish_requested_.load()) {
    ++dropped_;
    return;
  }
  if (!have_first_) {
    have_first_ = true;
    first_stamp_ = frame->getStartTimestamp();
  } else if (max_span_ != Duration::max() &&
             frame->getStartTimestamp() - first_stamp_ >= max_span_) {
    ++dropped_;
    requestFinish();
    return;
  }
  bool const first_passed = passed_.load() == 0;
  lowest_passed_level_ =
      first_passed ? frame->getPriority() : std::min(lowest_passed_level_, frame->getPriority());
  latest_passed_creation_ = first_passed
                                ? frame->getCreationTime()
                                : std::max(latest_passed_creation_, frame->getCreationTime());
  sendBuffer(frame);
  int64_t const passed = ++passed_;
  if (frame_callback_) frame_callback_(passed);
  if (max_frames_ >= 0 && passed >= max_frames_) requestFinish();
}

}  // namespace dravo::tool
