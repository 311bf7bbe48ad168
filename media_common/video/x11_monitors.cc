#include "media_common/video/x11_monitors.h"

#include <algorithm>

namespace dravo::media {

X11Rect rootRect(Display* display) {
  int const screen = DefaultScreen(display);
  return {0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
}

X11Rect intersect(X11Rect const& a, X11Rect const& b) {
  int32_t const x0 = std::max(a.x, b.x);
  int32_t const y0 = std::max(a.y, b.y);
  int32_t const x1 = std::min(a.x + a.width, b.x + b.width);
  int32_t const y1 = std::min(a.y + a.height, b.y + b.height);
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

std::vector<X11Rect> clipMonitors(Display* display, std::vector<X11Rect> monitors) {
  X11Rect const root = rootRect(display);
  for (X11Rect& rect : monitors) rect = intersect(rect, root);
  if (monitors.empty()) monitors.push_back(root);
  return monitors;
}

std::vector<X11Rect> monitorRects(X11Connection& connection) {
  Display* display = connection.display();
  std::vector<X11Rect> rects;
  if (connection.hasRandR()) {
    X11ErrorTrap trap;
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    for (int i = 0; monitors && i < count; ++i)
      rects.push_back({monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height});
    if (monitors) XRRFreeMonitors(monitors);
  }
  return clipMonitors(display, std::move(rects));
}

}  // namespace dravo::media
