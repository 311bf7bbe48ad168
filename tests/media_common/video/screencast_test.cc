// Screen casts: frames built from stream pictures, whose claims are checked
// against the bytes handed over, and capture through the desktop's
// screen-cast portal and PipeWire against a private bus, PipeWire daemon and
// session manager and a test portal whose stream shows known pictures: the
// pixels and pointer that arrive, the stored permission, and every way a
// cast can fail or end.

#include <gtest/gtest.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

#include <filesystem>
#include <fstream>

#include "common/file.h"
#include "media_common/video/image_buffer_cache.h"
#include "media_common/video/screencast_frame.h"
#include "media_common/video/screencast_portal.h"
#include "media_common/video/screencast_session.h"
#include "media_common/video/x11_screen_source.h"
#include "tests/media_common/video/capture_source_test_fixture.h"
#include "tests/support/portal_test_session.h"

namespace dravo::media {
namespace {

using testing::TestPicture;
using testing::TestPortalConfig;

// The colour at (x, y) of a BGRX picture as 0xRRGGBB.
uint32_t rgbAt(ImageBuffer const& image, int x, int y) {
  uint8_t const* pixel = image.getPixelAddress(x * 4, y, 0);
  return uint32_t{pixel[2]} << 16 | uint32_t{pixel[1]} << 8 | pixel[0];
}

TEST(ScreenCastFrameTest, HonoursLayoutStrideAndCropAndRefusesWhatDoesNotFit) {
  using L = StreamPixelLayout;
  struct Case {
    char const* name;
    int stride;              // of the bytes
    int64_t claimed_stride;  // what the stream says
    size_t size_cut;         // bytes missing at the end
    L layout;
    std::optional<StreamRect> crop;
    int width, height;  // expected frame; 0 for a refusal
  } const cases[] = {
      {"packed BGRx", 24, 0, 0, L::BGRX, {}, 6, 4},
      {"crop, odd stride", 27, 27, 0, L::RGBX, StreamRect{2, 1, 3, 2}, 3, 2},
      {"crop clipped", 24, 24, 0, L::BGRX, StreamRect{4, 2, 9, 9}, 2, 2},
      // The last row needs only its pixels, not its padding.
      {"short last row", 27, 27, 3, L::BGRX, {}, 6, 4},
      {"truncated", 24, 24, 1, L::BGRX, {}, 0, 0},
      {"stride too short", 24, 20, 0, L::BGRX, {}, 0, 0},
      {"crop outside", 24, 24, 0, L::BGRX, StreamRect{6, 0, 2, 2}, 0, 0},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    // A 6x4 picture whose pixel (x, y) is bytes {x, y, 0x80 + x, 0xee}.
    std::vector<uint8_t> bytes(size_t(c.stride) * 4, 0x11);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) {
        uint8_t* p = &bytes[size_t(y) * c.stride + size_t(x) * 4];
        p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = uint8_t(0x80 + x), p[3] = 0xee;
      }
    StreamPicture const in{
        bytes.data(), bytes.size() - c.size_cut, 6, 4, c.claimed_stride, c.layout, c.crop};
    ScreenCastFrameBuilder builder;
    char const* why = nullptr;
    auto frame = builder.build(in, StreamCursor(), &why);
    if (c.width == 0) {
      EXPECT_TRUE(!frame && why);
      continue;
    }
    ASSERT_TRUE(frame) << why;
    EXPECT_EQ(frame->width() * 100 + frame->height(), c.width * 100 + c.height);
    EXPECT_EQ(frame->planes()[0].stride_, c.width * 4);
    // Both corners: the whole area, not a shifted one.
    bool const swapped = c.layout == L::RGBA || c.layout == L::RGBX;
    for (auto [fx, fy] : {std::pair{0, 0}, {c.width - 1, c.height - 1}}) {
      uint32_t const x = uint32_t((c.crop ? c.crop->x : 0) + fx);
      uint32_t const y = uint32_t((c.crop ? c.crop->y : 0) + fy);
      EXPECT_EQ(rgbAt(*frame, fx, fy),
                swapped ? x << 16 | y << 8 | (0x80 + x) : (0x80 + x) << 16 | y << 8 | x);
    }
  }
}

// Cursor metadata: a spa_meta_cursor, then a bitmap header and its pixels.
struct CursorMeta {
  std::vector<uint8_t> bytes;
  spa_meta_cursor* cursor() { return reinterpret_cast<spa_meta_cursor*>(bytes.data()); }
  spa_meta_bitmap* bitmap() {
    return reinterpret_cast<spa_meta_bitmap*>(bytes.data() + sizeof(spa_meta_cursor));
  }
};

// A 2x2 opaque white pointer (BGRA) at `x`, `y` with its hot spot at (1, 1).
CursorMeta whitePointer(int x, int y) {
  CursorMeta meta;
  meta.bytes.assign(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + 16, 0xff);
  *meta.cursor() = {7, 0, {x, y}, {1, 1}, sizeof(spa_meta_cursor)};
  *meta.bitmap() = {SPA_VIDEO_FORMAT_BGRA, {2, 2}, 8, sizeof(spa_meta_bitmap)};
  return meta;
}

TEST(ScreenCastFrameTest, PointerFromMetadataSurvivesHostileClaimsAndMovesCleanly) {
  std::vector<uint8_t> const bytes(6 * 4 * 4, 0x40);
  StreamPicture const in{bytes.data(), bytes.size(), 6, 4, 0, StreamPixelLayout::BGRX, {}};
  ScreenCastFrameBuilder builder;
  StreamCursor cursor;
  char const* why = nullptr;

  CursorMeta meta = whitePointer(2, 2);
  ASSERT_TRUE(cursor.update(meta.bytes.data(), meta.bytes.size()));
  auto first = builder.build(in, cursor, &why);
  ASSERT_TRUE(first);
  EXPECT_EQ(rgbAt(*first, 2, 2), 0xffffffu);

  // Claims that do not fit the metadata leave the pointer's picture as it
  // was; only the position is taken.
  struct Hostile {
    char const* name;
    void (*spoil)(CursorMeta&);
  } const hostile[] = {
      {"bitmap beyond the metadata",
       [](CursorMeta& m) { m.cursor()->bitmap_offset = uint32_t(m.bytes.size()); }},
      {"pixels beyond the metadata", [](CursorMeta& m) { m.bitmap()->size.height = 64; }},
      {"offset inside the header", [](CursorMeta& m) { m.bitmap()->offset = 4; }},
      {"unknown format", [](CursorMeta& m) { m.bitmap()->format = SPA_VIDEO_FORMAT_I420; }},
      {"stride shorter than a row", [](CursorMeta& m) { m.bitmap()->stride = 2; }},
  };
  for (auto const& h : hostile) {
    SCOPED_TRACE(h.name);
    CursorMeta spoiled = whitePointer(4, 2);
    spoiled.bitmap()->size = {1, 1};  // taken, this would show
    h.spoil(spoiled);
    cursor.update(spoiled.bytes.data(), spoiled.bytes.size());
    EXPECT_EQ(cursor.placed().x_, 3);
    EXPECT_EQ(cursor.placed().width_, 2);
  }
  EXPECT_FALSE(cursor.update(meta.bytes.data(), sizeof(spa_meta_cursor) - 1));

  // A move with no new picture redraws the last frame: the old place is
  // clean again.
  CursorMeta moved = whitePointer(5, 3);
  moved.cursor()->bitmap_offset = 0;
  ASSERT_TRUE(cursor.update(moved.bytes.data(), moved.bytes.size()));
  auto second = builder.redrawCursor(cursor);
  ASSERT_TRUE(second);
  EXPECT_EQ(rgbAt(*second, 1, 1), 0x404040u);
  EXPECT_EQ(rgbAt(*second, 5, 3), 0xffffffu);
  EXPECT_EQ(rgbAt(*first, 4, 2), 0x404040u);  // sent frames stay

  // Blending is premultiplied, leaves padding bytes alone and clips: at
  // (-1, -1), only the last pixel, half-alpha red, shows.
  CursorMeta edge = whitePointer(0, 0);
  std::memcpy(&edge.bytes[edge.bytes.size() - 4], "\x00\x00\x80\x80", 4);
  ASSERT_TRUE(cursor.update(edge.bytes.data(), edge.bytes.size()));
  auto third = builder.build(in, cursor, &why);
  ASSERT_TRUE(third);
  EXPECT_EQ(rgbAt(*third, 0, 0), 0xa02020u);  // 0x80 + 0x40 * 127 / 255
  EXPECT_EQ(third->getPixelAddress(0, 0, 0)[3], 0x40);

  // A bitmap without pixels hides the pointer.
  CursorMeta hidden = whitePointer(5, 3);
  hidden.bitmap()->offset = 0;
  cursor.update(hidden.bytes.data(), hidden.bytes.size());
  EXPECT_FALSE(cursor.visible());
}

// Whether `image` is frame `n` of the test picture, pixel for pixel (the
// padding byte aside).
::testing::AssertionResult showsFrame(ImageBuffer const& image, uint64_t n) {
  TestPicture const picture;
  if (image.width() != picture.width || image.height() != picture.height)
    return ::testing::AssertionFailure() << image.width() << "x" << image.height();
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (rgbAt(image, x, y) != testing::testPictureRgb(picture, n, x, y))
        return ::testing::AssertionFailure() << "frame " << n << " differs at " << x << ", " << y;
  return ::testing::AssertionSuccess();
}

// Threads of this process, less the process-wide deferred-call and timer
// threads, which start on first use and stay. A joined thread can stay
// listed for a moment after its join returns: the kernel wakes the joiner
// before it reaps the thread. Callers poll.
size_t threadCount() {
  size_t count = 0;
  for (auto const& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name;
    std::getline(std::ifstream(task.path() / "comm"), name);
    count += name != "dravo_deferred" && name != "dravo_timer";
  }
  return count;
}

// One private desktop session for the suite; each test starts a screen
// source on the capture fixture.
class ScreenCastTest : public CaptureSourceTest<ScreenVideoSource> {
 protected:
  static void SetUpTestSuite() { session_ = new testing::PortalTestSession(); }
  static void TearDownTestSuite() { delete std::exchange(session_, nullptr); }

  void SetUp() override {
    ASSERT_EQ(session_->error(), "");
    File::remove(screenCastTokenPath(ScreenCastSourceType::MONITOR));
    portal().configure(TestPortalConfig());
  }
  testing::TestScreenCastPortal& portal() { return session_->portal(); }

  void startSource(char const* id) {
    root_ = PropertyNode::create("pipeline");
    ElementArgs args(scheduler_, root_->getNode("screen", true));
    args.property("req_fps", PropertyValue(30.0f))
        .property("window", PropertyValue(id))
        .property("enabled", PropertyValue(true));
    attach(createScreenSource(args));
  }
  PropertyValue value(char const* name) { return source_->getPropertyNode(name)->getValue(); }

  static inline testing::PortalTestSession* session_ = nullptr;
};

// The pointer is drawn from its metadata, also on frames whose buffer
// carried only its position.
TEST_F(ScreenCastTest, FramesShowTheProducersPixelsAndPointer) {
  startSource("screen:portal");
  std::shared_ptr<ImageBuffer const> frames[2];  // with the pointer's picture, and without
  // Frames are let go once looked at: a source lets only two live
  // downstream.
  ASSERT_TRUE(eventually([&] {
    for (auto const& frame : sink_->frames()) {
      uint64_t const n = testing::testPictureNumber(frame->data());
      // Well into a run of buffers without the pointer's picture.
      if (n % 20 < 10 || n % 20 >= 12)
        frames[n % 20 < 10 ? 0 : 1] = ImageBufferCache::sharePixels(*frame);
    }
    sink_->clear();
    return frames[0] && frames[1];
  }));
  for (auto const& frame : frames)
    EXPECT_TRUE(showsFrame(*frame, testing::testPictureNumber(frame->data())));
  EXPECT_EQ(value("width"), PropertyValue(TestPicture().width));
  EXPECT_EQ(value("active"), PropertyValue(true));
  EXPECT_EQ(source_->getStatus()->getStatusMessage(), "Element Ok");
}

// One-shot pictures: the permission of a granted cast is stored and
// offered next time; the portal takes each token once. A token it does not
// know is refused: the client drops it and asks again, without one. A
// picture is fitted to a requested size, keeping its aspect.
TEST_F(ScreenCastTest, PermissionIsStoredOfferedAndDroppedWhenRefused) {
  std::string const path = screenCastTokenPath(ScreenCastSourceType::MONITOR);
  EXPECT_EQ(path, session_->configDirectory() + "/screencast_monitor.token");
  auto capture = [] { return getPortalScreenshot("screen:portal", Size(160, 100), nullptr); };
  auto stored = [&] {
    std::string token;
    File::readFileToStringIfExists(path, &token);
    return token.substr(0, token.find('\n'));
  };
  size_t const before = portal().seen().offered_tokens.size();
  auto const picture = capture();
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width() * 1000 + picture->height(), 160120);
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
}

// The portal refuses or cannot be reached (before any frame), or sharing
// stops in the compositor (the stream's node goes) or in the portal (the
// session is closed): the loop stops with the reason.
struct Ending {
  char const* name;
  char const* id;
  uint32_t start_response;
  uint32_t source_types;
  void (testing::TestScreenCastPortal::*stop)();
  char const* message;  // the start of it
  char const* bus = nullptr;
};

class ScreenCastEndingTest : public ScreenCastTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(ScreenCastEndingTest, EndsInTheStatusWithTheReason) {
  TestPortalConfig config;
  config.start_response = GetParam().start_response;
  config.source_types = GetParam().source_types;
  portal().configure(config);
  std::string const bus = getenv("DBUS_SESSION_BUS_ADDRESS");
  if (GetParam().bus) setenv("DBUS_SESSION_BUS_ADDRESS", GetParam().bus, 1);
  startSource(GetParam().id);
  if (GetParam().stop) {
    ASSERT_TRUE(eventually([&] { return sink_->count() >= 2; }));
    (portal().*GetParam().stop)();
  }
  auto status = source_->getStatus();
  EXPECT_TRUE(eventually([&] {
    return status->getStatusCode() == status_codes::Error_ScreenCaptureAPI &&
           value("active") == PropertyValue(false);
  }));
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
  EXPECT_EQ(status->getStatusMessage().rfind(GetParam().message, 0), 0u)
      << status->getStatusMessage();
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
                             "The screen cast portal closed the session (sharing was stopped)"},
                      Ending{"NoBus", "screen:portal", 0, 3, nullptr,
                             "No D-Bus session bus for the screen cast portal: ",
                             "unix:path=/nonexistent/bus"}),
    [](auto const& info) { return std::string(info.param.name); });

// Stopping mid-stream, or while the portal has not answered (a user who
// never chooses), joins every thread the cast started.
TEST_F(ScreenCastTest, TeardownLeavesNoThreadBehindAndNeverWaitsForThePortal) {
  size_t const baseline = threadCount();
  startSource("screen:portal");
  ASSERT_TRUE(eventually([&] { return sink_->count() >= 2; }));
  EXPECT_GT(threadCount(), baseline);
  TearDown();
  EXPECT_TRUE(eventually([&] { return threadCount() == baseline; }));

  TestPortalConfig silent;
  silent.answer_start = false;
  portal().configure(silent);
  size_t const selected = portal().seen().offered_tokens.size();
  startSource("screen:portal");
  ASSERT_TRUE(eventually([&] { return portal().seen().offered_tokens.size() > selected; }));
  auto const stopping = std::chrono::steady_clock::now();
  TearDown();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - stopping).count(),
            5.0);
  EXPECT_TRUE(eventually([&] { return threadCount() == baseline; }));
}

}  // namespace
}  // namespace dravo::media
