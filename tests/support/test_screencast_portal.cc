#include <pipewire/pipewire.h>
#include <sdbus-c++/sdbus-c++.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "tests/support/portal_test_session.h"
#include "tests/support/xvfb_server.h"

namespace dravo::testing {

namespace {

constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kScreenCast[] = "org.freedesktop.portal.ScreenCast";

using VarDict = std::map<std::string, sdbus::Variant>;

// The pointer: 16x16 with its hot spot at (2, 2), an opaque magenta
// L-shape (the top four rows and left four columns), clear elsewhere.
constexpr int kCursorSide = 16;
constexpr int kHotSpot = 2;
constexpr uint32_t kCursorRgb = 0xff00ff;
constexpr size_t kCursorMetaSize =
    sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + kCursorSide * kCursorSide * 4;

bool cursorOpaque(int cx, int cy) { return cx < 4 || cy < 4; }
spa_point cursorAt(uint64_t n) { return {40 + int(n % 50), 30 + int(n % 20)}; }
uint32_t backgroundRgb(int x, int y) {
  return 0x400000u | uint32_t((y * 5) & 0xff) << 8 | uint32_t((x * 3) & 0xff);
}
// Blue, green and red bytes (little-endian).
void putRgb(uint8_t* pixel, uint32_t rgb) { std::memcpy(pixel, &rgb, 3); }

}  // namespace

uint32_t testPictureRgb(TestPicture const& picture, uint64_t n, int x, int y) {
  int const px = x - (cursorAt(n).x - kHotSpot), py = y - (cursorAt(n).y - kHotSpot);
  if (px >= 0 && py >= 0 && px < kCursorSide && py < kCursorSide && cursorOpaque(px, py))
    return kCursorRgb;
  if (x == 0 && y == 0) return 0x5a0000u | uint32_t(n & 0xffff);
  // The gradient moves on by a pixel a frame, row after row.
  size_t const i = (size_t(y) * picture.width + x + n) % (size_t(picture.width) * picture.height);
  return backgroundRgb(int(i % picture.width), int(i / picture.width));
}

uint64_t testPictureNumber(uint8_t const* pixel) { return pixel[0] | uint64_t{pixel[1]} << 8; }

struct TestScreenCastPortal::Private {
  // The PipeWire loop's thread also serves the bus; the test's thread
  // takes the loop's lock for its calls.
  pw_thread_loop* thread_loop = nullptr;
  pw_loop* loop = nullptr;
  spa_source* timer = nullptr;  // paces the pictures
  TestPortalConfig config;
  Seen seen;

  std::unique_ptr<sdbus::IConnection> connection;
  std::unique_ptr<sdbus::IObject> portal;
  std::vector<std::function<void()>> after_reply;  // of the method call being served
  std::string session_path;
  std::string start_request;  // answered when the stream has its node
  std::set<std::string> issued_tokens;
  unsigned tokens_issued = 0;

  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook stream_listener{};
  pw_stream_events stream_events{};
  TestPicture picture;  // of the current stream
  std::vector<uint8_t> background;
  uint64_t frame = 0;

  void locked(std::function<void()> const& task) {
    pw_thread_loop_lock(thread_loop);
    task();
    pw_thread_loop_unlock(thread_loop);
  }

  // Serves the bus's requests, and after each reply what it left to do.
  void serveBus() {
    while (connection->processPendingRequest())
      for (auto& task : std::exchange(after_reply, {})) task();
  }

  // The object path a client predicts from its unique name and its token.
  std::string callerPath(char const* kind, VarDict const& options, char const* key) {
    std::string sender = portal->getCurrentlyProcessedMessage()->getSender();
    sender.erase(0, 1);  // the leading ':'
    std::replace(sender.begin(), sender.end(), '.', '_');
    return std::string(kPortalPath) + "/" + kind + "/" + sender + "/" +
           options.at(key).get<std::string>();
  }
  std::string request(VarDict const& options) {
    return callerPath("request", options, "handle_token");
  }

  template <typename... Arguments>
  void emit(std::string const& path, char const* interface, char const* name,
            Arguments const&... arguments) {
    sdbus::createObject(*connection, path)
        ->emitSignal(name)
        .onInterface(interface)
        .withArguments(arguments...);
  }
  // Answers the request at `path` after the method call that made it has
  // returned, as portals do.
  sdbus::ObjectPath respond(std::string const& path, uint32_t code, VarDict const& results) {
    after_reply.push_back([this, path, code, results] {
      emit(path, "org.freedesktop.portal.Request", "Response", code, results);
    });
    return sdbus::ObjectPath(path);
  }

  sdbus::ObjectPath createSession(VarDict const& options) {
    session_path = callerPath("session", options, "session_handle_token");
    return respond(request(options), 0,
                   {{"session_handle", sdbus::Variant(sdbus::ObjectPath(session_path))}});
  }

  sdbus::ObjectPath selectSources(VarDict const& options) {
    std::string const token =
        options.count("restore_token") ? options.at("restore_token").get<std::string>() : "";
    seen.offered_tokens.push_back(token);
    // Tokens are good once, and only ours.
    return respond(request(options), token.empty() || issued_tokens.erase(token) == 1 ? 0 : 2, {});
  }

  sdbus::ObjectPath start(VarDict const& options) {
    if (!config.answer_start) return sdbus::ObjectPath(request(options));
    if (config.start_response != 0) return respond(request(options), config.start_response, {});
    start_request = request(options);
    after_reply.push_back([this, picture = config.picture] { createStream(picture); });
    return sdbus::ObjectPath(start_request);
  }

  sdbus::UnixFd openPipeWireRemote() {
    char const* dir = getenv("PIPEWIRE_RUNTIME_DIR");
    int const fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s/pipewire-0", dir ? dir : "");
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    return sdbus::UnixFd(fd, sdbus::adopt_fd);
  }

  void answerStart() {
    uint32_t const node = stream ? pw_stream_get_node_id(stream) : SPA_ID_INVALID;
    if (start_request.empty() || node == SPA_ID_INVALID) return;
    using Streams = std::vector<sdbus::Struct<uint32_t, VarDict>>;
    auto const token = *issued_tokens.insert("restore-" + std::to_string(++tokens_issued)).first;
    emit(std::exchange(start_request, ""), "org.freedesktop.portal.Request", "Response",
         uint32_t{0},
         VarDict{{"streams", sdbus::Variant(Streams{{node, VarDict()}})},
                 {"restore_token", sdbus::Variant(token)}});
  }

  void createStream(TestPicture const& wanted) {
    destroyStream();
    picture = wanted;
    frame = 0;
    stream = pw_stream_new(core, "test screen",
                           pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE,
                                             "Video", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    stream_events = {};
    stream_events.version = PW_VERSION_STREAM_EVENTS;
    stream_events.state_changed = [](void* self, pw_stream_state, pw_stream_state state,
                                     char const*) {
      auto* p = static_cast<Private*>(self);
      if (state == PW_STREAM_STATE_PAUSED) p->answerStart();
      timespec interval{
          0, state == PW_STREAM_STATE_STREAMING ? 1000000000L / std::max(1, p->picture.fps) : 0};
      pw_loop_update_timer(p->loop, p->timer, &interval, &interval, false);
    };
    stream_events.param_changed = [](void* self, uint32_t id, spa_pod const* param) {
      if (id == SPA_PARAM_Format && param) static_cast<Private*>(self)->negotiated();
    };
    stream_events.process = [](void* self) { static_cast<Private*>(self)->produce(); };
    pw_stream_add_listener(stream, &stream_listener, &stream_events, this);

    uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    spa_rectangle size = SPA_RECTANGLE(uint32_t(picture.width), uint32_t(picture.height));
    spa_fraction rate = SPA_FRACTION(0, 1), max_rate = SPA_FRACTION(uint32_t(picture.fps), 1);
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

  void negotiated() {
    int const row = picture.width * 4;
    // The frame-independent part of every picture.
    background.assign(size_t(row) * picture.height, 0);
    for (int y = 0; y < picture.height; ++y)
      for (int x = 0; x < picture.width; ++x)
        putRgb(&background[size_t(y) * row + size_t(x) * 4], backgroundRgb(x, y));
    uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    spa_pod const* params[] = {
        static_cast<spa_pod const*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
            SPA_PARAM_BUFFERS_size, SPA_POD_Int(row * picture.height), SPA_PARAM_BUFFERS_stride,
            SPA_POD_Int(row), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd))),
        static_cast<spa_pod const*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size, SPA_POD_Int(int(kCursorMetaSize))))};
    pw_stream_update_params(stream, params, 2);
  }

  void produce() {
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
    if (!buffer) return;
    spa_data& data = buffer->buffer->datas[0];
    if (!data.data || data.maxsize < background.size())
      return void(pw_stream_queue_buffer(stream, buffer));
    uint64_t const n = frame++;
    auto* pixels = static_cast<uint8_t*>(data.data);
    size_t const shift = n % (background.size() / 4) * 4, size = background.size();
    std::memcpy(pixels, background.data() + shift, size - shift);
    std::memcpy(pixels + size - shift, background.data(), shift);
    putRgb(pixels, testPictureRgb(picture, n, 0, 0));
    *data.chunk = {0, uint32_t(size), picture.width * 4, 0};
    spa_meta const* meta = spa_buffer_find_meta(buffer->buffer, SPA_META_Cursor);
    if (meta && meta->size >= kCursorMetaSize) {
      auto* cursor = static_cast<spa_meta_cursor*>(meta->data);
      // Runs of ten buffers carry only the position.
      bool const bitmap = n % 20 < 10;
      *cursor = {1, 0, cursorAt(n), SPA_POINT(kHotSpot, kHotSpot),
                 bitmap ? uint32_t(sizeof(spa_meta_cursor)) : 0};
      auto* header = SPA_PTROFF(cursor, sizeof(spa_meta_cursor), spa_meta_bitmap);
      *header = {SPA_VIDEO_FORMAT_BGRA, SPA_RECTANGLE(kCursorSide, kCursorSide), kCursorSide * 4,
                 sizeof(spa_meta_bitmap)};
      auto* bits = SPA_PTROFF(header, header->offset, uint8_t);
      for (int i = 0; i < kCursorSide * kCursorSide; ++i) {
        // Premultiplied BGRA: all clear or all opaque.
        uint32_t const argb =
            cursorOpaque(i % kCursorSide, i / kCursorSide) ? 0xff000000 | kCursorRgb : 0;
        std::memcpy(bits + i * 4, &argb, 4);
      }
    }
    pw_stream_queue_buffer(stream, buffer);
    ++seen.frames;
  }

  void destroyStream() {
    if (!stream) return;
    timespec off{};
    pw_loop_update_timer(loop, timer, &off, &off, false);
    spa_hook_remove(&stream_listener);
    pw_stream_destroy(std::exchange(stream, nullptr));
  }
};

TestScreenCastPortal::TestScreenCastPortal() : private_(std::make_unique<Private>()) {}

TestScreenCastPortal::~TestScreenCastPortal() {
  Private& p = *private_;
  if (p.thread_loop) pw_thread_loop_stop(p.thread_loop);
  p.destroyStream();
  p.portal.reset();
  p.connection.reset();
  if (p.core) pw_core_disconnect(p.core);
  if (p.context) pw_context_destroy(p.context);
  if (p.thread_loop) pw_thread_loop_destroy(p.thread_loop);
}

bool TestScreenCastPortal::start(std::string* error) {
  Private& p = *private_;
  static std::once_flag initialized;
  std::call_once(initialized, [] { pw_init(nullptr, nullptr); });
  try {
    p.connection = sdbus::createSessionBusConnection(kPortalName);
    p.portal = sdbus::createObject(*p.connection, kPortalPath);
    auto method = [&](char const* name, auto implementation) {
      p.portal->registerMethod(name).onInterface(kScreenCast).implementedAs(implementation);
    };
    method("CreateSession", [&p](VarDict const& o) { return p.createSession(o); });
    method("SelectSources",
           [&p](sdbus::ObjectPath const&, VarDict const& o) { return p.selectSources(o); });
    method("Start", [&p](sdbus::ObjectPath const&, std::string const&, VarDict const& o) {
      return p.start(o);
    });
    method("OpenPipeWireRemote",
           [&p](sdbus::ObjectPath const&, VarDict const&) { return p.openPipeWireRemote(); });
    auto property = [&](char const* name, auto getter) {
      p.portal->registerProperty(name).onInterface(kScreenCast).withGetter(getter);
    };
    property("version", [] { return uint32_t{4}; });
    property("AvailableSourceTypes", [&p] { return p.config.source_types; });
    property("AvailableCursorModes", [] { return uint32_t{7}; });
    p.portal->finishRegistration();
  } catch (sdbus::Error const& e) {
    return *error = "test portal: " + e.getName() + ": " + e.getMessage(), false;
  }
  p.thread_loop = pw_thread_loop_new("test portal", nullptr);
  p.loop = pw_thread_loop_get_loop(p.thread_loop);
  pw_loop_add_io(
      p.loop, p.connection->getEventLoopPollData().fd, SPA_IO_IN, false,
      [](void* self, int, uint32_t) { static_cast<Private*>(self)->serveBus(); }, &p);
  p.timer = pw_loop_add_timer(
      p.loop,
      [](void* self, uint64_t) {
        if (auto* stream = static_cast<Private*>(self)->stream) pw_stream_trigger_process(stream);
      },
      &p);
  p.context = pw_context_new(p.loop, nullptr, 0);
  if (!(p.core = p.context ? pw_context_connect(p.context, nullptr, 0) : nullptr))
    return *error = "test portal: cannot connect to PipeWire", false;
  pw_thread_loop_start(p.thread_loop);
  // Requests that came before the loop ran.
  p.locked([&p] { p.serveBus(); });
  return true;
}

void TestScreenCastPortal::configure(TestPortalConfig const& config) {
  private_->locked([&] { private_->config = config; });
}

void TestScreenCastPortal::stopStream() {
  private_->locked([this] { private_->destroyStream(); });
}

void TestScreenCastPortal::closeSession() {
  private_->locked([this] {
    private_->emit(private_->session_path, "org.freedesktop.portal.Session", "Closed", VarDict());
  });
}

TestScreenCastPortal::Seen TestScreenCastPortal::seen() const {
  Seen copy;
  private_->locked([&] { copy = private_->seen; });
  return copy;
}

PortalTestSession::PortalTestSession() { error_ = start(); }
PortalTestSession::~PortalTestSession() {
  portal_.reset();
  // The session manager first, the bus last: each leaves the others'
  // connections cleanly.
  for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) stopDaemon(*it);
  for (auto const& [name, value] : saved_)
    value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  std::error_code ignored;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

std::string PortalTestSession::start() {
  char pattern[] = "/tmp/dravo_session.XXXXXX";
  if (!mkdtemp(pattern)) return "mkdtemp failed";
  dir_ = pattern;
  for (char const* sub : {"/config", "/state", "/home"}) mkdir((dir_ + sub).c_str(), 0700);
  std::string const bus = "unix:path=" + dir_ + "/bus";
  std::ofstream(dir_ + "/bus.conf")
      << "<busconfig><type>session</type><listen>" << bus
      << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
         "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
         "<allow own=\"*\"/></policy></busconfig>\n";
  // Daemons inherit this process's environment.
  remember("DBUS_SESSION_BUS_ADDRESS", bus);
  for (char const* name : {"XDG_RUNTIME_DIR", "PIPEWIRE_RUNTIME_DIR"}) remember(name, dir_);
  remember("XDG_CONFIG_HOME", dir_ + "/config");
  remember("XDG_STATE_HOME", dir_ + "/state");
  remember("HOME", dir_ + "/home");
  auto spawn = [&](std::vector<std::string> args, std::string* ready_line = nullptr) {
    pid_t const pid = spawnDaemon(args, dir_ + "/" + args[0] + ".log", ready_line);
    if (pid > 0) pids_.push_back(pid);
    return pid > 0;
  };
  // The bus prints its address once it accepts connections.
  std::string address;
  if (!spawn(
          {"dbus-daemon", "--config-file=" + dir_ + "/bus.conf", "--nofork", "--print-address=3"},
          &address))
    return "dbus-daemon did not start";
  // PipeWire serves once its socket is there.
  spawn({"pipewire"});
  for (int tries = 0; tries < 2000 && !std::filesystem::exists(dir_ + "/pipewire-0"); ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!std::filesystem::exists(dir_ + "/pipewire-0")) return "pipewire did not start";
  spawn({"wireplumber"});

  portal_ = std::make_unique<TestScreenCastPortal>();
  std::string error;
  if (!portal_->start(&error)) return error;
  remember("DRAVO_SCREEN_CAPTURE", "portal");
  remember("DRAVO_CONFIG_PATH", configDirectory());
  return "";
}

void PortalTestSession::remember(char const* name, std::string const& value) {
  char const* old = getenv(name);
  saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  setenv(name, value.c_str(), 1);
}

}  // namespace dravo::testing
