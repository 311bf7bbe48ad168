// Screen capture through the desktop's screen-cast portal and PipeWire,
// against a private bus, PipeWire daemon and session manager and a test
// portal whose stream shows known pictures: the pixels, crop, stride and
// pointer that arrive, the pacing, the stored permission, and every way a
// cast can fail or end.

#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "common/file.h"
#include "common/property_node.h"
#include "media_common/link_handle.h"
#include "media_common/sink_mixin.h"
#include "media_common/threaded_scheduler.h"
#include "media_common/video/image_buffer_cache.h"
#include "media_common/video/screencast_portal.h"
#include "media_common/video/screencast_session.h"
#include "media_common/video/x11_screen_source.h"
#include "tests/support/portal_test_session.h"

namespace dravo::media {
namespace {

using SteadyClock = std::chrono::steady_clock;
using testing::TestPicture;
using testing::TestPortalConfig;

// Keeps the newest frame and counts them all. Frames arrive on the
// element's scheduler; the test waits on the condition.
class NewestFrameSink : public Element, public SinkMixin<ImageBuffer> {
 public:
  ~NewestFrameSink() override { disconnect_all(); }

  // True once `condition` holds (checked at each frame); false after a
  // generous time-out.
  bool waitFor(std::function<bool(ImageBuffer const&, int count)> const& condition) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30),
                             [&] { return newest_ && condition(*newest_, count_); });
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

uint32_t rgbAt(ImageBuffer const& image, int x, int y) {
  uint8_t const* pixel = image.getPixelAddress(x * 4, y, 0);
  return uint32_t{pixel[2]} << 16 | uint32_t{pixel[1]} << 8 | pixel[0];
}

uint64_t frameNumber(ImageBuffer const& image) {
  return testing::testPictureNumber(image.getPixelAddress(0, 0, 0));
}

// Whether `image` is frame `n` of `picture`, pixel for pixel (the padding
// byte aside).
::testing::AssertionResult showsFrame(ImageBuffer const& image, TestPicture const& picture,
                                      uint64_t n) {
  if (image.width() != picture.visibleWidth() || image.height() != picture.visibleHeight())
    return ::testing::AssertionFailure() << image.width() << "x" << image.height();
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (rgbAt(image, x, y) != testing::testPictureRgb(picture, n, x, y))
        return ::testing::AssertionFailure()
               << "frame " << n << " pixel (" << x << ", " << y << ") is " << std::hex
               << rgbAt(image, x, y) << ", not " << testing::testPictureRgb(picture, n, x, y);
  return ::testing::AssertionSuccess();
}

size_t threadCount() {
  size_t count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks))
      if (entry->d_name[0] != '.') ++count;
    closedir(tasks);
  }
  return count;
}

// True once the process has `expected` threads. A joined thread can stay
// listed for a moment after its join returns: the kernel wakes the joiner
// before it reaps the thread.
bool threadCountReaches(size_t expected) {
  auto const deadline = SteadyClock::now() + std::chrono::seconds(5);
  while (threadCount() != expected) {
    if (SteadyClock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class ScreenCastTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { session_ = new testing::PortalTestSession(); }
  static void TearDownTestSuite() { delete std::exchange(session_, nullptr); }

  void SetUp() override {
    ASSERT_EQ(session_->error(), "");
    File::remove(screenCastTokenPath(ScreenCastSourceType::MONITOR));
    File::remove(screenCastTokenPath(ScreenCastSourceType::WINDOW));
    portal().configure(TestPortalConfig());
    scheduler_->start();
  }
  void TearDown() override {
    stopSource();
    scheduler_->shutdown(true);
  }

  testing::TestScreenCastPortal& portal() { return session_->portal(); }

  void startSource(char const* id, float fps = 30.0f) {
    root_ = PropertyNode::create("pipeline");
    source_ = createScreenSource(ElementArgs(scheduler_, root_->getNode("screen", true)));
    sink_ = createElement<NewestFrameSink>(ElementArgs(scheduler_, root_->getNode("sink", true)));
    link_ = LinkHandle(source_->getOutputPad()->link(*sink_->getInputPad()));
    set("req_fps", PropertyValue(fps));
    set("window", PropertyValue(id));
    set("enabled", PropertyValue(true));
  }
  void stopSource() {
    link_ = LinkHandle();
    source_.reset();
    sink_.reset();
  }

  PropertyValue value(char const* name) { return source_->getPropertyNode(name)->getValue(); }
  void set(char const* name, PropertyValue const& v) {
    source_->getPropertyNode(name)->setValue(v);
  }
  // True once the source's status is an error with `message`.
  bool failsWith(std::string const& message) {
    auto const deadline = SteadyClock::now() + std::chrono::seconds(30);
    auto status = source_->getStatus();
    while (SteadyClock::now() < deadline) {
      if (status->getStatusCode() == status_codes::Error_ScreenCaptureAPI &&
          value("active") == PropertyValue(false))
        return status->getStatusMessage() == message ||
               (ADD_FAILURE() << status->getStatusMessage(), false);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  static inline testing::PortalTestSession* session_ = nullptr;
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  std::shared_ptr<Scheduler> scheduler_ = createThreadedScheduler(2, nullptr);
  std::shared_ptr<ScreenVideoSource> source_;
  std::shared_ptr<NewestFrameSink> sink_;
  LinkHandle link_;
};

TEST_F(ScreenCastTest, ListsOnePortalEntryPerKindOfSource) {
  std::vector<DisplayInfo> displays;
  std::vector<WindowInfo> windows;
  ScreenVideoSource::getDisplays(&displays);
  ScreenVideoSource::getWindows(&windows);
  ASSERT_EQ(displays.size() + windows.size(), 2u);
  EXPECT_EQ(displays[0].handle_, "screen:portal");
  EXPECT_EQ(windows[0].handle_, "window:portal");
}

class ScreenCastPictureTest : public ScreenCastTest,
                              public ::testing::WithParamInterface<TestPicture> {};

// The whole picture, and a crop region in a buffer with an odd row stride
// and a margin of another colour around it. The pointer is drawn from its
// metadata, also on frames that carry only its position.
TEST_P(ScreenCastPictureTest, FramesShowTheProducersPixelsAndPointer) {
  TestPortalConfig config;
  config.picture = GetParam();
  portal().configure(config);
  startSource("screen:portal");
  std::shared_ptr<ImageBuffer const> frames[2];
  // A frame whose buffer brought the pointer's picture, and one well into
  // a run of buffers that brought only its position.
  ASSERT_TRUE(sink_->waitFor([&](ImageBuffer const& frame, int) {
    uint64_t const n = frameNumber(frame);
    if (n % 20 < 10) frames[0] = ImageBufferCache::sharePixels(frame);
    if (n % 20 >= 12) frames[1] = ImageBufferCache::sharePixels(frame);
    return frames[0] && frames[1];
  }));
  for (auto const& frame : frames) {
    EXPECT_EQ(frame->format().pixel_format_, ImageBuffer::IMAGE_BGRX32);
    EXPECT_TRUE(showsFrame(*frame, config.picture, frameNumber(*frame)));
  }
  EXPECT_EQ(value("width"), PropertyValue(config.picture.visibleWidth()));
  EXPECT_EQ(value("active"), PropertyValue(true));
  EXPECT_EQ(source_->getStatus()->getStatusMessage(), "Element Ok");
  auto const seen = portal().seen();
  // A monitor, with the pointer as metadata.
  EXPECT_EQ(seen.types.back(), 1u);
  EXPECT_EQ(seen.cursor_modes.back(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Pictures, ScreenCastPictureTest,
                         ::testing::Values(TestPicture{},
                                           TestPicture{320, 240, 320 * 4 + 3, 24, 10, 256, 200}),
                         [](auto const& info) {
                           return info.param.crop_width ? "CroppedOddStride" : "Whole";
                         });

// Nearest-pixel fitting: every pixel of the smaller picture is one of the
// pixels of the cell it covers.
TEST_F(ScreenCastTest, OneShotPictureFittedToARequestedSize) {
  auto status = createStatus(root_->getNode("capture/status", true));
  auto picture = getPortalScreenshot("screen:portal", Size(160, 100), status);
  ASSERT_TRUE(picture) << status->getStatusMessage();
  TestPicture const producer;
  ASSERT_EQ(picture->width() * 1000 + picture->height(), 160120);  // 4:3 kept
  // The picture's number may be sampled away: it is one of those sent.
  auto fits = [&](uint64_t n) {
    for (int y = 0; y < picture->height(); ++y)
      for (int x = 0; x < picture->width(); ++x) {
        bool found = false;
        for (int sy = y * 2; sy <= y * 2 + 1 && !found; ++sy)
          for (int sx = x * 2; sx <= x * 2 + 1 && !found; ++sx)
            found = rgbAt(*picture, x, y) == testing::testPictureRgb(producer, n, sx, sy);
        if (!found) return false;
      }
    return true;
  };
  bool fitted = false;
  for (uint64_t n = 0; n <= portal().seen().frames && !fitted; ++n) fitted = fits(n);
  EXPECT_TRUE(fitted);
  EXPECT_EQ(status->getStatusMessage(), "Element Ok");
}

// The permission of a granted cast is stored and offered next time; the
// portal takes each token once. A token it does not know is refused: the
// client drops it and asks again, without one.
TEST_F(ScreenCastTest, PermissionIsStoredOfferedAndDroppedWhenRefused) {
  std::string const path = screenCastTokenPath(ScreenCastSourceType::MONITOR);
  EXPECT_EQ(path, session_->configDirectory() + "/screencast_monitor.token");
  auto capture = [] { return getPortalScreenshot("screen:portal", Size(-1, -1), nullptr); };
  auto stored = [&] {
    std::string token;
    File::readFileToStringIfExists(path, &token);
    return token.substr(0, token.find('\n'));
  };
  size_t const before = portal().seen().offered_tokens.size();
  ASSERT_TRUE(capture());
  std::string const first = stored();
  ASSERT_NE(first, "");
  ASSERT_TRUE(capture());
  ASSERT_TRUE(File::writeStringToFile(path, "forgotten-token\n"));
  ASSERT_TRUE(capture());
  auto const seen = portal().seen();
  std::vector<std::string> const offered(seen.offered_tokens.begin() + before,
                                         seen.offered_tokens.end());
  EXPECT_EQ(offered, (std::vector<std::string>{"", first, "forgotten-token", ""}));
  EXPECT_NE(stored(), "forgotten-token");
  EXPECT_NE(stored(), first);

  // A portal too old for permissions is offered none and stores none.
  TestPortalConfig old;
  old.version = 3;
  portal().configure(old);
  File::remove(path);
  ASSERT_TRUE(capture());
  EXPECT_EQ(stored(), "");
}

struct Refusal {
  char const* name;
  char const* id;
  uint32_t start_response;
  uint32_t source_types;
  char const* message;
};

class ScreenCastRefusalTest : public ScreenCastTest,
                              public ::testing::WithParamInterface<Refusal> {};

TEST_P(ScreenCastRefusalTest, EndsInTheStatusWithTheReason) {
  TestPortalConfig config;
  config.start_response = GetParam().start_response;
  config.source_types = GetParam().source_types;
  portal().configure(config);
  startSource(GetParam().id);
  EXPECT_TRUE(failsWith(GetParam().message));
  EXPECT_EQ(sink_->count(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ScreenCastRefusalTest,
    ::testing::Values(
        Refusal{"Cancelled", "screen:portal", 1, 3, "Screen sharing was cancelled by the user"},
        Refusal{"Failed", "window:portal", 2, 3,
                "The screen cast portal could not start the screen cast"},
        Refusal{"NoWindows", "window:portal", 0, 1, "The screen cast portal cannot share windows"}),
    [](auto const& info) { return std::string(info.param.name); });

// Without a session bus there is no portal to ask.
TEST_F(ScreenCastTest, WithoutABusEndsInTheStatus) {
  std::string const bus = getenv("DBUS_SESSION_BUS_ADDRESS");
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
  startSource("screen:portal");
  auto status = source_->getStatus();
  auto const deadline = SteadyClock::now() + std::chrono::seconds(30);
  while (status->getStatusCode() == status_codes::Ok && SteadyClock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
  EXPECT_EQ(
      status->getStatusMessage().rfind("No D-Bus session bus for the screen cast portal: ", 0), 0u)
      << status->getStatusMessage();
}

// Sharing stops in the compositor (the stream's node goes) or in the
// portal (the session is closed): the loop stops with the reason.
TEST_F(ScreenCastTest, EndOfTheSharedStreamEndsInTheStatus) {
  using Stop = void (testing::TestScreenCastPortal::*)();
  struct Case {
    Stop stop;
    char const* message;
  } const cases[] = {
      {&testing::TestScreenCastPortal::stopStream, "The shared screen stream ended"},
      {&testing::TestScreenCastPortal::closeSession,
       "The screen cast portal closed the session (sharing was stopped)"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.message);
    startSource("screen:portal");
    ASSERT_TRUE(sink_->waitFor([](ImageBuffer const&, int count) { return count >= 2; }));
    (portal().*c.stop)();
    EXPECT_TRUE(failsWith(c.message));
    EXPECT_EQ(value("width"), PropertyValue(0));
    stopSource();
  }
}

// A tick a third of "req_fps" apart sends the newest picture, whatever
// the producer's own rate (60 here).
TEST_F(ScreenCastTest, SendsAtAThirdOfTheRequestedRate) {
  startSource("screen:portal", 45.0f);  // 15 pictures a second
  ASSERT_TRUE(sink_->waitFor([](ImageBuffer const&, int count) { return count >= 1; }));
  auto const first = SteadyClock::now();
  int const start = sink_->count();
  ASSERT_TRUE(sink_->waitFor([&](ImageBuffer const&, int count) { return count >= start + 15; }));
  double const seconds = std::chrono::duration<double>(SteadyClock::now() - first).count();
  // 15 intervals of 67 ms; loose bounds for a loaded machine.
  EXPECT_GT(seconds, 0.6);
  EXPECT_LT(seconds, 5.0);
}

// Stopping mid-stream, or while the portal has not answered (a user who
// never chooses), joins every thread the cast started.
TEST_F(ScreenCastTest, TeardownLeavesNoThreadBehindAndNeverWaitsForThePortal) {
  size_t const baseline = threadCount();
  startSource("screen:portal");
  ASSERT_TRUE(sink_->waitFor([](ImageBuffer const&, int count) { return count >= 2; }));
  EXPECT_GT(threadCount(), baseline);
  stopSource();
  EXPECT_TRUE(threadCountReaches(baseline));

  TestPortalConfig silent;
  silent.answer_start = false;
  portal().configure(silent);
  int const sessions = portal().seen().sessions;
  startSource("screen:portal");
  auto const deadline = SteadyClock::now() + std::chrono::seconds(30);
  while (portal().seen().types.size() == 0 || portal().seen().sessions == sessions) {
    ASSERT_LT(SteadyClock::now(), deadline);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  auto const stopping = SteadyClock::now();
  stopSource();
  EXPECT_LT(std::chrono::duration<double>(SteadyClock::now() - stopping).count(), 5.0);
  EXPECT_TRUE(threadCountReaches(baseline));
}

}  // namespace
}  // namespace dravo::media
