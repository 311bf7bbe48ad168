#pragma once
// One shared client connection to the X server named by $DISPLAY, with the
// extensions screen capture uses (MIT-SHM, XFixes, RandR) and a small pool
// of shared-memory segments that captured pictures are read into.
//
// This header is for the X11 capture code only: it pulls in Xlib.
//
// X errors never end the process: a process-wide error handler records them
// for the `X11ErrorTrap` active on the calling thread (and only logs the
// others), and a lost server marks the connection broken instead of exiting.
// A broken or closed connection is replaced by a fresh one at the next
// `X11Connection::get()`.
//
// Owner: `get()` keeps the current connection; pictures that live in one of
// its segments keep it alive too. Threads: any thread may call `get()`; every
// Xlib or XCB call on `display()` (XCB through XGetXCBConnection, for
// requests whose replies are collected later) is made holding `mutex()`, and
// every reply asked for is collected before it is released. Segments may be
// released on any thread (they only take the pool's own lock).

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
// Xlib's `Status` macro would hide dravo::Status; Xlib results are plain ints.
#undef Status

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/mutex.h"
#include "common/non_copyable.h"

namespace dravo::media {

// Catches the X errors raised by calls made on this thread while it lives.
// Traps nest; the innermost one gets the error.
class X11ErrorTrap : NonCopyable {
 public:
  X11ErrorTrap();
  ~X11ErrorTrap();

  // True once an X error arrived for a request made under this trap; call
  // after a round trip (a reply or XSync) so that errors have come in.
  bool failed() const { return error_code_ != 0; }
  int errorCode() const { return error_code_; }
  void clear() { error_code_ = 0; }

 private:
  friend int onX11Error(Display*, XErrorEvent*);
  X11ErrorTrap* outer_;
  int error_code_ = 0;
};

// A rectangle of the root window, in pixels.
struct X11Rect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(X11Rect const&) const = default;
};

class X11Connection : public std::enable_shared_from_this<X11Connection>, NonCopyable {
 public:
  // A shared-memory picture buffer; handed out as the data of a shared
  // pointer whose deleter puts it back into the pool.
  struct ShmSegment {
    XShmSegmentInfo info{};
    size_t bytes = 0;
  };

  // The connection to $DISPLAY, opened on first use or after the previous one
  // broke; null when no X server can be reached.
  static std::shared_ptr<X11Connection> get();
  // Whether MIT-SHM may be used by connections (default true); a switch for
  // benchmarks and tests that compare both capture paths.
  static void setSharedMemoryAllowed(bool allowed);

  ~X11Connection();

  Mutex& mutex() { return mutex_; }
  Display* display() const { return display_; }
  std::string const& name() const { return name_; }
  bool hasSharedMemory() const;
  bool hasXFixes() const { return has_xfixes_; }
  bool hasRandR() const { return has_randr_; }
  // The server went away; nothing on this connection works any more.
  bool broken() const { return broken_.load(); }

  // A segment of at least `bytes`, attached on the server, or null when
  // shared memory cannot be had. Caller holds `mutex()`.
  std::shared_ptr<ShmSegment> acquireSegment(size_t bytes);

  // The monitors as the last display capture on this connection found them
  // (empty before the first); display captures read where a monitor was
  // while they check where it is now. Caller holds `mutex()`.
  std::vector<X11Rect>& knownMonitors() DRAVO_REQUIRES(mutex_) { return known_monitors_; }

 private:
  X11Connection(Display* display, std::string name);
  static void onIOErrorExit(Display* display, void* connection);
  bool serverHungUp() const;
  std::unique_ptr<ShmSegment> createSegment(size_t bytes);
  void destroySegment(std::unique_ptr<ShmSegment> segment);
  void releaseSegment(std::unique_ptr<ShmSegment> segment);

  Mutex mutex_;
  Display* const display_;
  std::string const name_;
  bool has_shm_ = false;
  bool has_xfixes_ = false;
  bool has_randr_ = false;
  std::atomic<bool> broken_{false};
  std::vector<X11Rect> known_monitors_ DRAVO_GUARDED_BY(mutex_);
  Mutex pool_mutex_;  // taken after mutex_ when both are held
  std::vector<std::unique_ptr<ShmSegment>> free_segments_ DRAVO_GUARDED_BY(pool_mutex_);
};

}  // namespace dravo::media
