#pragma once
// Shared pieces of the screen capture tests: a sink that keeps the newest
// frame, a wait for what the source's threads change, and pixel reading.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "media_common/sink_mixin.h"
#include "media_common/video/image_buffer.h"

namespace dravo::media::video_testing {

// The colour at (x, y) of a BGRX picture as 0xRRGGBB.
inline uint32_t rgbAt(ImageBuffer const& image, int x, int y) {
  uint8_t const* pixel = image.getPixelAddress(x * 4, y, 0);
  return uint32_t{pixel[2]} << 16 | uint32_t{pixel[1]} << 8 | pixel[0];
}

// True once `condition` holds; false after a generous time-out.
inline bool eventually(std::function<bool()> const& condition) {
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Keeps the newest frame, releasing the one before (a source lets only
// two live downstream), and counts them all. Frames arrive on the
// element's scheduler; the test waits on the condition.
class NewestFrameSink : public Element, public SinkMixin<ImageBuffer> {
 public:
  ~NewestFrameSink() override { disconnect_all(); }

  // The colour at (x, y) of a BGRX picture as 0xRRGGBB.
  inline uint32_t rgbAt(ImageBuffer const& image, int x, int y) {
    uint8_t const* pixel = image.getPixelAddress(x * 4, y, 0);
    return uint32_t{pixel[2]} << 16 | uint32_t{pixel[1]} << 8 | pixel[0];
  }

  // True once `condition` holds (checked at each frame); false after a
  // generous time-out.
  bool waitFor(std::function<bool(ImageBuffer const& newest, int count)> const& condition) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30),
                             [&] { return newest_ && condition(*newest_, count_); });
  }
  bool waitForCount(int count) {
    return waitFor([&](ImageBuffer const&, int n) { return n >= count; });
  }
  int count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 protected:
  void initialize() override {
    Element::initialize();
    SinkMixin<ImageBuffer>::initialize();
  }
  void onBuffer(std::shared_ptr<ImageBuffer const> const& frame) override {
    std::lock_guard lock(mutex_);
    newest_ = frame;
    ++count_;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::shared_ptr<ImageBuffer const> newest_;
  int count_ = 0;
};

}  // namespace dravo::media::video_testing
