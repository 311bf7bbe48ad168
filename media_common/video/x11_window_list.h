#pragma once
// What an X11 display offers for capture: its displays and its top-level
// windows, as ids for `getScreenshot` (screenshot_x11.h), and the
// `DisplayInfo` / `WindowInfo` entries every capture backend lists.
//
// Windows are the client windows the window manager lists (or, without one,
// the root's viewable named children) that are viewable, have a title and
// are not tool-like (utility, toolbar, menu, dock, desktop, splash, tooltip,
// notification, dropdown and popup menu, combo, drag-and-drop, or kept off
// the taskbar). Titles and window lists are read with bounded lengths.
//
// Threads: any thread; calls on the shared X connection are serialised.

#include <string>
#include <vector>

#include "media_common/video/image_buffer.h"

namespace dravo::media {

struct DisplayInfo {
  std::string handle_;  // decimal display index
};

struct WindowInfo {
  std::string title_;   // UTF-8
  std::string handle_;  // decimal window id
};

// Append the displays and windows whose test picture is not blank. Null
// lists are programming errors.
void getDisplays(std::vector<DisplayInfo>* monitors);
void getWindows(std::vector<WindowInfo>* windows);

// True when, on every row, the first `width` bytes of plane 0 are zero.
bool isBlankScreenshot(ImageBuffer const& image);

}  // namespace dravo::media
