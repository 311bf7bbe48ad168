// Screen and window pictures from a private Xvfb server with windows of
// known colours.

#include "media_common/video/screenshot_x11.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/property_node.h"
#include "media_common/video/cursor_overlay.h"
#include "media_common/video/x11_connection.h"
#include "tests/media_common/video/x11_test_display.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

constexpr uint32_t kRed = 0xff0000;
constexpr uint32_t kGreen = 0x00ff00;
constexpr uint32_t kBlue = 0x0000ff;

// The colour at (x, y) of a BGRX picture as 0xRRGGBB.
uint32_t rgbAt(ImageBuffer const& image, int x, int y) {
  uint8_t const* pixel = image.getPixelAddress(x * 4, y, 0);
  return uint32_t{pixel[2]} << 16 | uint32_t{pixel[1]} << 8 | pixel[0];
}

// Whether every pixel of the rectangle has colour `rgb`.
::testing::AssertionResult allOf(ImageBuffer const& image, int x0, int y0, int x1, int y1,
                                 uint32_t rgb) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (rgbAt(image, x, y) != rgb)
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << y << ") is " << std::hex << rgbAt(image, x, y);
  return ::testing::AssertionSuccess();
}

std::string idOf(Window window) { return std::to_string(window); }

class ScreenshotX11Test : public testing::X11Test {
 protected:
  static void SetUpTestSuite() {
    X11Test::SetUpTestSuite();
    if (!x_->display()) return;
    red_ = x_->createWindow(100, 100, 300, 200, kRed, "Red window");
    green_ = x_->createWindow(500, 100, 300, 200, kGreen, "Gr\xc3\xbcn window", true);
    utility_ = x_->createWindow(900, 100, 200, 200, kBlue, "Utility window", false,
                                "_NET_WM_WINDOW_TYPE_UTILITY");
    black_ = x_->createWindow(100, 500, 200, 200, 0, "Black window");
    untitled_ = x_->createWindow(500, 500, 100, 100, kBlue, "");
  }
  static inline Window red_ = 0, green_ = 0, utility_ = 0, black_ = 0, untitled_ = 0;
};

TEST_F(ScreenshotX11Test, ListsTitledWindowsButNotBlackUtilityOrUntitledOnes) {
  std::vector<WindowInfo> windows;
  getWindows(&windows);
  auto titleOf = [&](Window window) -> std::string {
    for (auto const& info : windows)
      if (info.handle_ == idOf(window)) return info.title_;
    return "(not listed)";
  };
  EXPECT_EQ(titleOf(red_), "Red window");
  EXPECT_EQ(titleOf(green_), "Gr\xc3\xbcn window");
  for (Window hidden : {utility_, black_, untitled_}) EXPECT_EQ(titleOf(hidden), "(not listed)");

  // With a window manager's client list only the listed windows count.
  Window const listed[] = {green_, black_};
  XChangeProperty(x_->display(), x_->root(), x_->atom("_NET_CLIENT_LIST"), XA_WINDOW, 32,
                  PropModeReplace, reinterpret_cast<unsigned char const*>(listed), 2);
  XSync(x_->display(), False);
  windows.clear();
  getWindows(&windows);
  XDeleteProperty(x_->display(), x_->root(), x_->atom("_NET_CLIENT_LIST"));
  XSync(x_->display(), False);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].handle_, idOf(green_));

  std::vector<DisplayInfo> displays;
  getDisplays(&displays);
  EXPECT_EQ(displays.size(), 1u);
}

// Window and display pictures come out alike through MIT-SHM and
// XGetImage. 640x480 is too narrow for the screen's 16:9: the width grows
// to trunc(480 * 16 / 9) and the picture is scaled by 4/9.
TEST_F(ScreenshotX11Test, WindowAndDisplayPicturesWithAndWithoutSharedMemoryAndFitted) {
  for (bool shared_memory : {true, false}) {
    SCOPED_TRACE(shared_memory ? "MIT-SHM" : "XGetImage");
    X11Connection::setSharedMemoryAllowed(shared_memory);
    auto status = createStatus(PropertyNode::create("capture")->getNode("status", true));
    status->setStatus(status_codes::Error_Unknown, "before");
    auto window = getScreenshot(idOf(red_), Size(-1, -1), status);
    ASSERT_TRUE(window);
    ASSERT_EQ(window->width() * window->height(), 300 * 200);
    EXPECT_TRUE(allOf(*window, 0, 0, 300, 200, kRed));
    EXPECT_EQ(status->getStatusMessage(), "Element Ok");
    auto full = getScreenshot("0", Size(-1, -1), nullptr);
    ASSERT_TRUE(full);
    ASSERT_EQ(full->width() * full->height(), 1920 * 1080);
    EXPECT_TRUE(allOf(*full, 100, 100, 400, 300, kRed));
    EXPECT_TRUE(allOf(*full, 500, 100, 800, 300, kGreen));
    EXPECT_NE(rgbAt(*full, 99, 99), kRed);
  }
  X11Connection::setSharedMemoryAllowed(true);

  auto fitted = getScreenshot("0", Size(640, 480), nullptr);
  ASSERT_TRUE(fitted);
  ASSERT_EQ(fitted->width() * 1000 + fitted->height(), 853480);
  // The red window covers (44.4, 44.4)-(177.8, 133.3).
  EXPECT_TRUE(allOf(*fitted, 46, 46, 176, 132, kRed));

  Size const screen(1920, 1080);
  EXPECT_EQ(fitScreenshotSize(screen, Size(1920, 100)), screen);  // not narrower
  EXPECT_EQ(fitScreenshotSize(screen, Size(640, 100)), Size(640, 360));
  EXPECT_EQ(fitScreenshotSize(screen, Size(100, 5000)), Size(1920, 1080));  // never larger
}

// The index of the monitor named `name` on the test display, as a display id.
std::string monitorId(testing::X11TestDisplay& x, Atom name) {
  int count = 0;
  XRRMonitorInfo* monitors = XRRGetMonitors(x.display(), x.root(), True, &count);
  std::string id;
  for (int i = 0; i < count; ++i)
    if (monitors[i].name == name) id = std::to_string(i);
  XRRFreeMonitors(monitors);
  return id;
}

// A monitor is read where it is now, even right after it moved; unscaled
// pictures show the pointer, over the red window here.
TEST_F(ScreenshotX11Test, DisplaysFollowTheMonitorLayoutAndShowThePointer) {
  Display* display = x_->display();
  Atom const name = x_->atom("SIDE");
  auto placeMonitor = [&](int x, int y) {
    XRRMonitorInfo* monitor = XRRAllocateMonitor(display, 0);
    monitor->name = name;
    monitor->x = x;
    monitor->y = y;
    monitor->width = 300;
    monitor->height = 200;
    XRRSetMonitor(display, x_->root(), monitor);
    XRRFreeMonitors(monitor);
    XSync(display, False);
  };
  placeMonitor(500, 100);
  std::string const id = monitorId(*x_, name);
  ASSERT_FALSE(id.empty());
  auto green = getScreenshot(id, Size(-1, -1), nullptr);
  ASSERT_TRUE(green);
  EXPECT_TRUE(allOf(*green, 0, 0, 300, 200, kGreen));
  XRRDeleteMonitor(display, x_->root(), name);
  placeMonitor(100, 100);
  ASSERT_EQ(monitorId(*x_, name), id);
  auto red = getScreenshot(id, Size(-1, -1), nullptr);
  XRRDeleteMonitor(display, x_->root(), name);
  XSync(display, False);
  ASSERT_TRUE(red);
  EXPECT_TRUE(allOf(*red, 0, 0, 300, 200, kRed));

  XWarpPointer(display, None, x_->root(), 0, 0, 0, 0, 250, 200);
  XSync(display, False);
  auto pointed = getScreenshot("0", Size(-1, -1), nullptr);
  XWarpPointer(display, None, x_->root(), 0, 0, 0, 0, 1900, 1060);
  XSync(display, False);
  ASSERT_TRUE(pointed);
  EXPECT_FALSE(allOf(*pointed, 240, 190, 260, 210, kRed));
  EXPECT_TRUE(allOf(*pointed, 100, 100, 200, 150, kRed));
}

// Ids that are no number are refused, numbers that are no window are no
// display; a hidden window stops the capture without an error, and without
// a server there is nothing to capture.
TEST_F(ScreenshotX11Test, RefusedIdsHiddenWindowsAndNoServer) {
  Window hidden = x_->createWindow(1200, 600, 100, 100, kRed, "Hidden window");
  XUnmapWindow(x_->display(), hidden);
  XSync(x_->display(), False);
  std::string const display = std::getenv("DISPLAY");
  struct Case {
    std::string id, display;
    int code;
    char const* text;  // status message or log line
  } const cases[] = {
      {"window 7", display, status_codes::Ok, "Selected a window that can't be parsed: window 7"},
      {"7", display, status_codes::Error_ScreenCaptureAPI, "Could not get monitor dimensions"},
      {idOf(hidden), display, status_codes::Ok, "Window was minimized, stopping capture"},
      {"0", ":65000", status_codes::Error_ScreenCaptureAPI,
       "Could not get device context to capture"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.id);
    testing::LogCapture log("screenshot_x11:5");
    auto status = createStatus(PropertyNode::create("capture")->getNode("status", true));
    setenv("DISPLAY", c.display.c_str(), 1);
    EXPECT_FALSE(getScreenshot(c.id, Size(-1, -1), status));
    EXPECT_EQ(screenshotSupported(), c.display == display);
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_EQ(status->getStatusCode(), c.code);
    EXPECT_TRUE(log.contains(c.text) || status->getStatusMessage() == c.text);
  }
  std::vector<WindowInfo> windows;
  getWindows(&windows);
  for (auto const& info : windows) EXPECT_NE(info.handle_, idOf(hidden));
}

TEST(CursorOverlayTest, BlendsPremultipliedAndClipsAtTheEdges) {
  std::vector<uint8_t> pixels(4 * 4 * 2, 0x40);  // 4x2 BGRX, grey
  CursorImage cursor;
  cursor.x_ = 12;  // screen origin of the picture is (10, 5)
  cursor.y_ = 4;
  cursor.width_ = 3;
  cursor.height_ = 2;
  // Row 0 falls above the picture; row 1: opaque white, half-alpha red, off the right edge.
  cursor.argb_ = {0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff, 0x80800000, 0xff00ff00};
  blendCursor(cursor, 10, 5, pixels.data(), 16, 4, 2);
  auto at = [&](int x, int y) { return pixels.data() + y * 16 + x * 4; };
  EXPECT_EQ(at(2, 0)[0], 0xff);
  EXPECT_EQ(at(2, 0)[2], 0xff);
  EXPECT_EQ(at(3, 0)[2], 0x80 + 0x20);  // 0x80 + 0x40 * 127 / 255
  EXPECT_EQ(at(3, 0)[0], 0x20);
  EXPECT_EQ(at(3, 0)[3], 0x40);  // padding byte untouched
  EXPECT_EQ(at(1, 0)[0], 0x40);
  EXPECT_TRUE(std::all_of(at(0, 1), at(0, 1) + 16, [](uint8_t b) { return b == 0x40; }));
}

}  // namespace
}  // namespace dravo::media
