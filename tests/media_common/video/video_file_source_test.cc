#include "media_common/video/video_file_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "common/deferred.h"
#include "media_common/link_handle.h"
#include "media_common/property_clock.h"
#include "media_common/sink_element.h"
#include "media_common/threaded_scheduler.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media {
namespace {

using avi_testing::makeFrame;
using avi_testing::packedI420;

constexpr Time kStart = Time::fromNSec(1000000000000);  // 1000 s

// A Y4M stream of `width` x `height` frames made by makeFrame from `seeds`.
std::string y4mStream(int width, int height, std::vector<int> const& seeds,
                      std::string const& rate = " F25:1") {
  std::string stream =
      "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + rate + "\n";
  for (int seed : seeds) stream += "FRAME\n" + packedI420(*makeFrame(width, height, seed));
  return stream;
}

// Keeps the bytes and stamps of what it is handed, and the reading of
// `clock` (if set) at that moment. Frames arrive on the sink's scheduler
// thread; the test reads them under the lock.
class FrameLog : public Sink<ImageBuffer> {
 public:
  struct Seen {
    std::string bytes;
    Time stamp;
    Time delivered;
  };
  ~FrameLog() override { disconnect_all(); }

  std::shared_ptr<Clock> clock;
  std::vector<Seen> seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 protected:
  void onBuffer(std::shared_ptr<ImageBuffer const> const& frame) override {
    std::lock_guard lock(mutex_);
    seen_.push_back(
        {packedI420(*frame), frame->getStartTimestamp(), clock ? clock->getTime() : Time()});
  }

 private:
  std::mutex mutex_;
  std::vector<Seen> seen_;
};

// A source and a frame log on a fast-forward clock, stepped by hand.
class VideoFileSourceTest : public ::testing::Test {
 protected:
  void start(std::string const& filename, bool loop = false) {
    scheduler_ = std::make_shared<testing::ManualScheduler>();
    clock_ = getFastForwardClock(scheduler_, kStart);
    eof_count_ = 0;
    source_ =
        createVideoFileSource(ElementArgs(scheduler_, root_->getNode("source", true)), filename);
    if (loop) source_->getPropertyNode("loop")->setValue(PropertyValue(true));
    sink_ = createElement<FrameLog>(ElementArgs(scheduler_, root_->getNode("sink", true)));
    sink_->clock = clock_;
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
  // Runs tasks one by one until `done`; false if it never came.
  bool runUntil(std::function<bool()> const& done) {
    for (int step = 0; step < 100000; ++step) {
      if (done()) return true;
      if (scheduler_->runOne()) continue;
      // Timers that are due at once arrive through the deferred-call thread.
      waitForDeferredCalls();
      if (!scheduler_->runOne()) return false;
    }
    return false;
  }
  bool runUntilFrames(size_t count) {
    return runUntil([&] { return sink_->seen().size() >= count; });
  }
  std::string write(std::string const& name, std::string const& contents) {
    EXPECT_TRUE(File::writeStringToFile(dir_.file(name), contents));
    return dir_.file(name);
  }
  std::string status() {
    return std::to_string(source_->getStatus()->getStatusCode()) + " " +
           source_->getStatus()->getStatusMessage();
  }

  testing::ScopedTempDir dir_;
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
// signalled, and again at every 200 ms poll after it. Looping starts again
// right after the last frame, without an end.
TEST_F(VideoFileSourceTest, PlaysOnAFastForwardClockAndLoops) {
  std::string const path = dir_.file("clip.avi");
  avi_testing::writeClip(path, 6, 4, 5);
  start(path);
  Time const began = clock_->getTime();
  ASSERT_TRUE(runUntil([&] { return eof_count_ >= 2; }));
  EXPECT_EQ(status(), "0 Reading from " + path);
  auto seen = sink_->seen();
  ASSERT_EQ(seen.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(seen[i].bytes, packedI420(*makeFrame(6, 4, static_cast<int>(i)))) << i;
    EXPECT_EQ(seen[i].stamp, began + Duration::fromMSec(40) * static_cast<int64_t>(i)) << i;
    EXPECT_EQ(seen[i].delivered, seen[i].stamp) << i;
  }
  Time const first_end = clock_->getTime();
  ASSERT_TRUE(runUntil([&] { return eof_count_ >= 3; }));
  EXPECT_EQ(clock_->getTime() - first_end, Duration::fromMSec(200));
  TearDown();

  // Extensions compare in lower case.
  start(write("loop.Y4M", y4mStream(6, 4, {0, 1, 2}, " F50:1")), true);
  ASSERT_TRUE(runUntilFrames(8));
  seen = sink_->seen();
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(seen[i].bytes, packedI420(*makeFrame(6, 4, static_cast<int>(i % 3)))) << i;
    EXPECT_EQ(seen[i].stamp, kStart + Duration::fromSec(1.0 / 50.0f) * static_cast<int64_t>(i));
  }
  EXPECT_EQ(eof_count_, 0);
}

// Unusable names send nothing and say why in the status; a missing file is
// picked up once it exists; a new name switches files at the next frame.
TEST_F(VideoFileSourceTest, UnusableNamesWaitAndANewNameSwitchesFiles) {
  testing::LogCapture log("video_file_reader:2");
  std::string const mkv = write("c.mkv", y4mStream(4, 2, {0}));
  std::string const a = dir_.file("a.y4m");
  start("");
  for (auto const& [name, expected] : {std::pair<std::string, std::string>{"", "0 "},
                                       {mkv, "-2 Could not open file " + mkv},
                                       {a, "-2 Could not open file " + a}}) {
    SCOPED_TRACE(name);
    source_->getPropertyNode("filename")->setValue(PropertyValue(name));
    Time const until = clock_->getTime() + Duration::fromMSec(400);
    ASSERT_TRUE(runUntil([&] { return clock_->getTime() >= until; }));
    EXPECT_EQ(status(), expected);
    EXPECT_TRUE(sink_->seen().empty());
    EXPECT_EQ(eof_count_, 0);
  }
  EXPECT_TRUE(log.contains("Unknown extension 'mkv'"));
  write("a.y4m", y4mStream(4, 2, {10, 11, 12, 13}));
  ASSERT_TRUE(runUntilFrames(2));

  std::string const b = write("b.y4m", y4mStream(4, 2, {20, 21}));
  source_->getPropertyNode("filename")->setValue(PropertyValue(b));
  ASSERT_TRUE(runUntilFrames(4));
  auto const seen = sink_->seen();
  EXPECT_EQ(seen[1].bytes, packedI420(*makeFrame(4, 2, 11)));
  EXPECT_EQ(seen[2].bytes, packedI420(*makeFrame(4, 2, 20)));
  EXPECT_EQ(seen[3].stamp - seen[2].stamp, Duration::fromMSec(40));
  EXPECT_EQ(status(), "0 Reading from " + b);
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
  std::vector<bool> answered;  // per status change: did the source answer?
  std::vector<std::thread> askers;
  source_->getPropertyNode("status")->connectChanged(&listener_, [&](PropertyChangedArgs const&) {
    std::promise<void> asked;
    std::future<void> answer = asked.get_future();
    askers.emplace_back([this, asked = std::move(asked)]() mutable {
      source_->getEof();
      asked.set_value();
    });
    answered.push_back(answer.wait_for(std::chrono::seconds(2)) == std::future_status::ready);
  });
  Time const began = clock_->getTime();
  EXPECT_TRUE(runUntil([&] { return clock_->getTime() >= began + Duration::fromSec(1.0); }));
  source_->getPropertyNode("status")->disconnectChanged(&listener_);
  for (auto& asker : askers) asker.join();
  EXPECT_TRUE(sink_->seen().empty());
  EXPECT_FALSE(answered.empty());
  EXPECT_EQ(std::count(answered.begin(), answered.end(), false), 0);
  EXPECT_EQ(status(), "0 Reading from " + path);
}

// Playback on a worker thread with the system clock while the test thread
// keeps asking for the frame index and the end of file.
TEST(VideoFileSourceThreadTest, PlaysOnAThreadedSchedulerWhileOtherThreadsAsk) {
  testing::ScopedTempDir dir;
  std::string const path = dir.file("fast.y4m");
  ASSERT_TRUE(
      File::writeStringToFile(path, y4mStream(8, 6, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, " F500:1")));
  auto source_scheduler = createThreadedScheduler(1, nullptr);
  auto sink_scheduler = createThreadedScheduler(1, nullptr);
  auto root = PropertyNode::create();
  {
    auto source =
        createVideoFileSource(ElementArgs(source_scheduler, root->getNode("source", true)), path);
    auto sink = createElement<FrameLog>(ElementArgs(sink_scheduler, root->getNode("sink", true)));
    LinkHandle link(source->getOutputPad()->link(*sink->getInputPad()));
    source_scheduler->start();
    sink_scheduler->start();
    Time const deadline = Time::now() + Duration::fromSec(60);
    for (int last_index = 0; !source->getEof() && Time::now() < deadline;
         std::this_thread::yield()) {
      int const index = source->getFrameIndex();
      EXPECT_GE(index, last_index);
      last_index = index;
    }
    // The end is flagged only once every frame was read.
    ASSERT_TRUE(source->getEof());
    EXPECT_EQ(source->getFrameIndex(), 10);
    while (sink->seen().empty() && Time::now() < deadline) std::this_thread::yield();
    source_scheduler->shutdown(true);
    sink_scheduler->shutdown(true);
    EXPECT_FALSE(sink->seen().empty());
    // A slow sink may lose frames to the source's full queue, but what
    // arrives comes in file order.
    int next = 0;
    for (auto const& seen : sink->seen()) {
      while (next < 10 && packedI420(*makeFrame(8, 6, next)) != seen.bytes) ++next;
      EXPECT_LT(next++, 10) << "frame out of order or unknown";
    }
  }
}

}  // namespace
}  // namespace dravo::media
