#pragma once
// Where the monitors of an X11 display lie on its default screen: the
// geometry that the capture and the display listing share.
//
// Plain functions; callers hold the connection's mutex (see x11_connection.h).

#include <vector>

#include "media_common/video/x11_connection.h"

namespace dravo::media {

// The whole default screen.
X11Rect rootRect(Display* display);

// The overlap of `a` and `b`; an empty rectangle when they do not overlap.
X11Rect intersect(X11Rect const& a, X11Rect const& b);

// `monitors` clipped to the default screen; the whole screen when there are
// none.
std::vector<X11Rect> clipMonitors(Display* display, std::vector<X11Rect> monitors);

// The RandR monitors of the default screen, clipped to it (the whole screen
// without RandR). One round trip.
std::vector<X11Rect> monitorRects(X11Connection& connection) DRAVO_REQUIRES(connection.mutex());

}  // namespace dravo::media
