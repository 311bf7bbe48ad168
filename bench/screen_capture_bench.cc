// Screen capture on a private Xvfb server (1920x1080, 24-bit): full-screen
// pictures with MIT-SHM against a bare XShmGetImage loop on its own
// connection (compare as BM_BareXShmGetImage time / BM_FullScreenSharedMemory
// time) and against XGetImage, a fitted picture, and what the mouse pointer
// costs (fetching it from XFixes and blending it in).
//
// Beside them, the Wayland path at 1080p: turning one stream picture into a
// frame (what the screen cast's thread spends per picture), and the screen
// source on a private PipeWire session with the test portal streaming at
// 60 pictures a second: frames delivered per second against the
// producer's, and the cast thread's CPU time per picture.

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/property_node.h"
#include "media_common/link_handle.h"
#include "media_common/sink_mixin.h"
#include "media_common/threaded_scheduler.h"
#include "media_common/video/cursor_overlay.h"
#include "media_common/video/screencast_frame.h"
#include "media_common/video/screenshot_x11.h"
#include "media_common/video/x11_connection.h"
#include "media_common/video/x11_screen_source.h"
#include "tests/support/portal_test_session.h"
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

// One 1080p stream picture (row stride padded as GPUs pad) into a frame,
// in the stream's byte order: BGRx is a copy, RGBx swaps red and blue.
void buildStreamFrame(benchmark::State& state, StreamPixelLayout layout) {
  int const stride = 1920 * 4 + 256;
  std::vector<uint8_t> pixels(size_t(stride) * 1080, 0x80);
  StreamPicture picture;
  picture.data = pixels.data();
  picture.size = pixels.size();
  picture.width = 1920;
  picture.height = 1080;
  picture.stride = stride;
  picture.layout = layout;
  ScreenCastFrameBuilder builder;
  StreamCursor cursor;
  char const* why = nullptr;
  for (auto _ : state) {
    auto frame = builder.build(picture, cursor, &why);
    if (!frame) return state.SkipWithError(why);
    benchmark::DoNotOptimize(frame->data());
  }
  state.SetBytesProcessed(state.iterations() * 1920 * 1080 * 4);
}

void BM_PortalFrameFromBGRx(benchmark::State& state) {
  buildStreamFrame(state, StreamPixelLayout::BGRX);
}
BENCHMARK(BM_PortalFrameFromBGRx)->Unit(benchmark::kMillisecond);

void BM_PortalFrameFromRGBx(benchmark::State& state) {
  buildStreamFrame(state, StreamPixelLayout::RGBX);
}
BENCHMARK(BM_PortalFrameFromRGBx)->Unit(benchmark::kMillisecond);

// Counts what reaches it, and how many of those are new pictures of the
// test portal rather than the previous one sent again (by the number in
// their first pixel). Frames arrive on the scheduler's threads, one at a
// time.
class CountingSink : public Element, public SinkMixin<ImageBuffer> {
 public:
  ~CountingSink() override { disconnect_all(); }
  std::atomic<int> frames{0};
  std::atomic<int> fresh{0};

 protected:
  void initialize() override {
    Element::initialize();
    SinkMixin<ImageBuffer>::initialize();
  }
  void onBuffer(std::shared_ptr<ImageBuffer const> const& frame) override {
    ++frames;
    uint64_t const number = testing::testPictureNumber(frame->data());
    if (number != last_) ++fresh;
    last_ = number;
  }

 private:
  uint64_t last_ = ~uint64_t{0};
};

// CPU seconds of this process's threads whose names start with one of
// `names`.
double threadCpuSeconds(std::vector<std::string> const& names) {
  double seconds = 0;
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return 0;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::string const dir = std::string("/proc/self/task/") + entry->d_name;
    std::string comm;
    std::getline(std::ifstream(dir + "/comm"), comm);
    bool wanted = false;
    for (auto const& name : names) wanted |= comm.rfind(name, 0) == 0;
    if (!wanted) continue;
    std::string stat;
    std::getline(std::ifstream(dir + "/stat"), stat);
    // utime and stime: fields 14 and 15, counted after the ")" that ends
    // the name.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip;
    long user = 0;
    long system = 0;
    fields >> user >> system;
    seconds += double(user + system) / sysconf(_SC_CLK_TCK);
  }
  closedir(tasks);
  return seconds;
}

// The screen source at 1080p asked for 60 pictures a second (its ticks
// come at a third of "req_fps"), three seconds per iteration. Reports
// frames delivered and new pictures among them per second, and the CPU
// time per delivered frame of the threads that capture: the scheduler's
// (X11 grabs, portal sends) and the screen cast's. The X server's own copy
// is not counted. Every X11 frame is a new grab.
void runScreenSource(benchmark::State& state, char const* backend, char const* window,
                     std::function<double()> const& produced_pictures) {
  char const* previous = std::getenv("DRAVO_SCREEN_CAPTURE");
  std::string const restore = previous ? previous : "";
  setenv("DRAVO_SCREEN_CAPTURE", backend, 1);
  auto scheduler = createThreadedScheduler(2, nullptr);
  scheduler->start();
  auto root = PropertyNode::create("bench");
  auto source = createScreenSource(ElementArgs(scheduler, root->getNode("screen", true)));
  setenv("DRAVO_SCREEN_CAPTURE", restore.c_str(), 1);
  auto sink = createElement<CountingSink>(ElementArgs(scheduler, root->getNode("sink", true)));
  LinkHandle link(source->getOutputPad()->link(*sink->getInputPad()));
  source->getPropertyNode("req_fps")->setValue(PropertyValue(180.0f));
  source->getPropertyNode("window")->setValue(PropertyValue(window));
  source->getPropertyNode("enabled")->setValue(PropertyValue(true));
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (sink->frames == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::vector<std::string> const threads = {"screencast", "scheduler"};
  double delivered = 0;
  double fresh = 0;
  double produced = 0;
  double cpu = 0;
  double seconds = 0;
  for (auto _ : state) {
    if (sink->frames == 0) {
      state.SkipWithError("no frames");
      break;
    }
    int const frames0 = sink->frames;
    int const fresh0 = sink->fresh;
    double const produced0 = produced_pictures();
    double const cpu0 = threadCpuSeconds(threads);
    auto const t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    delivered += sink->frames - frames0;
    fresh += sink->fresh - fresh0;
    produced += produced_pictures() - produced0;
    cpu += threadCpuSeconds(threads) - cpu0;
  }
  if (seconds > 0) {
    state.counters["delivered_fps"] = delivered / seconds;
    if (produced > 0) {
      state.counters["new_pictures_fps"] = fresh / seconds;
      state.counters["producer_fps"] = produced / seconds;
    }
    state.counters["cpu_ms_per_frame"] = delivered > 0 ? cpu * 1000 / delivered : 0;
  }
  link = LinkHandle();
  source.reset();
  sink.reset();
  scheduler->shutdown(true);
}

void BM_X11Source1080p(benchmark::State& state) {
  if (!serverError().empty()) return state.SkipWithError(serverError().c_str());
  runScreenSource(state, "x11", "0", [] { return 0.0; });
}
BENCHMARK(BM_X11Source1080p)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

// The producer: the tests' stand-in portal in this process, streaming a
// moving square at 60 pictures a second through a private PipeWire.
void BM_PortalSource1080p(benchmark::State& state) {
  static auto* session = new testing::PortalTestSession();
  if (!session->error().empty()) return state.SkipWithError(session->error().c_str());
  testing::TestPortalConfig config;
  config.picture.width = 1920;
  config.picture.height = 1080;
  config.picture.fps = 60;
  session->portal().configure(config);
  runScreenSource(state, "portal", "screen:portal",
                  [] { return double(session->portal().seen().frames); });
}
BENCHMARK(BM_PortalSource1080p)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

}  // namespace
}  // namespace dravo::media
