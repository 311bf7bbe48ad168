#pragma once
// Which facility captures the screen: the X server, or the desktop's
// screen-cast portal with a PipeWire stream (Wayland desktops, where an X11
// client sees only other X11 clients).
//
// The choice is made from the environment each time it is asked:
// DRAVO_SCREEN_CAPTURE ("x11" or "portal") wins; otherwise the portal when
// WAYLAND_DISPLAY is set or XDG_SESSION_TYPE is "wayland", X11 otherwise.
//
// On the portal the user (or a stored permission) picks what is shared, so
// there is one id per kind of source rather than one per display or window.
//
// Plain functions; any thread.

#include <optional>
#include <string>
#include <vector>

#include "media_common/video/screenshot_x11.h"

namespace dravo::media {

enum class ScreenCaptureBackend { X11, PORTAL };

ScreenCaptureBackend getScreenCaptureBackend();

// What a portal id asks the portal to share.
enum class ScreenCastSourceType { MONITOR = 1, WINDOW = 2 };

inline constexpr char kPortalScreenId[] = "screen:portal";
inline constexpr char kPortalWindowId[] = "window:portal";

// The source type a portal id names; nothing for any other text.
std::optional<ScreenCastSourceType> parsePortalId(std::string const& id);

// The entries the portal path lists: one display and one window, whose
// captures ask the portal for that kind of source.
void getPortalDisplays(std::vector<DisplayInfo>* monitors);
void getPortalWindows(std::vector<WindowInfo>* windows);

}  // namespace dravo::media
