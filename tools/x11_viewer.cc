#include "tools/x11_viewer.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>

#include "common/logging.h"
#include "common/mutex.h"
#include "tools/tool_error.h"

DRAVO_LOGGER("media_tool");

namespace dravo::tool {

// The X connection and the drawing thread. Display, window and image are
// touched only by the thread (after construction, before destruction).
class X11ViewerPrivate {
 public:
  X11ViewerPrivate(std::string const& title, std::function<void()> on_close)
      : on_close_(std::move(on_close)) {
    display_ = XOpenDisplay(nullptr);
    if (!display_)
      throw ToolError(EXIT_STATUS_FAILURE, "cannot open the X display (is DISPLAY set?)");
    int const screen = DefaultScreen(display_);
    window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, width_, height_, 0,
                                  BlackPixel(display_, screen), BlackPixel(display_, screen));
    XStoreName(display_, window_, title.c_str());
    XSelectInput(display_, window_, KeyPressMask | ExposureMask | StructureNotifyMask);
    delete_atom_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display_, window_, &delete_atom_, 1);
    gc_ = XCreateGC(display_, window_, 0, nullptr);
    XMapWindow(display_, window_);
    XFlush(display_);
    wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { run(); });
  }

  ~X11ViewerPrivate() {
    stop_ = true;
    wake();
    if (thread_.joinable()) thread_.join();
    if (wake_fd_ >= 0) close(wake_fd_);
    XFreeGC(display_, gc_);
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
  }

  void show(std::shared_ptr<Texture> const& texture) {
    {
      MutexLock lock(mutex_);
      pending_ = texture;
    }
    wake();
  }

  std::atomic<int64_t> shown_{0};

 private:
  void wake() {
    uint64_t const one = 1;
    [[maybe_unused]] ssize_t written = write(wake_fd_, &one, sizeof(one));
  }

  void run() {
    pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    while (!stop_) {
      while (XPending(display_)) handleEvent();
      if (stop_) break;
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t got = read(wake_fd_, &count, sizeof(count));
        draw();
      }
    }
  }

  void handleEvent() {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type == KeyPress) {
      KeySym const key = XLookupKeysym(&event.xkey, 0);
      if (key == XK_q || key == XK_Escape) closeWindow();
    } else if (event.type == ClientMessage &&
               static_cast<Atom>(event.xclient.data.l[0]) == delete_atom_) {
      closeWindow();
    } else if (event.type == Expose) {
      redraw();
    }
  }

  void closeWindow() {
    if (closed_.exchange(true)) return;
    LOGF(4, "viewer window closed");
    if (on_close_) on_close_();
  }

  void draw() {
    std::shared_ptr<Texture> texture;
    {
      MutexLock lock(mutex_);
      texture = std::move(pending_);
    }
    if (!texture || texture->getFormat() != Texture::FORMAT_RGB) return;
    int const width = texture->getWidth();
    int const height = texture->getHeight();
    if (width <= 0 || height <= 0) return;
    if (width != width_ || height != height_) {
      width_ = width;
      height_ = height;
      XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    }
    pixels_.resize(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
      uint8_t const* in = texture->getBuffer(0) + static_cast<ptrdiff_t>(y) * texture->getStride(0);
      uint8_t* out = pixels_.data() + static_cast<size_t>(y) * width * 4;
      for (int x = 0; x < width; ++x, in += 3, out += 4) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = 0;
      }
    }
    redraw();
    ++shown_;
  }

  void redraw() {
    if (pixels_.empty()) return;
    int const screen = DefaultScreen(display_);
    XImage* image =
        XCreateImage(display_, DefaultVisual(display_, screen), 24, ZPixmap, 0,
                     reinterpret_cast<char*>(pixels_.data()), static_cast<unsigned>(width_),
                     static_cast<unsigned>(height_), 32, width_ * 4);
    if (!image) return;
    XPutImage(display_, window_, gc_, image, 0, 0, 0, 0, static_cast<unsigned>(width_),
              static_cast<unsigned>(height_));
    image->data = nullptr;  // the pixels belong to pixels_
    XDestroyImage(image);
    XFlush(display_);
  }

  std::function<void()> on_close_;
  Display* display_ = nullptr;
  Window window_ = 0;
  GC gc_ = nullptr;
  Atom delete_atom_ = 0;
  int width_ = 320;
  int height_ = 240;
  int wake_fd_ = -1;
  std::vector<uint8_t> pixels_;
  Mutex mutex_;
  std::shared_ptr<Texture> pending_ DRAVO_GUARDED_BY(mutex_);
  std::atomic<bool> stop_{false};
  std::atomic<bool> closed_{false};
  std::thread thread_;
};

X11Viewer::X11Viewer(std::string const& title, std::function<void()> on_close)
    : impl_(std::make_unique<X11ViewerPrivate>(title, std::move(on_close))) {}

X11Viewer::~X11Viewer() = default;

void X11Viewer::show(std::shared_ptr<Texture> const& texture) { impl_->show(texture); }

int64_t X11Viewer::framesShown() const { return impl_->shown_.load(); }

}  // namespace dravo::tool
