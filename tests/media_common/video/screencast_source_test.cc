// Screen capture through the desktop's screen-cast portal and PipeWire,
// against a private bus, PipeWire daemon and session manager and a test
// portal whose stream shows known pictures: the pixels, crop, stride and
// pointer that arrive, the pacing, the stored permission, and every way a
// cast can fail or end.

#include <gtest/gtest.h>

#include <filesystem>

#include "common/file.h"
#include "common/property_node.h"
#include "media_common/link_handle.h"
#include "media_common/threaded_scheduler.h"
#include "media_common/video/image_buffer_cache.h"
#include "media_common/video/screencast_portal.h"
#include "media_common/video/screencast_session.h"
#include "media_common/video/x11_screen_source.h"
#include "tests/media_common/video/screen_source_test_support.h"
#include "tests/support/portal_test_session.h"

namespace dravo::media {
namespace {

using SteadyClock = std::chrono::steady_clock;
using testing::TestPicture;
using testing::TestPortalConfig;
using video_testing::eventually;
using video_testing::NewestFrameSink;
using video_testing::rgbAt;

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

// A joined thread can stay listed for a moment after its join returns: the
// kernel wakes the joiner before it reaps the thread. Callers poll.
size_t threadCount() {
  return size_t(std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}));
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

  void startSource(char const* id) {
    root_ = PropertyNode::create("pipeline");
    source_ = createScreenSource(ElementArgs(scheduler_, root_->getNode("screen", true)));
    sink_ = createElement<NewestFrameSink>(ElementArgs(scheduler_, root_->getNode("sink", true)));
    link_ = LinkHandle(source_->getOutputPad()->link(*sink_->getInputPad()));
    source_->getPropertyNode("req_fps")->setValue(PropertyValue(30.0f));
    source_->getPropertyNode("window")->setValue(PropertyValue(id));
    source_->getPropertyNode("enabled")->setValue(PropertyValue(true));
  }
  void stopSource() {
    link_ = LinkHandle();
    source_.reset();
    sink_.reset();
  }

  PropertyValue value(char const* name) { return source_->getPropertyNode(name)->getValue(); }
  // True once the source's status is an error with `message`.
  bool failsWith(std::string const& message) {
    auto status = source_->getStatus();
    return eventually([&] {
             return status->getStatusCode() == status_codes::Error_ScreenCaptureAPI &&
                    value("active") == PropertyValue(false);
           }) &&
           (status->getStatusMessage() == message ||
            (ADD_FAILURE() << status->getStatusMessage(), false));
  }

  static inline testing::PortalTestSession* session_ = nullptr;
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  std::shared_ptr<Scheduler> scheduler_ = createThreadedScheduler(2, nullptr);
  std::shared_ptr<ScreenVideoSource> source_;
  std::shared_ptr<NewestFrameSink> sink_;
  LinkHandle link_;
};

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
    frames[n % 20 < 10 ? 0 : 1] =
        n % 20 < 10 || n % 20 >= 12 ? ImageBufferCache::sharePixels(frame) : frames[1];
    return frames[0] && frames[1];
  }));
  for (auto const& frame : frames) {
    EXPECT_EQ(frame->format().pixel_format_, ImageBuffer::IMAGE_BGRX32);
    EXPECT_TRUE(showsFrame(*frame, config.picture, frameNumber(*frame)));
  }
  EXPECT_EQ(value("width"), PropertyValue(config.picture.visibleWidth()));
  EXPECT_EQ(value("active"), PropertyValue(true));
  EXPECT_EQ(source_->getStatus()->getStatusMessage(), "Element Ok");
  // A monitor, with the pointer as metadata.
  EXPECT_EQ(portal().seen().types.back(), 1u);
  EXPECT_EQ(portal().seen().cursor_modes.back(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Pictures, ScreenCastPictureTest,
                         ::testing::Values(TestPicture{},
                                           TestPicture{320, 240, 320 * 4 + 3, 24, 10, 256, 200}),
                         [](auto const& info) {
                           return info.param.crop_width ? "CroppedOddStride" : "Whole";
                         });

// A one-shot picture is fitted to a requested size by nearest pixel: every
// pixel of the smaller picture is one of the pixels of the cell it covers.
TEST_F(ScreenCastTest, OneShotPictureFittedToARequestedSize) {
  auto status = createStatus(root_->getNode("capture/status", true));
  auto picture = getPortalScreenshot("screen:portal", Size(160, 100), status);
  ASSERT_TRUE(picture) << status->getStatusMessage();
  EXPECT_EQ(status->getStatusMessage(), "Element Ok");
  ASSERT_EQ(picture->width() * 1000 + picture->height(), 160120);  // 4:3 kept
  auto fits = [&](uint64_t n) {
    for (int y = 0; y < picture->height(); ++y)
      for (int x = 0; x < picture->width(); ++x) {
        int found = 0;
        for (int cell = 0; cell < 4; ++cell)
          found += rgbAt(*picture, x, y) ==
                   testing::testPictureRgb(TestPicture(), n, x * 2 + cell % 2, y * 2 + cell / 2);
        if (!found) return false;
      }
    return true;
  };
  // The picture's number may be sampled away: it is one of those sent.
  bool fitted = false;
  for (uint64_t n = 0; n <= portal().seen().frames && !fitted; ++n) fitted = fits(n);
  EXPECT_TRUE(fitted);
}

// The permission of a granted cast is stored and offered next time; the
// portal takes each token once. A token it does not know is refused: the
// client drops it and asks again, without one. A portal too old for
// permissions is offered none and stores none.
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
  auto const offered = portal().seen().offered_tokens;
  EXPECT_EQ(std::vector<std::string>(offered.begin() + before, offered.end()),
            (std::vector<std::string>{"", first, "forgotten-token", ""}));
  EXPECT_NE(stored(), "forgotten-token");
  EXPECT_NE(stored(), first);

  TestPortalConfig old;
  old.version = 3;
  portal().configure(old);
  File::remove(path);
  ASSERT_TRUE(capture());
  EXPECT_EQ(stored(), "");
}

// The portal refuses (before any frame), or sharing stops in the
// compositor (the stream's node goes) or in the portal (the session is
// closed): the loop stops with the reason.
struct Ending {
  char const* name;
  char const* id;
  uint32_t start_response;
  uint32_t source_types;
  void (testing::TestScreenCastPortal::*stop)();
  char const* message;
};

class ScreenCastEndingTest : public ScreenCastTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(ScreenCastEndingTest, EndsInTheStatusWithTheReason) {
  TestPortalConfig config;
  config.start_response = GetParam().start_response;
  config.source_types = GetParam().source_types;
  portal().configure(config);
  startSource(GetParam().id);
  if (GetParam().stop) {
    ASSERT_TRUE(sink_->waitForCount(2));
    (portal().*GetParam().stop)();
  }
  EXPECT_TRUE(failsWith(GetParam().message));
  EXPECT_EQ(value("width"), PropertyValue(0));
  EXPECT_TRUE(GetParam().stop || sink_->count() == 0);
}

using Portal = testing::TestScreenCastPortal;
INSTANTIATE_TEST_SUITE_P(
    Answers, ScreenCastEndingTest,
    ::testing::Values(Ending{"Cancelled", "screen:portal", 1, 3, nullptr,
                             "Screen sharing was cancelled by the user"},
                      Ending{"Failed", "window:portal", 2, 3, nullptr,
                             "The screen cast portal could not start the screen cast"},
                      Ending{"NoWindows", "window:portal", 0, 1, nullptr,
                             "The screen cast portal cannot share windows"},
                      Ending{"StreamEnded", "screen:portal", 0, 3, &Portal::stopStream,
                             "The shared screen stream ended"},
                      Ending{"SessionClosed", "screen:portal", 0, 3, &Portal::closeSession,
                             "The screen cast portal closed the session (sharing was stopped)"}),
    [](auto const& info) { return std::string(info.param.name); });

// Without a session bus there is no portal to ask.
TEST_F(ScreenCastTest, WithoutABusEndsInTheStatus) {
  std::string const bus = getenv("DBUS_SESSION_BUS_ADDRESS");
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
  startSource("screen:portal");
  auto status = source_->getStatus();
  eventually([&] { return status->getStatusCode() != status_codes::Ok; });
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
  EXPECT_EQ(
      status->getStatusMessage().rfind("No D-Bus session bus for the screen cast portal: ", 0), 0u)
      << status->getStatusMessage();
}

// Stopping mid-stream, or while the portal has not answered (a user who
// never chooses), joins every thread the cast started.
TEST_F(ScreenCastTest, TeardownLeavesNoThreadBehindAndNeverWaitsForThePortal) {
  size_t const baseline = threadCount();
  startSource("screen:portal");
  ASSERT_TRUE(sink_->waitForCount(2));
  EXPECT_GT(threadCount(), baseline);
  stopSource();
  EXPECT_TRUE(eventually([&] { return threadCount() == baseline; }));

  TestPortalConfig silent;
  silent.answer_start = false;
  portal().configure(silent);
  size_t const selected = portal().seen().types.size();
  startSource("screen:portal");
  ASSERT_TRUE(eventually([&] { return portal().seen().types.size() > selected; }));
  auto const stopping = SteadyClock::now();
  stopSource();
  EXPECT_LT(std::chrono::duration<double>(SteadyClock::now() - stopping).count(), 5.0);
  EXPECT_TRUE(eventually([&] { return threadCount() == baseline; }));
}

}  // namespace
}  // namespace dravo::media
