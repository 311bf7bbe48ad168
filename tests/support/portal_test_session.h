#pragma once
// The screen-cast portal that tests and benchmarks run against: a private
// desktop session, and in it a stand-in for the desktop's portal.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace dravo::testing {

struct TestPicture {
  int width = 320;
  int height = 240;
  int fps = 60;
};

// The colour (0xRRGGBB) a consumer must show at (x, y) of frame `n`: a
// moving gradient, the pointer, and the frame number in the first pixel. Buffers 10 to 19 of every
// 20 carry only the pointer's position, not its picture.
uint32_t testPictureRgb(TestPicture const& picture, uint64_t n, int x, int y);
// The frame number a picture's first pixel (blue, green) carries.
uint64_t testPictureNumber(uint8_t const* first_bgrx_pixel);

struct TestPortalConfig {
  uint32_t source_types = 3;    // monitors and windows
  uint32_t start_response = 0;  // 0 granted, 1 cancelled, 2 failed
  bool answer_start = true;
  TestPicture picture;
};

// A stand-in for the desktop's screen-cast portal: it owns
// org.freedesktop.portal.Desktop on the session bus with the ScreenCast
// interface and object paths of the real one, and on Start serves a
// PipeWire stream of known BGRx pictures (see `testPictureRgb`) with the
// pointer as metadata. Start can be answered cancelled, failed or never;
// restore tokens it did not hand out are refused.
//
// Threads: one thread of its own (a PipeWire thread loop) does all D-Bus
// and PipeWire work; the test's thread configures it, reads what it saw and
// stops the stream or session under the loop's lock. The destructor stops
// and joins the thread.
class TestScreenCastPortal {
 public:
  TestScreenCastPortal();
  ~TestScreenCastPortal();

  // Claims the portal's name on the session bus of the environment.
  bool start(std::string* error);
  // For the requests that come from now on.
  void configure(TestPortalConfig const& config);
  // Ends the stream as a compositor does when sharing stops.
  void stopStream();
  // Closes the portal session as a portal does when the user stops sharing;
  // the stream stays, so the consumer must stop on the signal alone.
  void closeSession();

  struct Seen {
    std::vector<std::string> offered_tokens;  // per SelectSources, "" for none
    uint64_t frames = 0;                      // pictures sent
  };
  Seen seen() const;

 private:
  struct Private;
  std::unique_ptr<Private> private_;
};

// Everything a screen-cast test runs against, started once per test suite:
// a private desktop session (a D-Bus session bus, a PipeWire daemon and its
// session manager WirePlumber, which links streams) with its runtime,
// configuration and state folders in a temporary directory, the test portal
// on it, screen capture forced onto the portal, and a configuration folder
// of its own for the stored permissions. Nothing of the machine's own
// session is seen or touched; works as root and without a desktop.
//
// The constructor points this process at the session; the destructor stops
// every daemon it started, by process id, and puts the environment back.
// Failing to start is a test failure, never a skip. Every wait has a
// time-out. Used on the test's thread.
class PortalTestSession {
 public:
  PortalTestSession();
  ~PortalTestSession();

  // Empty when everything runs.
  std::string const& error() const { return error_; }
  TestScreenCastPortal& portal() { return *portal_; }
  std::string configDirectory() const { return dir_ + "/config/media_common"; }

 private:
  std::string start();
  void remember(char const* name, std::string const& value);

  std::string dir_;
  std::string error_;
  std::vector<pid_t> pids_;
  std::unique_ptr<TestScreenCastPortal> portal_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace dravo::testing
