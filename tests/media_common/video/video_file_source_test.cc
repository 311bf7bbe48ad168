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
#include "media_common/video/avi_file_reader.h"
#include "media_common/video/y4m_file_reader.h"
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

// Keeps the bytes and stamps of what it is handed, and the clock's reading
// at that moment. Everything runs on the test thread (manual scheduler).
class FrameLog : public Sink<ImageBuffer> {
 public:
  struct Seen {
    std::string bytes;
    Time stamp;
    Time delivered;
  };
  ~FrameLog() override { disconnect_all(); }

  std::shared_ptr<Clock> clock;
  std::vector<Seen> seen;

 protected:
  void onBuffer(std::shared_ptr<ImageBuffer const> const& frame) override {
    seen.push_back({packedI420(*frame), frame->getStartTimestamp(), clock->getTime()});
  }
};

class VideoFileSourceTest : public ::testing::Test {
 protected:
  void start(std::string const& filename, bool loop = false) {
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
    scheduler_->shutdown(true);
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
    return runUntil([&] { return sink_->seen.size() >= count; });
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
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<Clock> clock_ = getFastForwardClock(scheduler_, kStart);
  std::shared_ptr<VideoFileSource> source_;
  std::shared_ptr<FrameLog> sink_;
  LinkHandle link_;
  sigslot::has_slots<> listener_;
  int eof_count_ = 0;
};

TEST(VideoFileReaderOpenTest, ChoosesTheReaderByExtension) {
  testing::ScopedTempDir dir;
  ASSERT_TRUE(File::writeStringToFile(dir.file("a.Y4M"), y4mStream(4, 2, {0})));
  avi_testing::writeClip(dir.file("b.avi"), 4, 2, 1);
  ASSERT_TRUE(File::writeStringToFile(dir.file("c.mkv"), "whatever"));
  std::unique_ptr<VideoFileReader> y4m(VideoFileReader::open(dir.file("a.Y4M")));
  EXPECT_TRUE(dynamic_cast<Y4MFileReader*>(y4m.get()));
  std::unique_ptr<VideoFileReader> avi(VideoFileReader::open(dir.file("b.avi")));
  EXPECT_TRUE(dynamic_cast<AVIFileReader*>(avi.get()));
  testing::LogCapture log("video_file_reader:2");
  EXPECT_EQ(VideoFileReader::open(dir.file("c.mkv")), nullptr);
  EXPECT_EQ(log.messages("video_file_reader"), std::vector<std::string>{"Unknown extension 'mkv'"});
  EXPECT_EQ(VideoFileReader::open(dir.file("missing.y4m")), nullptr);
}

// Files ffmpeg wrote play frame by frame, one frame duration apart on the
// sink's clock, and end with the end-of-file signal.
TEST_F(VideoFileSourceTest, PlaysFfmpegFilesOnAFastForwardClock) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  struct Clip {
    std::string name;
    std::string args;
  } const clips[] = {
      {"clip.avi", "-c:v rawvideo -pix_fmt yuv420p -vtag I420"},
      {"clip.y4m", "-pix_fmt yuv420p -f yuv4mpegpipe"},
  };
  for (auto const& clip : clips) {
    SCOPED_TRACE(clip.name);
    std::string const path = dir_.file(clip.name);
    testing::commandOutput("ffmpeg -v error -f lavfi -i testsrc=size=33x17:rate=25 -frames:v 5 " +
                           clip.args + " -y '" + path + "'");
    std::vector<std::string> const expected = y4m_testing::ffmpegI420Frames(path, 33, 17);
    ASSERT_EQ(expected.size(), 5u);

    start(path);
    Time const began = clock_->getTime();
    ASSERT_TRUE(runUntil([&] { return eof_count_ >= 2; }));
    EXPECT_EQ(status(), "0 Reading from " + path);
    ASSERT_EQ(sink_->seen.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(sink_->seen[i].bytes, expected[i]);
      EXPECT_EQ(sink_->seen[i].stamp, began + Duration::fromMSec(40) * static_cast<int64_t>(i));
      EXPECT_EQ(sink_->seen[i].delivered, sink_->seen[i].stamp);
    }
    EXPECT_TRUE(source_->getEof());
    EXPECT_EQ(source_->getFrameIndex(), 5);
    // After the end the source polls every 200 ms.
    Time const first_end = clock_->getTime();
    ASSERT_TRUE(runUntil([&] { return eof_count_ >= 3; }));
    EXPECT_EQ(clock_->getTime() - first_end, Duration::fromMSec(200));
    TearDown();
    scheduler_ = std::make_shared<testing::ManualScheduler>();
    clock_ = getFastForwardClock(scheduler_, kStart);
    eof_count_ = 0;
  }
}

TEST_F(VideoFileSourceTest, LoopStartsAgainRightAfterTheLastFrame) {
  std::string const path = write("loop.y4m", y4mStream(6, 4, {0, 1, 2}, " F50:1"));
  start(path, true);
  ASSERT_TRUE(runUntilFrames(8));
  Duration const frame = Duration::fromSec(1.0 / 50.0f);
  for (size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(sink_->seen[i].bytes, packedI420(*makeFrame(6, 4, static_cast<int>(i % 3))));
    EXPECT_EQ(sink_->seen[i].stamp, kStart + frame * static_cast<int64_t>(i));
  }
  EXPECT_EQ(eof_count_, 0);
  EXPECT_EQ(status(), "0 Reading from " + path);
}

// Looping over every prefix of a small file never stalls on frames that are
// not there and never sends more than the prefix holds.
TEST_F(VideoFileSourceTest, LoopingTruncatedFilesStaysSafe) {
  std::string const whole = y4mStream(5, 3, {0, 1}, " F25:1");
  testing::LogCapture quiet;
  for (size_t length = 0; length <= whole.size(); length += 3) {
    SCOPED_TRACE(length);
    std::string const path = write("cut.y4m", whole.substr(0, length));
    start(path, true);
    // A bounded stretch of clock time: at most one file pass per 200 ms poll
    // or per frame duration.
    Time const until = kStart + Duration::fromSec(2);
    ASSERT_TRUE(runUntil([&] { return clock_->getTime() >= until || sink_->seen.size() >= 12; }));
    for (auto const& seen : sink_->seen) {
      EXPECT_EQ(seen.bytes.size(), 27u);
      EXPECT_EQ(seen.delivered, seen.stamp);
    }
    TearDown();
    scheduler_ = std::make_shared<testing::ManualScheduler>();
    clock_ = getFastForwardClock(scheduler_, kStart);
  }
}

TEST_F(VideoFileSourceTest, MissingFileIsReportedAndPickedUpOnceItExists) {
  testing::LogCapture log("y4m_file_reader:2");
  std::string const path = dir_.file("later.y4m");
  start(path);
  ASSERT_TRUE(runUntil([&] { return clock_->getTime() >= kStart + Duration::fromMSec(400); }));
  EXPECT_EQ(status(), "-2 Could not open file " + path);
  EXPECT_TRUE(sink_->seen.empty());
  EXPECT_FALSE(source_->getEof());
  EXPECT_EQ(source_->getFrameIndex(), 0);
  write("later.y4m", y4mStream(4, 2, {5}));
  ASSERT_TRUE(runUntilFrames(1));
  EXPECT_EQ(sink_->seen[0].bytes, packedI420(*makeFrame(4, 2, 5)));
  // Retries come every 200 ms, so the file is found at one of those steps.
  EXPECT_EQ((sink_->seen[0].stamp - kStart).toNSec() % Duration::fromMSec(200).toNSec(), 0);
  EXPECT_EQ(status(), "0 Reading from " + path);
}

TEST_F(VideoFileSourceTest, EmptyNameSendsNothingAndANewNameSwitchesFiles) {
  std::string const a = write("a.y4m", y4mStream(4, 2, {10, 11, 12, 13}));
  std::string const b = write("b.y4m", y4mStream(4, 2, {20, 21}));
  start("");
  ASSERT_TRUE(runUntil([&] { return clock_->getTime() >= kStart + Duration::fromSec(1); }));
  EXPECT_TRUE(sink_->seen.empty());
  EXPECT_EQ(status(), "0 ");
  EXPECT_EQ(eof_count_, 0);

  source_->getPropertyNode("filename")->setValue(PropertyValue(a));
  ASSERT_TRUE(runUntilFrames(2));
  source_->getPropertyNode("filename")->setValue(PropertyValue(b));
  ASSERT_TRUE(runUntilFrames(4));
  EXPECT_EQ(sink_->seen[0].bytes, packedI420(*makeFrame(4, 2, 10)));
  EXPECT_EQ(sink_->seen[1].bytes, packedI420(*makeFrame(4, 2, 11)));
  EXPECT_EQ(sink_->seen[2].bytes, packedI420(*makeFrame(4, 2, 20)));
  EXPECT_EQ(sink_->seen[3].bytes, packedI420(*makeFrame(4, 2, 21)));
  EXPECT_EQ(sink_->seen[3].stamp - sink_->seen[2].stamp, Duration::fromMSec(40));
  EXPECT_EQ(status(), "0 Reading from " + b);
}

// Keeps the bytes of what it is handed; frames arrive on the sink's
// scheduler thread, the test waits under the lock.
class LockedFrameLog : public Sink<ImageBuffer> {
 public:
  ~LockedFrameLog() override { disconnect_all(); }

  bool waitFor(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [&] { return seen_.size() >= count; });
  }
  std::vector<std::string> seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 protected:
  void onBuffer(std::shared_ptr<ImageBuffer const> const& frame) override {
    std::lock_guard lock(mutex_);
    seen_.push_back(packedI420(*frame));
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> seen_;
};

// Playback on a worker thread with the system clock while the test thread
// keeps asking for the frame index and the end of file.
TEST(VideoFileSourceThreadTest, PlaysOnAThreadedSchedulerWhileOtherThreadsAsk) {
  testing::ScopedTempDir dir;
  std::vector<int> const seeds = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  std::string const path = dir.file("fast.y4m");
  ASSERT_TRUE(File::writeStringToFile(path, y4mStream(8, 6, seeds, " F500:1")));
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
    auto sink =
        createElement<LockedFrameLog>(ElementArgs(sink_scheduler, root->getNode("sink", true)));
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
        EXPECT_EQ(source->getFrameIndex(), static_cast<int>(seeds.size()));
      }
    }
    {
      std::unique_lock lock(mutex);
      ASSERT_TRUE(ended.wait_for(lock, std::chrono::seconds(60), [&] { return at_end; }));
    }
    ASSERT_TRUE(sink->waitFor(1));
    EXPECT_TRUE(source->getEof());
    EXPECT_EQ(source->getFrameIndex(), static_cast<int>(seeds.size()));
    source_scheduler->shutdown(true);
    sink_scheduler->shutdown(true);
    // A slow sink may lose frames to the source's full queue, but what
    // arrives comes in file order.
    std::vector<std::string> const seen = sink->seen();
    size_t next = 0;
    for (std::string const& bytes : seen) {
      while (next < seeds.size() && packedI420(*makeFrame(8, 6, seeds[next])) != bytes) ++next;
      EXPECT_LT(next, seeds.size()) << "frame out of order or unknown";
      ++next;
    }
  }
  listener.disconnect_all();
}

}  // namespace
}  // namespace dravo::media
