#include "media_common/video/x11_connection.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "common/logging.h"

DRAVO_LOGGER("x11_connection");

namespace dravo::media {

namespace {

// Segments kept for reuse; more are only alive while pictures use them.
constexpr size_t kMaxFreeSegments = 3;

thread_local X11ErrorTrap* current_trap = nullptr;
std::atomic<bool> shared_memory_allowed{true};

Mutex connection_mutex;
Mutex abandoned_mutex;
std::shared_ptr<X11Connection>& currentConnection() {
  // Never destroyed: pictures released during exit may still reach it.
  static auto* connection = new std::shared_ptr<X11Connection>();
  return *connection;
}

int onX11IOError(Display*) {
  LOGF(2, "Lost the connection to the X server");
  return 0;
}

}  // namespace

int onX11Error(Display* display, XErrorEvent* event) {
  if (current_trap) {
    current_trap->error_code_ = event->error_code;
    return 0;
  }
  char text[256] = {};
  XGetErrorText(display, event->error_code, text, sizeof(text));
  LOGF(3, "Unexpected X error %s (request %d.%d)", text, event->request_code, event->minor_code);
  return 0;
}

X11ErrorTrap::X11ErrorTrap() : outer_(current_trap) { current_trap = this; }

X11ErrorTrap::~X11ErrorTrap() { current_trap = outer_; }

X11Connection::X11Connection(Display* display, std::string name)
    : display_(display), name_(std::move(name)) {
  XSetIOErrorExitHandler(display_, &X11Connection::onIOErrorExit, this);
  int major = 0, minor = 0;
  Bool pixmaps = False;
  // A remote server cannot see our segments; MIT-SHM only helps locally.
  has_shm_ = XShmQueryVersion(display_, &major, &minor, &pixmaps) == True;
  int event_base = 0, error_base = 0;
  has_xfixes_ = XFixesQueryExtension(display_, &event_base, &error_base) == True;
  has_randr_ = XRRQueryExtension(display_, &event_base, &error_base) == True &&
               XRRQueryVersion(display_, &major, &minor) && (major > 1 || minor >= 5);
  LOGF(4, "Connected to X display %s (shm %d, xfixes %d, randr %d)", name_.c_str(), has_shm_,
       has_xfixes_, has_randr_);
}

X11Connection::~X11Connection() {
  bool const reachable = !broken() && !serverHungUp();
  {
    MutexLock lock(mutex_);
    MutexLock pool_lock(pool_mutex_);
    for (auto& segment : free_segments_) {
      if (reachable)
        destroySegment(std::move(segment));
      else
        shmdt(segment->info.shmaddr);
    }
    free_segments_.clear();
  }
  if (reachable) {
    XCloseDisplay(display_);
    return;
  }
  // Closing a connection whose server is gone makes Xlib report the loss
  // once more and trip over its own display lock; we only close the socket
  // and keep the small Display record.
  close(ConnectionNumber(display_));
  static auto* abandoned = new std::vector<Display*>();
  MutexLock lock(abandoned_mutex);
  abandoned->push_back(display_);
}

std::shared_ptr<X11Connection> X11Connection::get() {
  static std::once_flag handlers_installed;
  std::call_once(handlers_installed, [] {
    XSetErrorHandler(&onX11Error);
    XSetIOErrorHandler(&onX11IOError);
  });
  char const* env = std::getenv("DISPLAY");
  std::string const name = env ? env : "";
  MutexLock lock(connection_mutex);
  auto& current = currentConnection();
  if (current && (current->name_ != name || current->broken() || current->serverHungUp()))
    current.reset();
  if (!current) {
    Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (!display) {
      LOGF(2, "Cannot open X display \"%s\"", name.c_str());
      return nullptr;
    }
    current.reset(new X11Connection(display, name));
  }
  return current;
}

void X11Connection::setSharedMemoryAllowed(bool allowed) { shared_memory_allowed = allowed; }

bool X11Connection::hasSharedMemory() const { return has_shm_ && shared_memory_allowed; }

void X11Connection::onIOErrorExit(Display*, void* connection) {
  static_cast<X11Connection*>(connection)->broken_ = true;
}

bool X11Connection::serverHungUp() const {
  // We select no events, so the only thing the socket can have to say
  // between requests is an error or the end of the stream.
  char byte;
  return recv(ConnectionNumber(display_), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

std::shared_ptr<X11Connection::ShmSegment> X11Connection::acquireSegment(size_t bytes) {
  if (!hasSharedMemory() || broken()) return nullptr;
  std::unique_ptr<ShmSegment> segment;
  std::vector<std::unique_ptr<ShmSegment>> stale;
  {
    MutexLock pool_lock(pool_mutex_);
    for (auto& candidate : free_segments_) {
      if (!segment && candidate->bytes == bytes)
        segment = std::move(candidate);
      else if (candidate)
        stale.push_back(std::move(candidate));
    }
    free_segments_.clear();
    // Keep the ones that fit this size of picture, drop the rest.
    for (auto& candidate : stale) {
      if (candidate->bytes == bytes && free_segments_.size() < kMaxFreeSegments)
        free_segments_.push_back(std::move(candidate));
    }
  }
  for (auto& candidate : stale)
    if (candidate) destroySegment(std::move(candidate));
  if (!segment) segment = createSegment(bytes);
  if (!segment) return nullptr;
  std::weak_ptr<X11Connection> owner = weak_from_this();
  auto self = shared_from_this();
  ShmSegment* raw = segment.release();
  return std::shared_ptr<ShmSegment>(raw, [self](ShmSegment* returned) {
    self->releaseSegment(std::unique_ptr<ShmSegment>(returned));
  });
}

void X11Connection::releaseSegment(std::unique_ptr<ShmSegment> segment) {
  MutexLock pool_lock(pool_mutex_);
  free_segments_.push_back(std::move(segment));
}

std::unique_ptr<X11Connection::ShmSegment> X11Connection::createSegment(size_t bytes) {
  auto segment = std::make_unique<ShmSegment>();
  segment->bytes = bytes;
  segment->info.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (segment->info.shmid < 0) {
    LOGF(3, "shmget of %zu bytes failed; capturing without shared memory", bytes);
    has_shm_ = false;
    return nullptr;
  }
  void* address = shmat(segment->info.shmid, nullptr, 0);
  if (address == reinterpret_cast<void*>(-1)) {
    shmctl(segment->info.shmid, IPC_RMID, nullptr);
    has_shm_ = false;
    return nullptr;
  }
  segment->info.shmaddr = static_cast<char*>(address);
  segment->info.readOnly = False;
  X11ErrorTrap trap;
  int const attached = XShmAttach(display_, &segment->info);
  XSync(display_, False);
  // Once both sides are attached the segment can be marked for removal: it
  // then goes away by itself when the last of us detaches or dies.
  shmctl(segment->info.shmid, IPC_RMID, nullptr);
  if (!attached || trap.failed() || broken()) {
    LOGF(3, "The X server cannot attach our segments; capturing without shared memory");
    shmdt(segment->info.shmaddr);
    has_shm_ = false;
    return nullptr;
  }
  return segment;
}

void X11Connection::destroySegment(std::unique_ptr<ShmSegment> segment) {
  if (!broken()) {
    X11ErrorTrap trap;
    XShmDetach(display_, &segment->info);
    XSync(display_, False);
  }
  shmdt(segment->info.shmaddr);
}

}  // namespace dravo::media
