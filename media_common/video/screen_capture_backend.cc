#include "media_common/video/screen_capture_backend.h"

#include <cstdlib>
#include <cstring>

#include "common/check.h"
#include "common/logging.h"
#include "common/string_util.h"

DRAVO_LOGGER("screen_capture_backend");

namespace dravo::media {

namespace {

std::string environment(char const* name) {
  char const* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

ScreenCaptureBackend getScreenCaptureBackend() {
  std::string const forced = toLower(environment("DRAVO_SCREEN_CAPTURE"));
  if (forced == "x11") return ScreenCaptureBackend::X11;
  if (forced == "portal") return ScreenCaptureBackend::PORTAL;
  if (!forced.empty())
    LOGF(3, "Ignoring DRAVO_SCREEN_CAPTURE=%s (expected x11 or portal)", forced.c_str());
  if (!environment("WAYLAND_DISPLAY").empty() ||
      toLower(environment("XDG_SESSION_TYPE")) == "wayland")
    return ScreenCaptureBackend::PORTAL;
  return ScreenCaptureBackend::X11;
}

std::optional<ScreenCastSourceType> parsePortalId(std::string const& id) {
  if (id == kPortalScreenId) return ScreenCastSourceType::MONITOR;
  if (id == kPortalWindowId) return ScreenCastSourceType::WINDOW;
  return std::nullopt;
}

void getPortalDisplays(std::vector<DisplayInfo>* monitors) {
  DRAVO_ASSERT(monitors);
  if (monitors) monitors->push_back({kPortalScreenId});
}

void getPortalWindows(std::vector<WindowInfo>* windows) {
  DRAVO_ASSERT(windows);
  if (windows)
    windows->push_back({"A window chosen in the desktop's sharing dialog", kPortalWindowId});
}

}  // namespace dravo::media
