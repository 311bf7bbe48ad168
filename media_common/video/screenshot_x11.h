#pragma once
// Screen and window pictures from an X11 display ($DISPLAY). Listing what
// can be captured is x11_window_list.h.
//
// Displays are the RandR monitors of the default screen (the whole root
// window when RandR is missing), identified by their index written in
// decimal ("0", "1", ...). Windows are the top-level client windows the
// window manager lists (or, without one, the root's viewable named
// children), identified by their X window id in decimal. An id that names an
// existing window is a window; any other number is a display index.
//
// Threads: every function may be called from any thread; calls on the one
// shared X connection are serialised.

#include <memory>
#include <string>

#include "common/size.h"
#include "common/status.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/screenshot_size.h"

namespace dravo::media {

// A picture of the display or window `id` as one IMAGE_BGRX32 plane, rows
// top to bottom. A `size` with both parts positive and narrower than the
// source asks for a smaller picture: it is fitted to the source's aspect
// (see `fitScreenshotSize`) and scaled; only unscaled pictures show the
// mouse pointer. Failures set `Error_ScreenCaptureAPI` with a message on
// `status` (when not null) and give null; success sets Ok, "Element Ok". A
// window that is not viewable (minimised, unmapped) gives null and leaves
// `status` alone; so does an id that is not a decimal number.
std::shared_ptr<ImageBuffer> getScreenshot(std::string const& id, Size const& size,
                                           std::shared_ptr<Status> status);

// Whether an X display can be opened.
bool screenshotSupported();

}  // namespace dravo::media
