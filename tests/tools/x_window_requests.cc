#include "tests/tools/x_window_requests.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace dravo::tool::testing {

bool sendToWindow(std::string const& id, WindowRequest request) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  Window const window = std::stoul(id);
  XEvent event = {};
  event.xany.window = window;
  Status sent = 0;
  if (request == WindowRequest::CLOSE) {
    event.xclient.type = ClientMessage;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    sent = XSendEvent(display, window, False, NoEventMask, &event);
  } else {
    event.xkey.type = KeyPress;
    event.xkey.root = DefaultRootWindow(display);
    event.xkey.keycode =
        XKeysymToKeycode(display, request == WindowRequest::KEY_Q ? XK_q : XK_Escape);
    event.xkey.same_screen = True;
    sent = XSendEvent(display, window, True, KeyPressMask, &event);
  }
  XFlush(display);
  XCloseDisplay(display);
  return sent != 0;
}

}  // namespace dravo::tool::testing
