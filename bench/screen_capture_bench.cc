// Screen capture on a private Xvfb server (1920x1080, 24-bit): full-screen
// pictures with MIT-SHM against a bare XShmGetImage loop on its own
// connection (compare as BM_BareXShmGetImage time / BM_FullScreenSharedMemory
// time) and against XGetImage, a fitted picture, and what the mouse pointer
// costs (fetching it from XFixes and blending it in).

#include <benchmark/benchmark.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "media_common/video/cursor_overlay.h"
#include "media_common/video/screenshot_x11.h"
#include "media_common/video/x11_connection.h"
#include "tests/support/xvfb_server.h"

namespace dravo::media {
namespace {

// The server for the whole run; empty error once it is up.
std::string const& serverError() {
  static auto* server = new testing::XvfbServer();
  static std::string const error = [] {
    std::string why;
    if (server->start("1920x1080x24", &why)) setenv("DISPLAY", server->display().c_str(), 1);
    return why;
  }();
  return error;
}

void grabFullScreen(benchmark::State& state, bool shared_memory) {
  if (!serverError().empty()) return state.SkipWithError(serverError().c_str());
  X11Connection::setSharedMemoryAllowed(shared_memory);
  for (auto _ : state) {
    auto picture = getScreenshot("0", Size(-1, -1), nullptr);
    if (!picture) return state.SkipWithError("capture failed");
    benchmark::DoNotOptimize(picture->data());
  }
  X11Connection::setSharedMemoryAllowed(true);
  state.SetBytesProcessed(state.iterations() * 1920 * 1080 * 4);
}

void BM_FullScreenSharedMemory(benchmark::State& state) { grabFullScreen(state, true); }
BENCHMARK(BM_FullScreenSharedMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FullScreenXGetImage(benchmark::State& state) { grabFullScreen(state, false); }
BENCHMARK(BM_FullScreenXGetImage)->Unit(benchmark::kMillisecond)->UseRealTime();

// The raw call a full-screen grab stands on: one segment attached once, one
// XShmGetImage of the whole root window per picture.
void BM_BareXShmGetImage(benchmark::State& state) {
  if (!serverError().empty()) return state.SkipWithError(serverError().c_str());
  Display* display = XOpenDisplay(nullptr);
  if (!display) return state.SkipWithError("no display");
  int const screen = DefaultScreen(display);
  XShmSegmentInfo segment{};
  XImage* image = XShmCreateImage(display, DefaultVisual(display, screen),
                                  DefaultDepth(display, screen), ZPixmap, nullptr, &segment,
                                  DisplayWidth(display, screen), DisplayHeight(display, screen));
  segment.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * image->height,
                         IPC_CREAT | 0600);
  segment.shmaddr = image->data = static_cast<char*>(shmat(segment.shmid, nullptr, 0));
  XShmAttach(display, &segment);
  XSync(display, False);
  shmctl(segment.shmid, IPC_RMID, nullptr);
  for (auto _ : state) {
    if (!XShmGetImage(display, DefaultRootWindow(display), image, 0, 0, AllPlanes))
      return state.SkipWithError("XShmGetImage failed");
    benchmark::DoNotOptimize(image->data);
  }
  XShmDetach(display, &segment);
  image->data = nullptr;
  XDestroyImage(image);
  shmdt(segment.shmaddr);
  XCloseDisplay(display);
  state.SetBytesProcessed(state.iterations() * 1920 * 1080 * 4);
}
BENCHMARK(BM_BareXShmGetImage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Fitted640x360SharedMemory(benchmark::State& state) {
  if (!serverError().empty()) return state.SkipWithError(serverError().c_str());
  for (auto _ : state) {
    auto picture = getScreenshot("0", Size(640, 360), nullptr);
    if (!picture) return state.SkipWithError("capture failed");
    benchmark::DoNotOptimize(picture->data());
  }
}
BENCHMARK(BM_Fitted640x360SharedMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

// The server's pointer picture, fetched the way captures fetch it.
CursorImage fetchCursor(X11Connection& connection) {
  MutexLock lock(connection.mutex());
  CursorImage cursor;
  XFixesCursorImage* image = XFixesGetCursorImage(connection.display());
  if (!image) return cursor;
  cursor.x_ = image->x - image->xhot;
  cursor.y_ = image->y - image->yhot;
  cursor.width_ = image->width;
  cursor.height_ = image->height;
  for (int i = 0; i < image->width * image->height; ++i)
    cursor.argb_.push_back(static_cast<uint32_t>(image->pixels[i]));
  XFree(image);
  return cursor;
}

void BM_PointerFetchAndBlend(benchmark::State& state) {
  if (!serverError().empty()) return state.SkipWithError(serverError().c_str());
  auto connection = X11Connection::get();
  if (!connection) return state.SkipWithError("no connection");
  std::vector<uint8_t> screen(1920 * 1080 * 4, 0x80);
  for (auto _ : state) {
    CursorImage cursor = fetchCursor(*connection);
    blendCursor(cursor, 0, 0, screen.data(), 1920 * 4, 1920, 1080);
    benchmark::DoNotOptimize(screen.data());
  }
}
BENCHMARK(BM_PointerFetchAndBlend)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The blend alone, of a 32x32 pointer with soft edges.
void BM_PointerBlendOnly(benchmark::State& state) {
  CursorImage cursor;
  cursor.x_ = 960;
  cursor.y_ = 540;
  cursor.width_ = 32;
  cursor.height_ = 32;
  for (int i = 0; i < 32 * 32; ++i) cursor.argb_.push_back(i % 3 == 0 ? 0x80404040 : 0xffffffff);
  std::vector<uint8_t> screen(1920 * 1080 * 4, 0x80);
  for (auto _ : state) {
    blendCursor(cursor, 0, 0, screen.data(), 1920 * 4, 1920, 1080);
    benchmark::DoNotOptimize(screen.data());
  }
}
BENCHMARK(BM_PointerBlendOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace dravo::media
