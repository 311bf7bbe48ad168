#pragma once
// A test suite sharing one private X server (Xvfb, 1920x1080, 24-bit) with a
// client connection: $DISPLAY points at it, the pointer is out of the
// windows' way, and tests make plain top-level windows of known colours and
// titles. Its tests skip when no server starts. Used on the test thread.

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

class X11Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (char const* previous = std::getenv("DISPLAY")) previous_display_ = previous;
    server_ = new XvfbServer();
    if (!server_->start("1920x1080x24", &error_)) return;
    setenv("DISPLAY", server_->display().c_str(), 1);
    if (!(display_ = XOpenDisplay(nullptr))) return void(error_ = "cannot connect");
    XWarpPointer(display_, None, root(), 0, 0, 0, 0, 1900, 1060);
    XSync(display_, False);
  }
  static void TearDownTestSuite() {
    if (display_) XCloseDisplay(std::exchange(display_, nullptr));
    delete std::exchange(server_, nullptr);
    if (previous_display_)
      setenv("DISPLAY", previous_display_->c_str(), 1);
    else
      unsetenv("DISPLAY");
  }
  void SetUp() override {
    if (!display_) GTEST_SKIP() << "No X server: " << error_;
  }

  static Window root() { return DefaultRootWindow(display_); }
  static Atom atom(char const* name) { return XInternAtom(display_, name, False); }

  // A mapped window filled with `rgb` (0xRRGGBB). `type` names a
  // _NET_WM_WINDOW_TYPE atom to set, if any; the title goes into
  // _NET_WM_NAME when `utf8`, else into WM_NAME.
  static Window createWindow(int x, int y, int width, int height, uint32_t rgb,
                             std::string const& title, bool utf8 = false,
                             char const* type = nullptr) {
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

  static inline XvfbServer* server_ = nullptr;
  static inline Display* display_ = nullptr;
  static inline std::string error_;
  static inline std::optional<std::string> previous_display_;
};

}  // namespace dravo::testing
