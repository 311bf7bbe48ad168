#pragma once
// Presses q in a window on $DISPLAY, as a user would. Kept apart from the
// test files, whose test framework and Xlib's macros do not mix. One thread.

#include <string>

namespace dravo::tool::testing {

// `window` is the decimal X window id. A window that is gone by the time
// the key arrives is no error: the press is lost. False when the display
// cannot be opened or the event not sent.
bool pressQ(std::string const& window);

}  // namespace dravo::tool::testing
