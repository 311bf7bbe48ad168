#include "tests/support/test_screencast_portal.h"

#include <pipewire/pipewire.h>
#include <poll.h>
#include <sdbus-c++/sdbus-c++.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace dravo::testing {

namespace {

constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kScreenCast[] = "org.freedesktop.portal.ScreenCast";
constexpr char kRequest[] = "org.freedesktop.portal.Request";
constexpr char kSession[] = "org.freedesktop.portal.Session";

using VarDict = std::map<std::string, sdbus::Variant>;
using Streams = std::vector<sdbus::Struct<uint32_t, VarDict>>;

// The pointer: 16x16 with its hot spot at (2, 2), an opaque magenta
// L-shape (the top four rows and left four columns), clear elsewhere.
constexpr int kCursorSide = 16;
constexpr int kHotSpot = 2;
constexpr uint32_t kCursorRgb = 0xff00ff;
constexpr uint32_t kMarginRgb = 0x00ff00;  // outside the crop region
constexpr uint32_t kSquareRgb = 0xff2010;
constexpr int kSquareSide = 32;

bool cursorOpaque(int cx, int cy) { return cx < 4 || cy < 4; }
int cursorX(uint64_t n) { return 40 + static_cast<int>(n % 50); }
int cursorY(uint64_t n) { return 30 + static_cast<int>(n % 20); }
// Frames whose buffer carries only the pointer's position, not its
// picture: runs of ten.
bool positionOnly(uint64_t n) { return n % 20 >= 10; }

uint32_t backgroundRgb(int x, int y) {
  return 0x400000u | uint32_t((y * 5) & 0xff) << 8 | uint32_t((x * 3) & 0xff);
}

constexpr size_t cursorMetaSize(size_t side) {
  return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + side * side * 4;
}

}  // namespace

uint32_t testPictureRgb(TestPicture const& picture, uint64_t n, int x, int y) {
  int const px = x - (cursorX(n) - kHotSpot);
  int const py = y - (cursorY(n) - kHotSpot);
  if (px >= 0 && py >= 0 && px < kCursorSide && py < kCursorSide && cursorOpaque(px, py))
    return kCursorRgb;
  if (x == 0 && y == 0) return 0x5a0000u | uint32_t((n >> 8) & 0xff) << 8 | uint32_t(n & 0xff);
  int const sx = static_cast<int>((n * 4) % uint64_t(picture.visibleWidth() - kSquareSide));
  int const sy = static_cast<int>((n * 2) % uint64_t(picture.visibleHeight() - kSquareSide));
  if (x >= sx && y >= sy && x < sx + kSquareSide && y < sy + kSquareSide) return kSquareRgb;
  return backgroundRgb(x, y);
}

uint64_t testPictureNumber(uint8_t const* pixel) { return pixel[0] | uint64_t{pixel[1]} << 8; }

struct TestScreenCastPortal::Private {
  // Guards what the test's thread reads or sets.
  mutable std::mutex mutex;
  TestPortalConfig config;
  Seen seen;
  std::vector<std::function<void()>> tasks;

  int wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  int timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  bool stopping = false;
  std::thread thread;

  // The rest belongs to the portal's thread.
  std::unique_ptr<sdbus::IConnection> connection;
  std::unique_ptr<sdbus::IObject> portal;
  std::map<std::string, std::unique_ptr<sdbus::IObject>> objects;  // requests and sessions
  std::string session_path;
  std::string start_request;  // answered when the stream has its node
  uint32_t start_type = 1;
  bool persist = false;
  std::set<std::string> issued_tokens;
  unsigned tokens_issued = 0;

  pw_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook stream_listener{};
  pw_stream_events stream_events{};
  TestPicture picture;  // of the current stream
  std::vector<uint8_t> background;
  uint64_t frame = 0;

  void post(std::function<void()> task) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      tasks.push_back(std::move(task));
    }
    uint64_t const one = 1;
    [[maybe_unused]] ssize_t written = write(wake_fd, &one, sizeof(one));
  }

  TestPortalConfig currentConfig() {
    std::lock_guard<std::mutex> lock(mutex);
    return config;
  }

  std::string callerPath(char const* kind, VarDict const& options, char const* key) {
    std::string sender = portal->getCurrentlyProcessedMessage()->getSender();
    if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
    for (char& c : sender)
      if (c == '.') c = '_';
    std::string token = "t" + std::to_string(++tokens_issued);
    auto const found = options.find(key);
    if (found != options.end()) token = found->second.get<std::string>();
    return std::string(kPortalPath) + "/" + kind + "/" + sender + "/" + token;
  }

  void addObject(std::string const& path, char const* interface) {
    auto object = sdbus::createObject(*connection, path);
    object->registerMethod("Close").onInterface(interface).implementedAs([this, path] {
      // Closing the session ends its stream, as with the real portal.
      if (path == session_path) post([this] { destroyStream(); });
    });
    object->finishRegistration();
    objects[path] = std::move(object);
  }

  // Answers the request at `path` after the method call that made it has
  // returned, as portals do.
  void respond(std::string const& path, uint32_t code, VarDict results) {
    post([this, path, code, results] {
      auto found = objects.find(path);
      if (found == objects.end()) return;
      found->second->emitSignal("Response").onInterface(kRequest).withArguments(code, results);
    });
  }

  sdbus::ObjectPath createSession(VarDict const& options) {
    std::string const request = callerPath("request", options, "handle_token");
    session_path = callerPath("session", options, "session_handle_token");
    addObject(request, kRequest);
    addObject(session_path, kSession);
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++seen.sessions;
    }
    respond(request, 0, {{"session_handle", sdbus::Variant(sdbus::ObjectPath(session_path))}});
    return request;
  }

  sdbus::ObjectPath selectSources(sdbus::ObjectPath const&, VarDict const& options) {
    std::string const request = callerPath("request", options, "handle_token");
    addObject(request, kRequest);
    auto value = [&](char const* key) -> uint32_t {
      auto found = options.find(key);
      return found == options.end() ? 0 : found->second.get<uint32_t>();
    };
    std::string token;
    if (auto found = options.find("restore_token"); found != options.end())
      token = found->second.get<std::string>();
    start_type = value("types");
    persist = value("persist_mode") != 0;
    {
      std::lock_guard<std::mutex> lock(mutex);
      seen.offered_tokens.push_back(token);
      seen.cursor_modes.push_back(value("cursor_mode"));
      seen.types.push_back(start_type);
    }
    // Tokens are good once, and only ours.
    bool const known = token.empty() || issued_tokens.erase(token) == 1;
    respond(request, known ? 0 : 2, {});
    return request;
  }

  sdbus::ObjectPath start(sdbus::ObjectPath const&, std::string const&, VarDict const& options) {
    std::string const request = callerPath("request", options, "handle_token");
    addObject(request, kRequest);
    TestPortalConfig const config = currentConfig();
    if (!config.answer_start) return request;
    if (config.start_response != 0) {
      respond(request, config.start_response, {});
      return request;
    }
    start_request = request;
    post([this, picture = config.picture] { createStream(picture); });
    return request;
  }

  sdbus::UnixFd openPipeWireRemote(sdbus::ObjectPath const&, VarDict const&) {
    char const* dir = getenv("PIPEWIRE_RUNTIME_DIR");
    if (!dir) dir = getenv("XDG_RUNTIME_DIR");
    int const fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s/pipewire-0", dir ? dir : "");
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      close(fd);
      throw sdbus::Error("org.freedesktop.portal.Error.Failed", "no PipeWire");
    }
    return sdbus::UnixFd(fd, sdbus::adopt_fd);
  }

  void answerStart() {
    if (start_request.empty() || !stream) return;
    uint32_t const node = pw_stream_get_node_id(stream);
    if (node == SPA_ID_INVALID) return;
    VarDict properties = {{"size", sdbus::Variant(sdbus::Struct<int32_t, int32_t>(
                                       picture.visibleWidth(), picture.visibleHeight()))},
                          {"source_type", sdbus::Variant(start_type)}};
    VarDict results = {{"streams", sdbus::Variant(Streams{{node, properties}})}};
    if (persist && currentConfig().version >= 4) {
      std::string const token = "restore-" + std::to_string(++tokens_issued);
      issued_tokens.insert(token);
      results["restore_token"] = sdbus::Variant(token);
    }
    respond(start_request, 0, results);
    start_request.clear();
  }

  void createStream(TestPicture const& wanted) {
    destroyStream();
    picture = wanted;
    frame = 0;
    stream = pw_stream_new(
        core, "test screen",
        pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video",
                          PW_KEY_MEDIA_CATEGORY, "Source", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    stream_events = {};
    stream_events.version = PW_VERSION_STREAM_EVENTS;
    stream_events.state_changed = [](void* self, pw_stream_state, pw_stream_state state,
                                     char const*) {
      auto* p = static_cast<Private*>(self);
      if (state == PW_STREAM_STATE_PAUSED) p->answerStart();
      bool const streaming = state == PW_STREAM_STATE_STREAMING;
      {
        std::lock_guard<std::mutex> lock(p->mutex);
        p->seen.streaming = streaming;
      }
      long const interval = 1000000000L / std::max(1, p->picture.fps);
      itimerspec timer{{0, streaming ? interval : 0}, {0, streaming ? interval : 0}};
      timerfd_settime(p->timer_fd, 0, &timer, nullptr);
    };
    stream_events.param_changed = [](void* self, uint32_t id, spa_pod const* param) {
      if (id == SPA_PARAM_Format && param) static_cast<Private*>(self)->negotiated();
    };
    stream_events.process = [](void* self) { static_cast<Private*>(self)->produce(); };
    pw_stream_add_listener(stream, &stream_listener, &stream_events, this);

    uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    spa_rectangle size = SPA_RECTANGLE(uint32_t(picture.width), uint32_t(picture.height));
    spa_fraction rate = SPA_FRACTION(0, 1);
    spa_fraction max_rate = SPA_FRACTION(uint32_t(picture.fps), 1);
    auto const* format = static_cast<spa_pod const*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate), SPA_FORMAT_VIDEO_maxFramerate,
        SPA_POD_Fraction(&max_rate)));
    pw_stream_connect(
        stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), &format,
        1);
  }

  int stride() const { return picture.stride > 0 ? picture.stride : picture.width * 4; }

  void negotiated() {
    int const row = stride();
    // The frame-independent part of every picture: background inside the
    // crop region, margin colour outside.
    background.assign(size_t(row) * picture.height, 0);
    for (int y = 0; y < picture.height; ++y)
      for (int x = 0; x < picture.width; ++x) {
        int const vx = x - picture.crop_x;
        int const vy = y - picture.crop_y;
        bool const inside =
            vx >= 0 && vy >= 0 && vx < picture.visibleWidth() && vy < picture.visibleHeight();
        uint32_t const rgb = inside ? backgroundRgb(vx, vy) : kMarginRgb;
        uint8_t* pixel = &background[size_t(y) * row + size_t(x) * 4];
        pixel[0] = rgb & 0xff;
        pixel[1] = (rgb >> 8) & 0xff;
        pixel[2] = (rgb >> 16) & 0xff;
      }
    uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    spa_pod const* params[3];
    params[0] = static_cast<spa_pod const*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_size, SPA_POD_Int(row * picture.height), SPA_PARAM_BUFFERS_stride,
        SPA_POD_Int(row), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd)));
    params[1] = static_cast<spa_pod const*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_VideoCrop), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
    params[2] = static_cast<spa_pod const*>(
        spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                   SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
                                   SPA_PARAM_META_size, SPA_POD_Int(cursorMetaSize(kCursorSide))));
    pw_stream_update_params(stream, params, 3);
  }

  void produce() {
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
    if (!buffer) return;
    spa_buffer* spa = buffer->buffer;
    spa_data& data = spa->datas[0];
    int const row = stride();
    if (!data.data || data.maxsize < background.size()) {
      pw_stream_queue_buffer(stream, buffer);
      return;
    }
    uint64_t const n = frame++;
    auto* pixels = static_cast<uint8_t*>(data.data);
    std::memcpy(pixels, background.data(), background.size());
    auto put = [&](int x, int y, uint32_t rgb) {
      uint8_t* pixel = pixels + size_t(y + picture.crop_y) * row + size_t(x + picture.crop_x) * 4;
      pixel[0] = rgb & 0xff;
      pixel[1] = (rgb >> 8) & 0xff;
      pixel[2] = (rgb >> 16) & 0xff;
    };
    int const sx = static_cast<int>((n * 4) % uint64_t(picture.visibleWidth() - kSquareSide));
    int const sy = static_cast<int>((n * 2) % uint64_t(picture.visibleHeight() - kSquareSide));
    for (int y = sy; y < sy + kSquareSide; ++y)
      for (int x = sx; x < sx + kSquareSide; ++x) put(x, y, kSquareRgb);
    put(0, 0, testPictureRgb(picture, n, 0, 0));
    data.chunk->offset = 0;
    data.chunk->size = uint32_t(background.size());
    data.chunk->stride = row;
    data.chunk->flags = 0;
    if (auto* crop = static_cast<spa_meta_region*>(
            spa_buffer_find_meta_data(spa, SPA_META_VideoCrop, sizeof(spa_meta_region)))) {
      crop->region.position = SPA_POINT(picture.crop_x, picture.crop_y);
      crop->region.size =
          SPA_RECTANGLE(uint32_t(picture.visibleWidth()), uint32_t(picture.visibleHeight()));
    }
    spa_meta const* meta = spa_buffer_find_meta(spa, SPA_META_Cursor);
    if (meta && meta->size >= cursorMetaSize(kCursorSide)) {
      auto* cursor = static_cast<spa_meta_cursor*>(meta->data);
      cursor->id = 1;
      cursor->flags = 0;
      cursor->position = SPA_POINT(cursorX(n), cursorY(n));
      cursor->hotspot = SPA_POINT(kHotSpot, kHotSpot);
      cursor->bitmap_offset = 0;
      if (!positionOnly(n)) {
        cursor->bitmap_offset = sizeof(spa_meta_cursor);
        auto* bitmap = SPA_PTROFF(cursor, cursor->bitmap_offset, spa_meta_bitmap);
        bitmap->format = SPA_VIDEO_FORMAT_BGRA;
        bitmap->size = SPA_RECTANGLE(kCursorSide, kCursorSide);
        bitmap->stride = kCursorSide * 4;
        bitmap->offset = sizeof(spa_meta_bitmap);
        auto* bits = SPA_PTROFF(bitmap, bitmap->offset, uint8_t);
        for (int y = 0; y < kCursorSide; ++y)
          for (int x = 0; x < kCursorSide; ++x) {
            uint8_t* pixel = bits + y * kCursorSide * 4 + x * 4;
            bool const opaque = cursorOpaque(x, y);
            // Premultiplied BGRA.
            pixel[0] = opaque ? (kCursorRgb & 0xff) : 0;
            pixel[1] = opaque ? ((kCursorRgb >> 8) & 0xff) : 0;
            pixel[2] = opaque ? ((kCursorRgb >> 16) & 0xff) : 0;
            pixel[3] = opaque ? 0xff : 0;
          }
      }
    }
    pw_stream_queue_buffer(stream, buffer);
    std::lock_guard<std::mutex> lock(mutex);
    ++seen.frames;
  }

  void destroyStream() {
    if (!stream) return;
    itimerspec off{};
    timerfd_settime(timer_fd, 0, &off, nullptr);
    spa_hook_remove(&stream_listener);
    pw_stream_destroy(stream);
    stream = nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    seen.streaming = false;
  }

  void run() {
    pw_loop_enter(loop);
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) break;
      }
      while (connection->processPendingRequest()) {
      }
      std::vector<std::function<void()>> ready;
      {
        std::lock_guard<std::mutex> lock(mutex);
        ready.swap(tasks);
      }
      for (auto& task : ready) task();
      pw_loop_iterate(loop, 0);
      auto const bus = connection->getEventLoopPollData();
      pollfd fds[4] = {{wake_fd, POLLIN, 0},
                       {bus.fd, bus.events, 0},
                       {pw_loop_get_fd(loop), POLLIN, 0},
                       {timer_fd, POLLIN, 0}};
      int const timeout = bus.getPollTimeout();
      poll(fds, 4, timeout < 0 || timeout > 100 ? 100 : timeout);
      uint64_t count = 0;
      if (fds[0].revents) [[maybe_unused]]
        ssize_t r = read(wake_fd, &count, sizeof(count));
      if (fds[3].revents && read(timer_fd, &count, sizeof(count)) > 0 && stream)
        pw_stream_trigger_process(stream);
    }
    destroyStream();
    objects.clear();
    portal.reset();
    if (core) pw_core_disconnect(core);
    if (context) pw_context_destroy(context);
    pw_loop_leave(loop);
  }
};

TestScreenCastPortal::TestScreenCastPortal() : private_(std::make_unique<Private>()) {}

TestScreenCastPortal::~TestScreenCastPortal() {
  Private& p = *private_;
  if (p.thread.joinable()) {
    {
      std::lock_guard<std::mutex> lock(p.mutex);
      p.stopping = true;
    }
    p.post([] {});
    p.thread.join();
  }
  p.connection.reset();
  if (p.loop) pw_loop_destroy(p.loop);
  close(p.wake_fd);
  close(p.timer_fd);
}

bool TestScreenCastPortal::start(std::string* error) {
  Private& p = *private_;
  static std::once_flag initialized;
  std::call_once(initialized, [] { pw_init(nullptr, nullptr); });
  try {
    p.connection = sdbus::createSessionBusConnection(kPortalName);
    p.portal = sdbus::createObject(*p.connection, kPortalPath);
    p.portal->registerMethod("CreateSession")
        .onInterface(kScreenCast)
        .implementedAs([&p](VarDict const& options) { return p.createSession(options); });
    p.portal->registerMethod("SelectSources")
        .onInterface(kScreenCast)
        .implementedAs([&p](sdbus::ObjectPath const& session, VarDict const& options) {
          return p.selectSources(session, options);
        });
    p.portal->registerMethod("Start")
        .onInterface(kScreenCast)
        .implementedAs([&p](sdbus::ObjectPath const& session, std::string const& parent,
                            VarDict const& options) { return p.start(session, parent, options); });
    p.portal->registerMethod("OpenPipeWireRemote")
        .onInterface(kScreenCast)
        .implementedAs([&p](sdbus::ObjectPath const& session, VarDict const& options) {
          return p.openPipeWireRemote(session, options);
        });
    p.portal->registerProperty("version").onInterface(kScreenCast).withGetter([&p] {
      return p.currentConfig().version;
    });
    p.portal->registerProperty("AvailableSourceTypes").onInterface(kScreenCast).withGetter([&p] {
      return p.currentConfig().source_types;
    });
    p.portal->registerProperty("AvailableCursorModes").onInterface(kScreenCast).withGetter([&p] {
      return p.currentConfig().cursor_modes;
    });
    p.portal->finishRegistration();
  } catch (sdbus::Error const& e) {
    *error = "test portal: " + e.getName() + ": " + e.getMessage();
    return false;
  }
  p.loop = pw_loop_new(nullptr);
  p.context = pw_context_new(p.loop, nullptr, 0);
  p.core = p.context ? pw_context_connect(p.context, nullptr, 0) : nullptr;
  if (!p.core) {
    *error = "test portal: cannot connect to PipeWire";
    return false;
  }
  p.thread = std::thread([&p] { p.run(); });
  return true;
}

void TestScreenCastPortal::configure(TestPortalConfig const& config) {
  std::lock_guard<std::mutex> lock(private_->mutex);
  private_->config = config;
}

void TestScreenCastPortal::stopStream() {
  private_->post([p = private_.get()] { p->destroyStream(); });
}

void TestScreenCastPortal::closeSession() {
  private_->post([p = private_.get()] {
    auto found = p->objects.find(p->session_path);
    if (found != p->objects.end())
      found->second->emitSignal("Closed").onInterface(kSession).withArguments(VarDict());
  });
}

TestScreenCastPortal::Seen TestScreenCastPortal::seen() const {
  std::lock_guard<std::mutex> lock(private_->mutex);
  return private_->seen;
}

}  // namespace dravo::testing
