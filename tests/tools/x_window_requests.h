#pragma once
// Sends a window on $DISPLAY what a user would: a q or Escape key press, or
// the window manager's close request. Kept apart from the test files, whose
// test framework and Xlib's macros do not mix. One thread.

#include <string>

namespace dravo::tool::testing {

enum class WindowRequest { KEY_Q, KEY_ESCAPE, CLOSE };

// `window` is the decimal X window id; false when the display cannot be
// opened or the event not sent.
bool sendToWindow(std::string const& window, WindowRequest request);

}  // namespace dravo::tool::testing
