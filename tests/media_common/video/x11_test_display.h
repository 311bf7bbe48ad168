#pragma once
// A private X server with a client connection for the screen-capture tests:
// starts Xvfb (1920x1080, 24-bit), points $DISPLAY at it, and makes plain
// top-level windows of known colours and titles. Used on the test thread.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#undef Status

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

#include "tests/support/xvfb_server.h"

namespace dravo::testing {

class X11TestDisplay {
 public:
  ~X11TestDisplay() {
    if (display_) XCloseDisplay(display_);
    server_.stop();
    if (previous_display_)
      setenv("DISPLAY", previous_display_->c_str(), 1);
    else
      unsetenv("DISPLAY");
  }

  bool start(std::string* error) {
    if (char const* previous = std::getenv("DISPLAY")) previous_display_ = previous;
    if (!server_.start("1920x1080x24", error)) return false;
    setenv("DISPLAY", server_.display().c_str(), 1);
    display_ = XOpenDisplay(server_.display().c_str());
    if (!display_) *error = "cannot connect to " + server_.display();
    return display_ != nullptr;
  }

  Display* display() const { return display_; }
  Window root() const { return DefaultRootWindow(display_); }

  // A mapped window filled with `rgb` (0xRRGGBB). `type` names a
  // _NET_WM_WINDOW_TYPE atom to set, if any; the title goes into
  // _NET_WM_NAME when `utf8`, else into WM_NAME.
  Window createWindow(int x, int y, int width, int height, uint32_t rgb, std::string const& title,
                      bool utf8 = false, char const* type = nullptr) {
    XSetWindowAttributes attributes{};
    attributes.background_pixel = rgb;
    attributes.override_redirect = True;
    Window window =
        XCreateWindow(display_, root(), x, y, width, height, 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWBackPixel | CWOverrideRedirect, &attributes);
    if (!title.empty())
      XChangeProperty(display_, window, utf8 ? atom("_NET_WM_NAME") : XA_WM_NAME,
                      utf8 ? atom("UTF8_STRING") : XA_STRING, 8, PropModeReplace,
                      reinterpret_cast<unsigned char const*>(title.data()), int(title.size()));
    if (type) {
      Atom const value = atom(type);
      XChangeProperty(display_, window, atom("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char const*>(&value), 1);
    }
    XMapWindow(display_, window);
    // The server paints the background while mapping; after the round trip
    // the pixels are there.
    XSync(display_, False);
    return window;
  }

  Atom atom(char const* name) { return XInternAtom(display_, name, False); }

 private:
  XvfbServer server_;
  Display* display_ = nullptr;
  std::optional<std::string> previous_display_;
};

// A test suite sharing one private X server, with the pointer out of the
// windows' way; its tests skip when no server starts.
class X11Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    x_ = new X11TestDisplay();
    if (!x_->start(&error_)) return;
    XWarpPointer(x_->display(), None, x_->root(), 0, 0, 0, 0, 1900, 1060);
    XSync(x_->display(), False);
  }
  static void TearDownTestSuite() { delete std::exchange(x_, nullptr); }
  void SetUp() override {
    if (!x_->display()) GTEST_SKIP() << "No X server: " << error_;
  }

  static inline X11TestDisplay* x_ = nullptr;
  static inline std::string error_;
};

}  // namespace dravo::testing
