#include "media_common/video/video_file_source.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>

#include "common/deferred.h"
#include "common/status.h"
#include "media_common/link_handle.h"
#include "media_common/property_clock.h"
#include "media_common/sink_element.h"
#include "media_common/threaded_scheduler.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/y4m_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media {
namespace {

using avi_testing::makeFrame;
using avi_testing::packedI420;
using y4m_testing::y4mStream;

constexpr Time kStart = Time::fromNSec(1000000000000);  // 1000 s

// Keeps the bytes and stamps of what it is handed, and the reading of
// `clock` (if set) at that moment. Frames arrive on the sink's scheduler
// thread; the test reads them, or waits for them, under the lock.
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
  bool waitFor(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [&] { return seen_.size() >= count; });
  }

 protected:
  void onBuffer(std::shared_ptr<ImageBuffer const> const& frame) override {
    std::lock_guard lock(mutex_);
    seen_.push_back(
        {packedI420(*frame), frame->getStartTimestamp(), clock ? clock->getTime() : Time()});
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
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
  bool runFor(Duration d) {
    Time const until = clock_->getTime() + d;
    return runUntil([&] { return clock_->getTime() >= until; });
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
// signalled, and again at every 200 ms poll after it.
TEST_F(VideoFileSourceTest, PlaysAviAndY4MFilesOnAFastForwardClock) {
  avi_testing::writeClip(dir_.file("clip.avi"), 6, 4, 5);
  write("clip.y4m", y4mStream(6, 4, {0, 1, 2, 3, 4}));
  for (char const* name : {"clip.avi", "clip.y4m"}) {
    SCOPED_TRACE(name);
    std::string const path = dir_.file(name);
    start(path);
    Time const began = clock_->getTime();
    ASSERT_TRUE(runUntil([&] { return eof_count_ >= 2; }));
    EXPECT_EQ(status(), "0 Reading from " + path);
    auto const seen = sink_->seen();
    ASSERT_EQ(seen.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(seen[i].bytes, packedI420(*makeFrame(6, 4, static_cast<int>(i)))) << i;
      EXPECT_EQ(seen[i].stamp, began + Duration::fromMSec(40) * static_cast<int64_t>(i)) << i;
      EXPECT_EQ(seen[i].delivered, seen[i].stamp) << i;
    }
    EXPECT_TRUE(source_->getEof());
    EXPECT_EQ(source_->getFrameIndex(), 5);
    Time const first_end = clock_->getTime();
    ASSERT_TRUE(runUntil([&] { return eof_count_ >= 3; }));
    EXPECT_EQ(clock_->getTime() - first_end, Duration::fromMSec(200));
    TearDown();
  }
}

TEST_F(VideoFileSourceTest, LoopStartsAgainRightAfterTheLastFrame) {
  std::string const path = write("loop.y4m", y4mStream(6, 4, {0, 1, 2}, " F50:1"));
  start(path, true);
  ASSERT_TRUE(runUntilFrames(8));
  auto const seen = sink_->seen();
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(seen[i].bytes, packedI420(*makeFrame(6, 4, static_cast<int>(i % 3)))) << i;
    EXPECT_EQ(seen[i].stamp, kStart + Duration::fromSec(1.0 / 50.0f) * static_cast<int64_t>(i));
  }
  EXPECT_EQ(eof_count_, 0);
}

// Looping over every prefix of a small file never stalls on frames that are
// not there and never sends more than the prefix holds.
TEST_F(VideoFileSourceTest, LoopingTruncatedFilesStaysSafe) {
  std::string const whole = y4mStream(5, 3, {0, 1}, " F25:1");
  testing::LogCapture quiet;
  for (size_t length = 0; length <= whole.size(); length += 3) {
    SCOPED_TRACE(length);
    start(write("cut.y4m", whole.substr(0, length)), true);
    // A bounded stretch of clock time: at most one file pass per 200 ms poll
    // or per frame duration.
    ASSERT_TRUE(runUntil([&] {
      return clock_->getTime() >= kStart + Duration::fromSec(2) || sink_->seen().size() >= 12;
    }));
    for (auto const& seen : sink_->seen()) {
      EXPECT_EQ(seen.bytes.size(), 27u);
      EXPECT_EQ(seen.delivered, seen.stamp);
    }
    TearDown();
  }
}

// No name sends nothing; an unknown extension or a missing file is
// reported, the missing file picked up once it exists; a new name switches
// files at the next frame.
TEST_F(VideoFileSourceTest, EmptyUnknownAndMissingNamesWaitAndANewNameSwitchesFiles) {
  testing::LogCapture log("video_file_reader:2");
  start("");
  ASSERT_TRUE(runFor(Duration::fromSec(1)));
  EXPECT_TRUE(sink_->seen().empty());
  EXPECT_EQ(status(), "0 ");
  EXPECT_EQ(eof_count_, 0);

  std::string const mkv = write("c.mkv", y4mStream(4, 2, {0}));
  source_->getPropertyNode("filename")->setValue(PropertyValue(mkv));
  ASSERT_TRUE(runFor(Duration::fromMSec(400)));
  EXPECT_EQ(status(), "-2 Could not open file " + mkv);
  EXPECT_TRUE(log.contains("Unknown extension 'mkv'"));

  std::string const a = dir_.file("a.y4m");
  source_->getPropertyNode("filename")->setValue(PropertyValue(a));
  ASSERT_TRUE(runFor(Duration::fromMSec(400)));
  EXPECT_EQ(status(), "-2 Could not open file " + a);
  EXPECT_TRUE(sink_->seen().empty());
  EXPECT_FALSE(source_->getEof());
  write("a.y4m", y4mStream(4, 2, {10, 11, 12, 13}));
  ASSERT_TRUE(runUntilFrames(2));

  std::string const b = write("b.y4m", y4mStream(4, 2, {20, 21}));
  source_->getPropertyNode("filename")->setValue(PropertyValue(b));
  ASSERT_TRUE(runUntilFrames(4));
  auto const seen = sink_->seen();
  EXPECT_EQ(seen[1].bytes, packedI420(*makeFrame(4, 2, 11)));
  EXPECT_EQ(seen[2].bytes, packedI420(*makeFrame(4, 2, 20)));
  EXPECT_EQ(seen[3].bytes, packedI420(*makeFrame(4, 2, 21)));
  EXPECT_EQ(seen[3].stamp - seen[2].stamp, Duration::fromMSec(40));
  EXPECT_EQ(status(), "0 Reading from " + b);
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
  sigslot::has_slots<> listener;
  std::mutex mutex;
  std::condition_variable ended;
  bool at_end = false;
  {
    auto source =
        createVideoFileSource(ElementArgs(source_scheduler, root->getNode("source", true)), path);
    auto sink = createElement<FrameLog>(ElementArgs(sink_scheduler, root->getNode("sink", true)));
    LinkHandle link(source->getOutputPad()->link(*sink->getInputPad()));
    source->end_of_file_signal_.connect(&listener, [&] {
      std::lock_guard lock(mutex);
      at_end = true;
      ended.notify_all();
    });
    source_scheduler->start();
    sink_scheduler->start();
    int last_index = 0;
    for (int i = 0; i < 2000; ++i) {
      int const index = source->getFrameIndex();
      EXPECT_GE(index, last_index);
      last_index = index;
      // The end is flagged only once every frame was read.
      if (source->getEof()) {
        EXPECT_EQ(source->getFrameIndex(), 10);
      }
    }
    {
      std::unique_lock lock(mutex);
      ASSERT_TRUE(ended.wait_for(lock, std::chrono::seconds(60), [&] { return at_end; }));
    }
    ASSERT_TRUE(sink->waitFor(1));
    EXPECT_EQ(source->getFrameIndex(), 10);
    source_scheduler->shutdown(true);
    sink_scheduler->shutdown(true);
    // A slow sink may lose frames to the source's full queue, but what
    // arrives comes in file order.
    int next = 0;
    for (auto const& seen : sink->seen()) {
      while (next < 10 && packedI420(*makeFrame(8, 6, next)) != seen.bytes) ++next;
      EXPECT_LT(next++, 10) << "frame out of order or unknown";
    }
  }
  listener.disconnect_all();
}

}  // namespace
}  // namespace dravo::media
