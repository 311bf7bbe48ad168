#pragma once
// The client side of the desktop's screen-cast portal
// (org.freedesktop.portal.ScreenCast on the D-Bus session bus): asks for
// one monitor or window, and gets back a PipeWire node to read and a file
// descriptor for the PipeWire remote that serves it.
//
// The exchange is CreateSession, SelectSources, Start and
// OpenPipeWireRemote; each of the first three is answered later by a
// Request::Response signal, whose code says success (0), cancelled by the
// user (1) or failed (2). Any answer but success, a time-out, or a stop ends
// `start` with a reason. When the portal offers it (version 4 on), the
// permission is kept: the restore token of a granted session is stored
// under the configuration path and offered next time, so that the user is
// not asked again; a token the portal refuses is dropped and the user asked
// once more.
//
// Owner and threads: one thread (the capture session's) creates the object
// and makes every call. Waits give up as soon as `stop_fd` becomes
// readable. Destruction closes the portal session.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "common/time.h"
#include "media_common/video/screen_capture_backend.h"

namespace sdbus {
class IConnection;
class IProxy;
class MethodCall;
class MethodReply;
class Variant;
}  // namespace sdbus

namespace dravo::media {

struct ScreenCastPortalOptions {
  // For the answers the portal gives by itself.
  Duration request_timeout = Duration::fromSec(30.0);
  // For Start, which waits for the user's choice.
  Duration start_timeout = Duration::fromSec(300.0);
};

// What a started screen cast hands over.
struct ScreenCastGrant {
  uint32_t node_id = 0;
  int pipewire_fd = -1;  // owned by the receiver
};

class ScreenCastPortal {
 public:
  ScreenCastPortal(int stop_fd, ScreenCastPortalOptions const& options);
  ~ScreenCastPortal();
  ScreenCastPortal(ScreenCastPortal const&) = delete;
  ScreenCastPortal& operator=(ScreenCastPortal const&) = delete;

  // Runs the whole exchange for `type`. False with a reason for people
  // when no stream was granted.
  bool start(ScreenCastSourceType type, ScreenCastGrant* grant, std::string* reason);

  // The bus connection's descriptor, to poll for POLLIN after `start`; -1
  // without a connection. `dispatch` handles what came in.
  int busFd() const;
  void dispatch();
  // True once the portal closed the session (the user stopped sharing),
  // with the reason.
  bool closed(std::string* reason) const;

 private:
  // REFUSED: the portal answered "failed"; FAILED: no usable answer at all.
  enum class Answer { GRANTED, CANCELLED, REFUSED, FAILED, TOKEN_REFUSED };

  bool connect(std::string* reason);
  Answer negotiate(ScreenCastSourceType type, std::string const& token, ScreenCastGrant* grant,
                   std::string* restore_token, std::string* reason);
  using VarDict = std::map<std::string, sdbus::Variant>;
  // Calls `method` of the portal with `options` and waits for the Response
  // its request gets; Answer::GRANTED fills `results`.
  Answer request(char const* method, char const* what, VarDict options, Duration timeout,
                 VarDict* results, std::string* reason);
  // Sends `call` and waits for its reply.
  bool call(sdbus::MethodCall& call, sdbus::MethodReply* reply, char const* what,
            std::string* reason);
  // Runs the bus until `done` or the stop descriptor or `deadline`.
  template <typename Done>
  bool waitFor(Done const& done, Time deadline, char const* what, std::string* reason);
  // A property of the portal's ScreenCast interface; nothing on failure.
  bool portalProperty(char const* name, uint32_t* value, std::string* reason);
  std::string newToken();
  // Closes the portal object at `path` without waiting for an answer.
  void closeObject(std::string const& path, char const* interface);

  int const stop_fd_;
  ScreenCastPortalOptions const options_;
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IProxy> portal_;
  std::unique_ptr<sdbus::IProxy> session_proxy_;
  std::string sender_;  // our unique name as request paths spell it
  std::string session_path_;
  uint32_t version_ = 0;
  uint32_t cursor_modes_ = 0;
  bool closed_ = false;
  unsigned tokens_made_ = 0;
};

// Where the restore token for `type` is kept.
std::string screenCastTokenPath(ScreenCastSourceType type);

}  // namespace dravo::media
