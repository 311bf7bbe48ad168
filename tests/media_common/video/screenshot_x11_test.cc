// Screen and window pictures, and the window list, from a private Xvfb
// server with windows of known colours.

#include "media_common/video/screenshot_x11.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "common/property_node.h"
#include "media_common/video/x11_connection.h"
#include "media_common/video/x11_window_list.h"
#include "tests/support/capture.h"
#include "tests/support/xvfb_server.h"

namespace dravo::media {
namespace {

constexpr uint32_t kRed = 0xff0000;
constexpr uint32_t kGreen = 0x00ff00;

using testing::XvfbServer;

// The colour at (x, y) of a BGRX picture as 0xRRGGBB.
uint32_t rgbAt(ImageBuffer const& image, int x, int y) {
  uint8_t const* pixel = image.getPixelAddress(x * 4, y, 0);
  return uint32_t{pixel[2]} << 16 | uint32_t{pixel[1]} << 8 | pixel[0];
}

// Whether there is a picture and every pixel of the rectangle has colour
// `rgb`.
::testing::AssertionResult allOf(std::shared_ptr<ImageBuffer const> const& image, int x0, int y0,
                                 int x1, int y1, uint32_t rgb) {
  for (int y = y0; image && y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (rgbAt(*image, x, y) != rgb)
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << y << ") is " << std::hex << rgbAt(*image, x, y);
  return image ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "no picture";
}

std::string idOf(Window window) { return std::to_string(window); }

// One private X server for the suite (Xvfb, 1920x1080, 24-bit) with a
// client connection: $DISPLAY points at it, the pointer is out of the
// windows' way, and the windows have known colours and titles. The tests
// skip when no server starts.
class ScreenshotX11Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (char const* previous = std::getenv("DISPLAY")) previous_display_ = previous;
    server_ = new XvfbServer();
    if (!server_->start("1920x1080x24", &error_)) return;
    setenv("DISPLAY", server_->display().c_str(), 1);
    if (!(display_ = XOpenDisplay(nullptr))) return void(error_ = "cannot connect");
    XWarpPointer(display_, None, root(), 0, 0, 0, 0, 1900, 1060);
    red_ = createWindow(100, 100, 300, 200, kRed, "Red window");
    green_ = createWindow(500, 100, 300, 200, kGreen, "Gr\xc3\xbcn window", true);
  }
  static void TearDownTestSuite() {
    if (display_) XCloseDisplay(std::exchange(display_, nullptr));
    delete std::exchange(server_, nullptr);
    previous_display_ ? setenv("DISPLAY", previous_display_->c_str(), 1) : unsetenv("DISPLAY");
  }
  void SetUp() override {
    if (!display_) GTEST_SKIP() << "No X server: " << error_;
  }

  static Window root() { return DefaultRootWindow(display_); }
  static Atom atom(char const* name) { return XInternAtom(display_, name, False); }

  // A mapped window filled with `rgb` (0xRRGGBB), titled in WM_NAME or,
  // when `utf8`, in _NET_WM_NAME.
  static Window createWindow(int x, int y, int width, int height, uint32_t rgb,
                             std::string const& title, bool utf8 = false) {
    Window window = XCreateSimpleWindow(display_, root(), x, y, width, height, 0, 0, rgb);
    if (!title.empty())
      XChangeProperty(display_, window, atom(utf8 ? "_NET_WM_NAME" : "WM_NAME"),
                      atom(utf8 ? "UTF8_STRING" : "STRING"), 8, PropModeReplace,
                      reinterpret_cast<unsigned char const*>(title.data()), int(title.size()));
    XMapWindow(display_, window);
    // The server paints the background while mapping; after the round trip
    // the pixels are there.
    XSync(display_, False);
    return window;
  }

  // The index of the monitor named `name`, as a display id.
  static std::string monitorId(Atom name) {
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display_, root(), True, &count);
    std::string id;
    for (int i = 0; i < count; ++i)
      if (monitors[i].name == name) id = std::to_string(i);
    XRRFreeMonitors(monitors);
    return id;
  }

  static inline Window red_ = 0, green_ = 0;
  static inline XvfbServer* server_ = nullptr;
  static inline Display* display_ = nullptr;
  static inline std::string error_;
  static inline std::optional<std::string> previous_display_;
};

// A window's picture is its own pixels; a monitor is read where it is now,
// even right after it moved, through MIT-SHM and through XGetImage alike;
// unscaled pictures show the pointer, over the red window here.
TEST_F(ScreenshotX11Test, WindowsAndMonitorsWhereTheyAreWithThePointer) {
  auto status = createStatus(PropertyNode::create("capture")->getNode("status", true));
  status->setStatus(status_codes::Error_Unknown, "before");
  auto window = getScreenshot(idOf(red_), Size(-1, -1), status);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->width() * window->height(), 300 * 200);
  EXPECT_TRUE(allOf(window, 0, 0, 300, 200, kRed));
  EXPECT_EQ(status->getStatusMessage(), "Element Ok");

  Atom const name = atom("SIDE");
  auto placeMonitor = [&](int x, int y) {
    XRRMonitorInfo* monitor = XRRAllocateMonitor(display_, 0);
    monitor->name = name;
    std::tie(monitor->x, monitor->y, monitor->width, monitor->height) = std::tuple(x, y, 300, 200);
    XRRSetMonitor(display_, root(), monitor);
    XRRFreeMonitors(monitor);
    XSync(display_, False);
  };
  placeMonitor(500, 100);
  std::string const id = monitorId(name);
  ASSERT_FALSE(id.empty());
  EXPECT_TRUE(allOf(getScreenshot(id, Size(-1, -1), nullptr), 0, 0, 300, 200, kGreen));
  XRRDeleteMonitor(display_, root(), name);
  placeMonitor(100, 100);
  ASSERT_EQ(monitorId(name), id);
  for (bool shared_memory : {true, false}) {
    X11Connection::setSharedMemoryAllowed(shared_memory);
    EXPECT_TRUE(allOf(getScreenshot(id, Size(-1, -1), nullptr), 0, 0, 300, 200, kRed))
        << shared_memory;
  }
  X11Connection::setSharedMemoryAllowed(true);
  XRRDeleteMonitor(display_, root(), name);

  XWarpPointer(display_, None, root(), 0, 0, 0, 0, 250, 200);
  XSync(display_, False);
  auto pointed = getScreenshot("0", Size(-1, -1), nullptr);
  XWarpPointer(display_, None, root(), 0, 0, 0, 0, 1900, 1060);
  XSync(display_, False);
  ASSERT_TRUE(pointed);
  EXPECT_EQ(pointed->width() * pointed->height(), 1920 * 1080);
  EXPECT_FALSE(allOf(pointed, 240, 190, 260, 210, kRed));
  EXPECT_TRUE(allOf(pointed, 100, 100, 200, 150, kRed));
}

// Pictures are fitted to a requested size: never narrower than asked, never
// larger than the screen, keeping the aspect.
TEST(ScreenshotSizeTest, FitsKeepingTheAspect) {
  Size const screen(1920, 1080);
  EXPECT_EQ(fitScreenshotSize(screen, Size(1920, 100)), screen);
  EXPECT_EQ(fitScreenshotSize(screen, Size(640, 100)), Size(640, 360));
  EXPECT_EQ(fitScreenshotSize(screen, Size(100, 5000)), screen);
}

// Ids that are no number are refused, numbers that are no window are no
// display; a hidden window stops the capture without an error, and without
// a server there is nothing to capture.
TEST_F(ScreenshotX11Test, RefusedIdsHiddenWindowsAndNoServer) {
  Window hidden = createWindow(1200, 600, 100, 100, kRed, "Hidden window");
  XUnmapWindow(display_, hidden);
  XSync(display_, False);
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
  // Titled, mapped windows are listed, with their titles in UTF-8.
  std::vector<WindowInfo> windows;
  getWindows(&windows);
  std::map<std::string, std::string> titles;
  for (auto const& info : windows) titles[info.handle_] = info.title_;
  EXPECT_EQ(titles[idOf(red_)], "Red window");
  EXPECT_EQ(titles[idOf(green_)], "Gr\xc3\xbcn window");
  EXPECT_EQ(titles.count(idOf(hidden)), 0u);
}

}  // namespace
}  // namespace dravo::media
