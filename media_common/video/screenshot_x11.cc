#include "media_common/video/screenshot_x11.h"

#include <X11/Xlib-xcb.h>
#include <libyuv/scale_argb.h>
#include <xcb/randr.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "common/logging.h"
#include "common/string_util.h"
#include "common/time.h"
#include "media_common/video/cursor_overlay.h"
#include "media_common/video/x11_connection.h"
#include "media_common/video/x11_monitors.h"

DRAVO_LOGGER("screenshot_x11");

namespace dravo::media {

namespace {

using Rect = X11Rect;

// Pixels read from the root window, kept alive by `allocation`.
struct RootPixels {
  uint8_t* data = nullptr;
  int32_t stride = 0;
  std::shared_ptr<void> allocation;
  bool shared_memory = false;
};

std::shared_ptr<ImageBuffer> failCapture(Status* status, char const* message) {
  LOGF(3, "%s", message);
  if (status) status->setStatus(status_codes::Error_ScreenCaptureAPI, message);
  return nullptr;
}

// Requests for the monitor layout and the pointer, sent before a display's
// picture is read so that their replies travel with the picture's instead
// of costing a round trip each. Caller holds the lock from `sendAhead` until
// both replies are taken, and always takes both.
struct AheadRequests {
  xcb_connection_t* xcb = nullptr;
  std::optional<xcb_randr_get_monitors_cookie_t> monitors;
  std::optional<xcb_xfixes_get_cursor_image_cookie_t> cursor;
};

AheadRequests sendAhead(X11Connection& connection) {
  AheadRequests ahead;
  ahead.xcb = XGetXCBConnection(connection.display());
  if (connection.hasRandR())
    ahead.monitors = xcb_randr_get_monitors(ahead.xcb, DefaultRootWindow(connection.display()), 1);
  if (connection.hasXFixes()) ahead.cursor = xcb_xfixes_get_cursor_image(ahead.xcb);
  return ahead;
}

std::vector<Rect> takeMonitors(X11Connection& connection, AheadRequests& ahead) {
  std::vector<Rect> rects;
  if (ahead.monitors) {
    xcb_generic_error_t* error = nullptr;
    xcb_randr_get_monitors_reply_t* reply =
        xcb_randr_get_monitors_reply(ahead.xcb, *ahead.monitors, &error);
    ahead.monitors.reset();
    free(error);
    if (reply) {
      for (auto it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem;
           xcb_randr_monitor_info_next(&it))
        rects.push_back({it.data->x, it.data->y, it.data->width, it.data->height});
      free(reply);
    }
  }
  return clipMonitors(connection.display(), std::move(rects));
}

std::optional<CursorImage> takeCursor(AheadRequests& ahead) {
  if (!ahead.cursor) return std::nullopt;
  xcb_generic_error_t* error = nullptr;
  xcb_xfixes_get_cursor_image_reply_t* reply =
      xcb_xfixes_get_cursor_image_reply(ahead.xcb, *ahead.cursor, &error);
  ahead.cursor.reset();
  free(error);
  if (!reply) return std::nullopt;
  std::optional<CursorImage> cursor;
  size_t const count = size_t{reply->width} * reply->height;
  int const length = xcb_xfixes_get_cursor_image_cursor_image_length(reply);
  if (length >= 0 && static_cast<size_t>(length) >= count) {
    uint32_t const* pixels = xcb_xfixes_get_cursor_image_cursor_image(reply);
    cursor.emplace();
    cursor->x_ = reply->x - reply->xhot;
    cursor->y_ = reply->y - reply->yhot;
    cursor->width_ = reply->width;
    cursor->height_ = reply->height;
    cursor->argb_.assign(pixels, pixels + count);
  }
  free(reply);
  return cursor;
}

bool isBgrx(XImage const& image) {
  return image.bits_per_pixel == 32 && image.byte_order == LSBFirst && image.red_mask == 0xff0000 &&
         image.green_mask == 0xff00 && image.blue_mask == 0xff &&
         image.bytes_per_line >= image.width * 4;
}

// Reads `rect` of the root window. Caller holds the lock. On failure returns
// the message to report.
char const* readRoot(X11Connection& connection, Rect const& rect, RootPixels* pixels) {
  Display* display = connection.display();
  int const screen = DefaultScreen(display);
  Window const root = DefaultRootWindow(display);
  X11ErrorTrap trap;
  if (connection.hasSharedMemory()) {
    XShmSegmentInfo layout_only{};
    XImage* image =
        XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen),
                        ZPixmap, nullptr, &layout_only, rect.width, rect.height);
    if (!image) return "Could not create DIB for capture";
    std::unique_ptr<XImage, int (*)(XImage*)> owned(image,
                                                    [](XImage* i) { return XDestroyImage(i); });
    if (!isBgrx(*image)) return "Could not get device context to capture into";
    size_t const bytes = static_cast<size_t>(image->bytes_per_line) * rect.height;
    if (auto segment = connection.acquireSegment(bytes)) {
      image->data = segment->info.shmaddr;
      image->obdata = reinterpret_cast<char*>(&segment->info);
      bool const copied = XShmGetImage(display, root, image, rect.x, rect.y, AllPlanes);
      // The picture's memory belongs to the segment, not to the XImage.
      image->data = nullptr;
      if (!copied || trap.failed() || connection.broken())
        return "Could not copy DIB to our device context";
      pixels->data = reinterpret_cast<uint8_t*>(segment->info.shmaddr);
      pixels->stride = image->bytes_per_line;
      pixels->allocation = std::move(segment);
      pixels->shared_memory = true;
      return nullptr;
    }
  }
  XImage* image = XGetImage(display, root, rect.x, rect.y, static_cast<unsigned>(rect.width),
                            static_cast<unsigned>(rect.height), AllPlanes, ZPixmap);
  if (!image || trap.failed() || connection.broken()) {
    if (image) XDestroyImage(image);
    return "Could not copy DIB to our device context";
  }
  std::shared_ptr<XImage> owned(image, [](XImage* i) { XDestroyImage(i); });
  if (!isBgrx(*image)) return "Could not get device context to capture into";
  pixels->data = reinterpret_cast<uint8_t*>(image->data);
  pixels->stride = image->bytes_per_line;
  pixels->allocation = std::move(owned);
  return nullptr;
}

// The pointer picture, when the server shows one. Caller holds the lock.
std::optional<CursorImage> readCursor(X11Connection& connection) {
  if (!connection.hasXFixes()) return std::nullopt;
  X11ErrorTrap trap;
  XFixesCursorImage* image = XFixesGetCursorImage(connection.display());
  if (!image) return std::nullopt;
  CursorImage cursor;
  cursor.x_ = image->x - image->xhot;
  cursor.y_ = image->y - image->yhot;
  cursor.width_ = image->width;
  cursor.height_ = image->height;
  size_t const count = size_t{image->width} * image->height;
  cursor.argb_.resize(count);
  // XFixes hands out one `unsigned long` per pixel, ARGB in its low bits.
  for (size_t i = 0; i < count; ++i) cursor.argb_[i] = static_cast<uint32_t>(image->pixels[i]);
  XFree(image);
  return cursor;
}

}  // namespace

std::shared_ptr<ImageBuffer> getScreenshot(std::string const& id, Size const& size,
                                           std::shared_ptr<Status> status) {
  Time const start = Time::now();
  uint32_t handle = 0;
  if (!ParseUInt32(id, &handle)) {
    LOGF(2, "Selected a window that can't be parsed: %s", id.c_str());
    return nullptr;
  }
  auto connection = X11Connection::get();
  if (!connection) return failCapture(status.get(), "Could not get device context to capture");

  RootPixels pixels;
  Rect rect;
  Size out;
  std::optional<CursorImage> cursor;
  {
    MutexLock lock(connection->mutex());
    Display* display = connection->display();
    Window const window = handle;
    X11ErrorTrap trap;
    XWindowAttributes attributes;
    bool const is_window =
        window != None && XGetWindowAttributes(display, window, &attributes) && !trap.failed();
    if (connection->broken())
      return failCapture(status.get(), "Could not get device context to capture");
    if (is_window) {
      if (attributes.map_state != IsViewable) {
        LOGF(5, "Window was minimized, stopping capture");
        return nullptr;
      }
      int x = 0;
      int y = 0;
      Window child = None;
      if (!XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y,
                                 &child) ||
          trap.failed())
        return failCapture(status.get(), "Could not get window dimensions");
      rect = intersect({x, y, attributes.width, attributes.height}, rootRect(display));
      if (rect.width <= 0) return failCapture(status.get(), "Could not get window dimensions");
      if (char const* error = readRoot(*connection, rect, &pixels))
        return failCapture(status.get(), error);
      out = fitScreenshotSize({rect.width, rect.height}, size);
      if (out == Size(rect.width, rect.height)) cursor = readCursor(*connection);
    } else {
      // The picture is read where this monitor was last time, while the
      // layout and the pointer are asked for in the same round trip; a
      // monitor that has moved since is read again.
      AheadRequests ahead = sendAhead(*connection);
      std::vector<Rect>& known = connection->knownMonitors();
      bool const guessed = handle < known.size() && known[handle].width > 0;
      char const* error = nullptr;
      if (guessed) {
        rect = known[handle];
        error = readRoot(*connection, rect, &pixels);
      }
      known = takeMonitors(*connection, ahead);
      cursor = takeCursor(ahead);
      if (handle >= known.size() || known[handle].width <= 0)
        return failCapture(status.get(), "Could not get monitor dimensions");
      if (!guessed || known[handle] != rect) {
        rect = known[handle];
        pixels = RootPixels();
        error = readRoot(*connection, rect, &pixels);
      }
      if (error) return failCapture(status.get(), error);
      out = fitScreenshotSize({rect.width, rect.height}, size);
      if (out != Size(rect.width, rect.height)) cursor.reset();
    }
  }

  uint8_t* data = pixels.data;
  int32_t stride = pixels.stride;
  std::shared_ptr<void> allocation = pixels.allocation;
  if (out == Size(rect.width, rect.height)) {
    if (cursor) blendCursor(*cursor, rect.x, rect.y, data, stride, rect.width, rect.height);
  } else {
    stride = out.width() * 4;
    auto scaled =
        std::make_shared_for_overwrite<uint8_t[]>(static_cast<size_t>(stride) * out.height());
    // Point sampling: every output pixel is a screen pixel, and it is the
    // cheapest; smoothing belongs to whoever scales the frames further.
    if (libyuv::ARGBScale(pixels.data, pixels.stride, rect.width, rect.height, scaled.get(), stride,
                          out.width(), out.height(), libyuv::kFilterNone) != 0)
      return failCapture(status.get(), "Could not copy DIB to our device context");
    data = scaled.get();
    allocation = std::move(scaled);
  }

  ImageBuffer::FormatType format;
  format.width_ = out.width();
  format.height_ = out.height();
  format.pixel_aspect_ = 1.0f;
  format.pixel_format_ = ImageBuffer::IMAGE_BGRX32;
  format.planes_ = {ImageBuffer::Plane(out.width(), out.height(), 0, stride)};
  format.min_allocation_ = stride * out.height();
  auto image = std::make_shared<ImageBuffer>(format, data, std::move(allocation));

  LOGS(9) << "Frame: " << out << " Window: " << handle << " Display: " << connection->name()
          << " Shared memory: " << pixels.shared_memory
          << " Bytes: " << static_cast<void const*>(data);
  if (status) status->setStatus(status_codes::Ok, "Element Ok");
  LOGS(9) << "Grabbing screenshot took "
          << static_cast<double>((Time::now() - start).toNSec()) / 1e6 << "ms";
  return image;
}

bool screenshotSupported() { return X11Connection::get() != nullptr; }

}  // namespace dravo::media
