#include "media_common/video/x11_window_list.h"

#include <algorithm>
#include <array>
#include <optional>

#include "common/check.h"
#include "common/logging.h"
#include "common/string_util.h"
#include "media_common/video/screenshot_x11.h"
#include "media_common/video/x11_connection.h"
#include "media_common/video/x11_monitors.h"

DRAVO_LOGGER("x11_window_list");

namespace dravo::media {

namespace {

// Property reads are bounded: a title of up to 1024 characters, and long
// window lists, but never whatever another client claims.
constexpr long kMaxTitleLongs = 1024;
constexpr long kMaxListLongs = 65536;

std::optional<std::vector<unsigned long>> readLongs(Display* display, Window window, Atom property,
                                                    Atom type) {
  Atom actual_type = None;
  int actual_format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, property, 0, kMaxListLongs, False, type, &actual_type,
                         &actual_format, &count, &remaining, &data) != Success)
    return std::nullopt;
  std::optional<std::vector<unsigned long>> values;
  if (data && actual_type == type && actual_format == 32) {
    // Format-32 items arrive as C longs, whatever their width.
    auto const* items = reinterpret_cast<unsigned long const*>(data);
    values.emplace(items, items + count);
  }
  if (data) XFree(data);
  return values;
}

std::string latin1ToUtf8(std::string const& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xc0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    }
  }
  return out;
}

enum AtomIndex {
  kClientList,
  kWmName,
  kUtf8String,
  kWindowType,
  kWmState,
  kSkipTaskbar,
  kFirstToolType,
  kAtomCount = kFirstToolType + 12,
};

std::array<char const*, kAtomCount> const kAtomNames = {
    "_NET_CLIENT_LIST",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_STATE",
    "_NET_WM_STATE_SKIP_TASKBAR",
    // Window types that are not windows of their own to the user.
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
};

using Atoms = std::array<Atom, kAtomCount>;

// The title of `window` in UTF-8: _NET_WM_NAME, else WM_NAME.
std::string windowTitle(Display* display, Window window, Atoms const& atoms) {
  for (Atom property : {atoms[kWmName], static_cast<Atom>(XA_WM_NAME)}) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, kMaxTitleLongs, False, AnyPropertyType,
                           &type, &format, &count, &remaining, &data) != Success)
      continue;
    std::string text;
    if (data && format == 8) text.assign(reinterpret_cast<char const*>(data), count);
    if (data) XFree(data);
    if (text.empty()) continue;
    return type == XA_STRING ? latin1ToUtf8(text) : text;
  }
  return {};
}

bool isToolLike(Display* display, Window window, Atoms const& atoms) {
  auto const types = readLongs(display, window, atoms[kWindowType], XA_ATOM);
  for (unsigned long type : types.value_or(std::vector<unsigned long>()))
    for (int i = kFirstToolType; i < kAtomCount; ++i)
      if (type == atoms[i]) return true;
  auto const states = readLongs(display, window, atoms[kWmState], XA_ATOM);
  for (unsigned long state : states.value_or(std::vector<unsigned long>()))
    if (state == atoms[kSkipTaskbar]) return true;
  return false;
}

struct WindowCandidate {
  std::string title;
  Window window;
};

// The listable windows before their test pictures. Caller holds the lock.
std::vector<WindowCandidate> windowCandidates(X11Connection& connection) {
  Display* display = connection.display();
  Window const root = DefaultRootWindow(display);
  X11ErrorTrap trap;
  Atoms atoms{};
  XInternAtoms(display, const_cast<char**>(kAtomNames.data()), kAtomCount, False, atoms.data());
  auto managed = readLongs(display, root, atoms[kClientList], XA_WINDOW);
  std::vector<unsigned long> windows;
  if (managed) {
    windows = std::move(*managed);
  } else {
    Window root_return = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, root, &root_return, &parent, &children, &count) && children)
      windows.assign(children, children + count);
    if (children) XFree(children);
  }
  std::vector<WindowCandidate> candidates;
  for (unsigned long id : windows) {
    Window const window = static_cast<Window>(id);
    trap.clear();
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || trap.failed()) continue;
    if (attributes.map_state != IsViewable) continue;
    std::string title = windowTitle(display, window, atoms);
    if (title.empty()) {
      LOGF(5, "Found window without a title");
      continue;
    }
    bool const tool_like = isToolLike(display, window, atoms);
    LOGF(5, "Found window: %s (0x%lx%s)", title.c_str(), window, tool_like ? ", tool" : "");
    if (tool_like || trap.failed()) continue;
    candidates.push_back({std::move(title), window});
  }
  return candidates;
}

}  // namespace

bool isBlankScreenshot(ImageBuffer const& image) {
  if (image.planes().empty()) return true;
  ImageBuffer::Plane const& plane = image.planes()[0];
  for (int y = 0; y < plane.height_; ++y) {
    uint8_t const* row = image.getPixelAddress(0, y, 0);
    if (std::any_of(row, row + plane.width_, [](uint8_t b) { return b != 0; })) return false;
  }
  return true;
}

void getDisplays(std::vector<DisplayInfo>* monitors) {
  DRAVO_ASSERT(monitors);
  if (!monitors) return;
  auto connection = X11Connection::get();
  if (!connection) return;
  size_t count = 0;
  {
    MutexLock lock(connection->mutex());
    count = monitorRects(*connection).size();
  }
  for (size_t i = 0; i < count; ++i) {
    std::string const handle = stringPrintf("%zu", i);
    auto picture = getScreenshot(handle, Size(-1, -1), nullptr);
    if (picture && !isBlankScreenshot(*picture)) monitors->push_back({handle});
  }
}

void getWindows(std::vector<WindowInfo>* windows) {
  DRAVO_ASSERT(windows);
  if (!windows) return;
  auto connection = X11Connection::get();
  if (!connection) return;
  std::vector<WindowCandidate> candidates;
  {
    MutexLock lock(connection->mutex());
    candidates = windowCandidates(*connection);
  }
  for (auto& candidate : candidates) {
    std::string const handle = stringPrintf("%u", static_cast<unsigned>(candidate.window));
    auto picture = getScreenshot(handle, Size(-1, -1), nullptr);
    if (picture && !isBlankScreenshot(*picture))
      windows->push_back({std::move(candidate.title), handle});
  }
}

}  // namespace dravo::media
