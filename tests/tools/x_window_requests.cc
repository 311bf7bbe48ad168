#include "tests/tools/x_window_requests.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace dravo::tool::testing {

namespace {
// Xlib's default handler ends the process on any error, here the BadWindow
// of a window destroyed meanwhile.
int ignoreError(Display*, XErrorEvent*) { return 0; }
}  // namespace

bool pressQ(std::string const& id) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  XErrorHandler const previous = XSetErrorHandler(ignoreError);
  Window const window = std::stoul(id);
  XEvent event = {};
  event.xkey.type = KeyPress;
  event.xkey.window = window;
  event.xkey.root = DefaultRootWindow(display);
  event.xkey.keycode = XKeysymToKeycode(display, XK_q);
  event.xkey.same_screen = True;
  Status const sent = XSendEvent(display, window, True, KeyPressMask, &event);
  XSync(display, False);
  XSetErrorHandler(previous);
  XCloseDisplay(display);
  return sent != 0;
}

}  // namespace dravo::tool::testing
