#include "media_common/video/screencast_portal.h"

#include <poll.h>
#include <sdbus-c++/sdbus-c++.h>
#include <unistd.h>

#include <algorithm>

#include "common/file.h"
#include "common/logging.h"
#include "common/string_util.h"

DRAVO_LOGGER("screencast_portal");

namespace dravo::media {

namespace {

constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kScreenCast[] = "org.freedesktop.portal.ScreenCast";
constexpr char kRequest[] = "org.freedesktop.portal.Request";
constexpr char kSession[] = "org.freedesktop.portal.Session";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";

constexpr uint32_t kCursorEmbedded = 2;
constexpr uint32_t kCursorMetadata = 4;
constexpr uint32_t kPersistUntilRevoked = 2;
// Restore tokens are short; anything longer is not one.
constexpr size_t kMaxTokenLength = 1024;

using Streams = std::vector<sdbus::Struct<uint32_t, std::map<std::string, sdbus::Variant>>>;

uint64_t microseconds(Duration duration) {
  return static_cast<uint64_t>(std::max<int64_t>(1, duration.toNSec() / 1000));
}

char const* typeName(ScreenCastSourceType type) {
  return type == ScreenCastSourceType::WINDOW ? "windows" : "monitors";
}

std::string errorText(sdbus::Error const& error) {
  return error.getName() + ": " + error.getMessage();
}

// A stored token, if it looks like one: printable ASCII only.
std::string readToken(ScreenCastSourceType type) {
  std::string text;
  if (!File::readFileToStringIfExists(screenCastTokenPath(type), &text, kMaxTokenLength + 2))
    return {};
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  bool const valid =
      !text.empty() && text.size() <= kMaxTokenLength &&
      std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 127; });
  if (!valid) {
    if (!text.empty()) LOGF(3, "Ignoring a malformed screen cast permission token");
    return {};
  }
  return text;
}

void storeToken(ScreenCastSourceType type, std::string const& token) {
  std::string const path = screenCastTokenPath(type);
  if (!File::recursivelyCreateDir(getConfigPath()) || !File::writeStringToFile(path, token + "\n"))
    LOGF(2, "Could not store the screen cast permission in %s", path.c_str());
}

}  // namespace

std::string screenCastTokenPath(ScreenCastSourceType type) {
  return File::joinPath(getConfigPath(), type == ScreenCastSourceType::WINDOW
                                             ? "screencast_window.token"
                                             : "screencast_monitor.token");
}

ScreenCastPortal::ScreenCastPortal(int stop_fd, ScreenCastPortalOptions const& options)
    : stop_fd_(stop_fd), options_(options) {}

ScreenCastPortal::~ScreenCastPortal() {
  if (!session_path_.empty() && !closed_) closeObject(session_path_, kSession);
  // Proxies go before the connection they use; the connection flushes the
  // close on its way out.
  session_proxy_.reset();
  portal_.reset();
  connection_.reset();
}

bool ScreenCastPortal::connect(std::string* reason) {
  try {
    connection_ = sdbus::createSessionBusConnection();
    portal_ = sdbus::createProxy(*connection_, kPortalName, kPortalPath);
    // Request paths spell the unique name ":1.42" as "1_42".
    sender_ = connection_->getUniqueName();
    if (!sender_.empty() && sender_[0] == ':') sender_.erase(0, 1);
    std::replace(sender_.begin(), sender_.end(), '.', '_');
    return true;
  } catch (sdbus::Error const& error) {
    *reason = "No D-Bus session bus for the screen cast portal: " + errorText(error);
    return false;
  }
}

int ScreenCastPortal::busFd() const {
  if (!connection_) return -1;
  try {
    return connection_->getEventLoopPollData().fd;
  } catch (sdbus::Error const&) {
    return -1;
  }
}

void ScreenCastPortal::dispatch() {
  if (!connection_) return;
  try {
    while (connection_->processPendingRequest()) {
    }
  } catch (sdbus::Error const& error) {
    // The bus went away; so did the portal's session.
    if (!closed_) LOGF(3, "Lost the session bus: %s", errorText(error).c_str());
    closed_ = true;
  }
}

bool ScreenCastPortal::closed(std::string* reason) const {
  if (closed_) *reason = "The screen cast portal closed the session (sharing was stopped)";
  return closed_;
}

template <typename Done>
bool ScreenCastPortal::waitFor(Done const& done, Time deadline, char const* what,
                               std::string* reason) {
  try {
    for (;;) {
      while (!done() && connection_->processPendingRequest()) {
      }
      if (done()) return true;
      auto const poll_data = connection_->getEventLoopPollData();
      Duration const left = deadline - Time::now();
      if (left <= Duration()) {
        *reason = std::string("The screen cast portal did not answer in time (") + what + ")";
        return false;
      }
      int timeout = static_cast<int>(std::min<int64_t>(left.toNSec() / 1000000 + 1, 1000));
      int const bus_timeout = poll_data.getPollTimeout();
      if (bus_timeout >= 0) timeout = std::min(timeout, bus_timeout);
      pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {poll_data.fd, poll_data.events, 0}};
      if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
        *reason = "Could not wait for the screen cast portal";
        return false;
      }
      if (fds[0].revents) {
        *reason = "Screen capture stopped";
        return false;
      }
    }
  } catch (sdbus::Error const& error) {
    *reason = std::string("Lost the session bus while waiting for the screen cast portal (") +
              what + "): " + errorText(error);
    return false;
  }
}

bool ScreenCastPortal::call(sdbus::MethodCall& message, sdbus::MethodReply* reply, char const* what,
                            std::string* reason) {
  bool done = false;
  std::string error;
  try {
    auto pending = portal_->callMethod(
        message,
        [&](sdbus::MethodReply& answer, sdbus::Error const* failure) {
          done = true;
          if (failure)
            error = errorText(*failure);
          else
            *reply = answer;
        },
        microseconds(options_.request_timeout));
    if (!waitFor([&] { return done; }, Time::now() + options_.request_timeout, what, reason)) {
      pending.cancel();
      return false;
    }
  } catch (sdbus::Error const& failure) {
    error = errorText(failure);
  }
  if (error.empty()) return true;
  *reason = std::string("The screen cast portal could not ") + what + ": " + error;
  return false;
}

bool ScreenCastPortal::portalProperty(char const* name, uint32_t* value, std::string* reason) {
  try {
    auto message = portal_->createMethodCall(kProperties, "Get");
    message << std::string(kScreenCast) << std::string(name);
    sdbus::MethodReply reply;
    if (!call(message, &reply, "be reached", reason)) return false;
    sdbus::Variant variant;
    reply >> variant;
    if (!variant.containsValueOfType<uint32_t>()) {
      *reason = std::string("The screen cast portal's ") + name + " is not a number";
      return false;
    }
    *value = variant.get<uint32_t>();
    return true;
  } catch (sdbus::Error const& error) {
    *reason = "The screen cast portal could not be reached: " + errorText(error);
    return false;
  }
}

std::string ScreenCastPortal::newToken() {
  return stringPrintf("media_common_%d_%u", static_cast<int>(getpid()), ++tokens_made_);
}

void ScreenCastPortal::closeObject(std::string const& path, char const* interface) {
  try {
    auto object = sdbus::createProxy(*connection_, kPortalName, path);
    auto message = object->createMethodCall(interface, "Close");
    message.dontExpectReply();
    object->callMethod(message);
  } catch (sdbus::Error const& error) {
    LOGF(4, "Could not close %s: %s", path.c_str(), errorText(error).c_str());
  }
}

ScreenCastPortal::Answer ScreenCastPortal::request(char const* method, char const* what,
                                                   VarDict options, Duration timeout,
                                                   VarDict* results, std::string* reason) {
  std::string const token = newToken();
  std::string const path = std::string(kPortalPath) + "/request/" + sender_ + "/" + token;
  bool answered = false;
  uint32_t code = 2;
  try {
    // Subscribed before the call: the answer may come before the call returns.
    auto listener = sdbus::createProxy(*connection_, kPortalName, path);
    listener->registerSignalHandler(kRequest, "Response", [&](sdbus::Signal& signal) {
      answered = true;
      try {
        signal >> code >> *results;
      } catch (sdbus::Error const& error) {
        LOGF(2, "Malformed answer from the screen cast portal: %s", errorText(error).c_str());
        code = 2;
      }
    });
    listener->finishRegistration();
    auto message = portal_->createMethodCall(kScreenCast, method);
    options["handle_token"] = sdbus::Variant(token);
    if (!session_path_.empty()) message << sdbus::ObjectPath(session_path_);
    if (std::string(method) == "Start") message << std::string();  // no parent window
    message << options;
    sdbus::MethodReply reply;
    if (!call(message, &reply, what, reason)) return Answer::FAILED;
    sdbus::ObjectPath handle;
    reply >> handle;
    if (handle != path) {
      // A portal older than handle tokens: listen where it says instead.
      listener = sdbus::createProxy(*connection_, kPortalName, handle);
      listener->registerSignalHandler(kRequest, "Response", [&](sdbus::Signal& signal) {
        answered = true;
        try {
          signal >> code >> *results;
        } catch (sdbus::Error const&) {
          code = 2;
        }
      });
      listener->finishRegistration();
    }
    if (!waitFor([&] { return answered; }, Time::now() + timeout, what, reason)) {
      closeObject(handle, kRequest);
      return Answer::FAILED;
    }
  } catch (sdbus::Error const& error) {
    *reason = std::string("The screen cast portal could not ") + what + ": " + errorText(error);
    return Answer::FAILED;
  }
  LOGF(5, "%s answered %u", method, code);
  switch (code) {
    case 0:
      return Answer::GRANTED;
    case 1:
      *reason = "Screen sharing was cancelled by the user";
      return Answer::CANCELLED;
    default:
      *reason = std::string("The screen cast portal could not ") + what;
      return Answer::REFUSED;
  }
}

ScreenCastPortal::Answer ScreenCastPortal::negotiate(ScreenCastSourceType type,
                                                     std::string const& token,
                                                     ScreenCastGrant* grant,
                                                     std::string* restore_token,
                                                     std::string* reason) {
  if (!session_path_.empty() && !closed_) closeObject(session_path_, kSession);
  session_proxy_.reset();
  session_path_.clear();
  closed_ = false;

  VarDict created;
  Answer answer = request("CreateSession", "create a session",
                          {{"session_handle_token", sdbus::Variant(newToken())}},
                          options_.request_timeout, &created, reason);
  if (answer != Answer::GRANTED) return answer;
  try {
    sdbus::Variant const& handle = created["session_handle"];
    // Documented as an object path; portals have sent it as a string.
    if (handle.containsValueOfType<sdbus::ObjectPath>())
      session_path_ = handle.get<sdbus::ObjectPath>();
    else if (handle.containsValueOfType<std::string>())
      session_path_ = handle.get<std::string>();
    if (session_path_.empty() || session_path_[0] != '/') {
      session_path_.clear();
      *reason = "The screen cast portal gave no session";
      return Answer::FAILED;
    }
    session_proxy_ = sdbus::createProxy(*connection_, kPortalName, session_path_);
    session_proxy_->registerSignalHandler(kSession, "Closed",
                                          [this](sdbus::Signal&) { closed_ = true; });
    session_proxy_->finishRegistration();
  } catch (sdbus::Error const& error) {
    *reason = "The screen cast portal gave no usable session: " + errorText(error);
    return Answer::FAILED;
  }

  VarDict select = {{"types", sdbus::Variant(static_cast<uint32_t>(type))},
                    {"multiple", sdbus::Variant(false)}};
  // Pointer as metadata keeps it out of the picture until we draw it; else
  // in the picture; else the portal's default.
  if (cursor_modes_ & kCursorMetadata)
    select["cursor_mode"] = sdbus::Variant(kCursorMetadata);
  else if (cursor_modes_ & kCursorEmbedded)
    select["cursor_mode"] = sdbus::Variant(kCursorEmbedded);
  if (version_ >= 4) {
    select["persist_mode"] = sdbus::Variant(kPersistUntilRevoked);
    if (!token.empty()) select["restore_token"] = sdbus::Variant(token);
  }
  VarDict ignored;
  answer = request("SelectSources", "select the sources", std::move(select),
                   options_.request_timeout, &ignored, reason);
  if (answer == Answer::REFUSED && !token.empty()) return Answer::TOKEN_REFUSED;
  if (answer != Answer::GRANTED) return answer;

  VarDict started;
  answer = request("Start", "start the screen cast", {}, options_.start_timeout, &started, reason);
  if (answer == Answer::REFUSED && !token.empty()) return Answer::TOKEN_REFUSED;
  if (answer != Answer::GRANTED) return answer;
  try {
    Streams const streams = started["streams"].get<Streams>();
    if (streams.empty()) {
      *reason = "The screen cast portal granted no stream";
      return Answer::FAILED;
    }
    grant->node_id = std::get<0>(streams.front());
    auto const found = started.find("restore_token");
    if (found != started.end() && found->second.containsValueOfType<std::string>())
      *restore_token = found->second.get<std::string>();
  } catch (sdbus::Error const& error) {
    *reason = "The screen cast portal granted no usable stream: " + errorText(error);
    return Answer::FAILED;
  }

  try {
    auto message = portal_->createMethodCall(kScreenCast, "OpenPipeWireRemote");
    message << sdbus::ObjectPath(session_path_) << VarDict();
    sdbus::MethodReply reply;
    if (!call(message, &reply, "open the PipeWire remote", reason)) return Answer::FAILED;
    sdbus::UnixFd fd;
    reply >> fd;
    grant->pipewire_fd = fd.release();
  } catch (sdbus::Error const& error) {
    *reason = "The screen cast portal could not open the PipeWire remote: " + errorText(error);
    return Answer::FAILED;
  }
  return Answer::GRANTED;
}

bool ScreenCastPortal::start(ScreenCastSourceType type, ScreenCastGrant* grant,
                             std::string* reason) {
  if (!connect(reason)) return false;
  if (!portalProperty("version", &version_, reason)) return false;
  uint32_t types = static_cast<uint32_t>(ScreenCastSourceType::MONITOR);
  std::string ignored;
  portalProperty("AvailableSourceTypes", &types, &ignored);
  if (!(types & static_cast<uint32_t>(type))) {
    *reason = std::string("The screen cast portal cannot share ") + typeName(type);
    return false;
  }
  if (version_ >= 2) portalProperty("AvailableCursorModes", &cursor_modes_, &ignored);
  std::string const token = version_ >= 4 ? readToken(type) : std::string();
  std::string restore_token;
  LOGF(4, "Asking the screen cast portal (version %u) for %s%s", version_, typeName(type),
       token.empty() ? "" : " with a stored permission");
  Answer answer = negotiate(type, token, grant, &restore_token, reason);
  if (answer == Answer::TOKEN_REFUSED) {
    LOGF(3, "The screen cast portal refused the stored permission (%s); asking again",
         reason->c_str());
    File::remove(screenCastTokenPath(type));
    answer = negotiate(type, std::string(), grant, &restore_token, reason);
  }
  if (answer != Answer::GRANTED) return false;
  if (!restore_token.empty())
    storeToken(type, restore_token);
  else if (!token.empty())
    File::remove(screenCastTokenPath(type));  // used up
  LOGF(4, "Screen cast granted: PipeWire node %u", grant->node_id);
  return true;
}

}  // namespace dravo::media
