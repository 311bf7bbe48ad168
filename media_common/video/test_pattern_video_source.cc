#include "media_common/video/test_pattern_video_source.h"

#include "common/logging.h"
#include "common/string_util.h"
#include "media_common/video/image_buffer_util.h"
#include "media_common/video/synthetic_overlay.h"
#include "media_common/video/synthetic_video_source.h"

DRAVO_LOGGER("video_source");

namespace dravo::media {

TestPatternVideoSource::~TestPatternVideoSource() { disconnect_all(); }

void TestPatternVideoSource::setStalled(bool stalled) {
  MutexLock lock(mutex_);
  stalled_ = stalled;
  changed_.notifyAll();
}

void TestPatternVideoSource::releaseFrames(int count) {
  MutexLock lock(mutex_);
  released_frames_ += count;
  changed_.notifyAll();
}

int TestPatternVideoSource::openCount() {
  MutexLock lock(mutex_);
  return open_count_;
}

uint64_t TestPatternVideoSource::framesDelivered() {
  MutexLock lock(mutex_);
  return frames_delivered_;
}

bool TestPatternVideoSource::waitForFramesDelivered(uint64_t count, Duration timeout) {
  Time const deadline = Time::now() + timeout;
  MutexLock lock(mutex_);
  while (frames_delivered_ < count && Time::now() < deadline)
    changed_.timedWaitAbsolute(lock, deadline);
  return frames_delivered_ >= count;
}

void TestPatternVideoSource::openDevice() {
  sourceOpening();
  Mode const mode{*req_width_, *req_height_, *req_fps_};
  {
    MutexLock lock(mutex_);
    stopping_ = false;
    ++open_count_;
  }
  LOGF(5, "%s: opening test pattern '%s' at %dx%d", getFullName().c_str(), device_->c_str(),
       mode.width, mode.height);
  publishMode(mode.width, mode.height, mode.fps);
  capture_thread_ = std::make_unique<Thread>();
  capture_thread_->setName("Test pattern");
  capture_thread_->start([this, mode] { captureLoop(mode); });
  sourceOpened();
}

void TestPatternVideoSource::closeDevice() {
  if (!capture_thread_) return;
  {
    MutexLock lock(mutex_);
    stopping_ = true;
    changed_.notifyAll();
  }
  capture_thread_->join();
  capture_thread_.reset();
}

void TestPatternVideoSource::captureLoop(Mode mode) {
  SyntheticVideoSource::Plasma plasma;
  plasma.setEasy(false);
  Duration const period = Duration::fromSec(mode.fps > 0 ? 1.0 / mode.fps : 1.0);
  Time next = Time::now() + period;
  int frame_number = 0;
  for (;;) {
    {
      MutexLock lock(mutex_);
      for (;;) {
        if (stopping_) return;
        if (!stalled_) {
          if (pacing_ == Pacing::kOnRequest && released_frames_ > 0) {
            --released_frames_;
            break;
          }
          if (pacing_ == Pacing::kWallClock && Time::now() >= next) {
            next = next + period;
            if (next < Time::now()) next = Time::now() + period;
            break;
          }
        }
        if (pacing_ == Pacing::kWallClock && !stalled_)
          changed_.timedWaitAbsolute(lock, next);
        else
          changed_.wait(lock);
      }
    }
    auto frame = std::make_shared<ImageBuffer>(mode.width, mode.height, ImageBuffer::IMAGE_I420);
    synthetic_overlay::neutraliseChromaEdges(frame.get());
    plasma.draw(frame.get());
    ImageBufferUtil::writeString(frame.get(), 0, 8,
                                 stringPrintf("Test pattern %06d", frame_number));
    synthetic_overlay::drawColourBars(frame.get());
    ++frame_number;
    deliverFrame(frame);
    MutexLock lock(mutex_);
    ++frames_delivered_;
    changed_.notifyAll();
  }
}

std::shared_ptr<TestPatternVideoSource> createTestPatternVideoSource(
    ElementArgs const& args, TestPatternVideoSource::Pacing pacing) {
  return createElement<TestPatternVideoSource>(args, pacing);
}

}  // namespace dravo::media
