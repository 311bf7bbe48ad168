#include "media_common/video/video_file_source.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>

#include "common/deferred.h"
#include "media_common/link_handle.h"
#include "media_common/property_clock.h"
#include "media_common/sink_element.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

using avi_testing::makeFrame;
using avi_testing::packedI420;

constexpr Time kStart = Time::fromNSec(1000000000000);  // 1000 s

std::string bytesOf(int width, int height, int seed) {
  return packedI420(*makeFrame(width, height, seed));
}

// A 25 frames per second Y4M stream of makeFrame pictures made from `seeds`.
std::string y4mStream(int width, int height, std::vector<int> const& seeds,
                      std::string const& rate = "25") {
  std::string stream =
      "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F" + rate + ":1\n";
  for (int seed : seeds) stream += "FRAME\n" + bytesOf(width, height, seed);
  return stream;
}

// Keeps the bytes and stamp of each frame (not the frame, which would hold
// the source's tokens).
class FrameLog : public Sink<ImageBuffer> {
 public:
  struct Seen {
    std::string bytes;
    Time stamp;
  };
  ~FrameLog() override { disconnect_all(); }
  std::vector<Seen> seen;

 protected:
  void onBuffer(std::shared_ptr<ImageBuffer const> const& frame) override {
    seen.push_back({packedI420(*frame), frame->getStartTimestamp()});
  }
};

// A source and a frame log on a fast-forward clock, stepped by hand.
class VideoFileSourceTest : public avi_testing::AVITest {
 protected:
  void start(std::string const& filename, bool loop = false) {
    scheduler_ = std::make_shared<testing::ManualScheduler>();
    clock_ = getFastForwardClock(scheduler_, kStart);
    eof_count_ = 0;
    source_ =
        createVideoFileSource(ElementArgs(scheduler_, root_->getNode("source", true)), filename);
    if (loop) source_->getPropertyNode("loop")->setValue(PropertyValue(true));
    sink_ = createElement<FrameLog>(ElementArgs(scheduler_, root_->getNode("sink", true)));
    setPropertyClock(*source_->getPropertyNode("clock"), clock_);
    setPropertyClock(*sink_->getPropertyNode("clock"), clock_);
    link_ = LinkHandle(source_->getOutputPad()->link(*sink_->getInputPad()));
    source_->end_of_file_signal_.connect(&listener_, [this] { ++eof_count_; });
  }
  void TearDown() override {
    link_ = LinkHandle();
    source_.reset();
    sink_.reset();
    if (scheduler_) scheduler_->shutdown(true);
  }
  // Runs tasks one by one until `done`; false if it never came. Timers that
  // are due at once arrive through the deferred-call thread.
  bool runUntil(std::function<bool()> const& done) {
    for (int step = 0; step < 100000; ++step) {
      if (done()) return true;
      if (scheduler_->runOne()) continue;
      waitForDeferredCalls();
      if (!scheduler_->runOne()) return false;
    }
    return false;
  }
  bool runFor(Duration span) {
    Time const until = clock_->getTime() + span;
    return runUntil([&] { return clock_->getTime() >= until; });
  }
  bool runUntilFrames(size_t count) {
    return runUntil([&] { return sink_->seen.size() >= count; });
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create();
  std::shared_ptr<testing::ManualScheduler> scheduler_;
  std::shared_ptr<Clock> clock_;
  std::shared_ptr<VideoFileSource> source_;
  std::shared_ptr<FrameLog> sink_;
  LinkHandle link_;
  sigslot::has_slots<> listener_;
  int eof_count_ = 0;
};

// Frames play one frame duration apart on the sink's clock; the end is
// signalled, and again at every 200 ms poll after it. A missing file is
// picked up once it exists; looping starts again right after the last frame,
// without an end; extensions compare in lower case; a new name switches
// files at the next frame.
TEST_F(VideoFileSourceTest, PlaysOnAFastForwardClockLoopsAndSwitchesFiles) {
  std::string const path = dir_.file("clip.avi");
  avi_testing::writeClip(path, 6, 4, 5);
  start(path);
  Time const began = clock_->getTime();
  ASSERT_TRUE(runUntil([&] { return eof_count_ >= 2; }));
  auto seen = sink_->seen;
  ASSERT_EQ(seen.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(seen[i].bytes, bytesOf(6, 4, i)) << i;
    EXPECT_EQ(seen[i].stamp, began + Duration::fromMSec(40) * i) << i;
  }
  Time const first_end = clock_->getTime();
  ASSERT_TRUE(runUntil([&] { return eof_count_ >= 3; }));
  EXPECT_EQ(clock_->getTime() - first_end, Duration::fromMSec(200));
  TearDown();

  start(dir_.file("loop.Y4M"), true);
  ASSERT_TRUE(runFor(Duration::fromMSec(400)));
  EXPECT_TRUE(sink_->seen.empty());
  write("loop.Y4M", y4mStream(6, 4, {0, 1, 2}, "50"));
  ASSERT_TRUE(runUntilFrames(8));
  seen = sink_->seen;
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(seen[i].bytes, bytesOf(6, 4, i % 3)) << i;
    EXPECT_EQ(seen[i].stamp - seen[0].stamp, Duration::fromSec(1.0 / 50.0f) * i);
  }
  EXPECT_EQ(eof_count_, 0);
  size_t const before = seen.size();
  source_->getPropertyNode("filename")
      ->setValue(PropertyValue(write("b.y4m", y4mStream(6, 4, {20, 21}))));
  ASSERT_TRUE(runUntilFrames(before + 2));
  seen = sink_->seen;
  EXPECT_EQ(seen[before].bytes, bytesOf(6, 4, 20));
  EXPECT_EQ(seen[before + 1].stamp - seen[before].stamp, Duration::fromMSec(40));
}

// Frames that all fail to convert (MJPEG chunks that do not decode) give
// nothing to send: a looping file is retried every 200 ms, not in a tight
// loop, and status listeners may ask the source while it reopens.
TEST_F(VideoFileSourceTest, ALoopingFileThatSendsNothingIsRetriedEvery200Ms) {
  testing::LogCapture quiet("video:1");  // each frame's decoding error
  std::string const path = dir_.file("broken.avi");
  {
    AVIFileWriter writer;
    ASSERT_TRUE(writer.openFile(path));
    for (int i = 0; i < 3; ++i)
      writer.writeFrame(image_testing::wrapEncoded(image_testing::Bytes(64, 0x5A),
                                                   ImageBuffer::IMAGE_MJPEG, 32, 32));
  }
  start(path, true);
  size_t answered = 0;
  std::vector<std::future<void>> answers;
  source_->getPropertyNode("status")->connectChanged(&listener_, [&](PropertyChangedArgs const&) {
    answers.push_back(std::async(std::launch::async, [this] { source_->getEof(); }));
    answered += answers.back().wait_for(std::chrono::seconds(2)) == std::future_status::ready;
  });
  EXPECT_TRUE(runFor(Duration::fromSec(1.0)));
  source_->getPropertyNode("status")->disconnectChanged(&listener_);
  EXPECT_TRUE(sink_->seen.empty());
  EXPECT_FALSE(answers.empty());
  EXPECT_EQ(answered, answers.size());
  EXPECT_EQ(source_->getStatus()->getStatusMessage(), "Reading from " + path);
}

}  // namespace
}  // namespace dravo::media
