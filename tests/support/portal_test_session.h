#pragma once
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

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/test_screencast_portal.h"

namespace dravo::testing {

class PortalTestSession {
 public:
  PortalTestSession() {
    error_ = start();
    if (!error_.empty()) error_ += logs();
  }
  ~PortalTestSession() {
    portal_.reset();
    // The session manager first, the bus last: each leaves the others'
    // connections cleanly.
    for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) terminate(*it);
    for (auto const& [name, value] : saved_)
      value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }

  // Empty when everything runs.
  std::string const& error() const { return error_; }
  TestScreenCastPortal& portal() { return *portal_; }
  std::string configDirectory() const { return dir_ + "/config/media_common"; }

 private:
  std::string start() {
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
    environment_ = {"XDG_RUNTIME_DIR=" + dir_,
                    "PIPEWIRE_RUNTIME_DIR=" + dir_,
                    "DBUS_SESSION_BUS_ADDRESS=" + bus,
                    "XDG_CONFIG_HOME=" + dir_ + "/config",
                    "XDG_STATE_HOME=" + dir_ + "/state",
                    "HOME=" + dir_ + "/home",
                    "PATH=" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")};

    // The bus prints its address once it accepts connections; end of file
    // means it died first.
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return "pipe failed";
    spawn({"dbus-daemon", "--config-file=" + dir_ + "/bus.conf", "--nofork",
           "--print-address=" + std::to_string(ready[1])},
          "dbus-daemon.log", ready[1]);
    close(ready[1]);
    char c = 0;
    pollfd wait_for{ready[0], POLLIN, 0};
    while (poll(&wait_for, 1, 20000) == 1 && read(ready[0], &c, 1) == 1 && c != '\n') {
    }
    close(ready[0]);
    if (c != '\n') return "dbus-daemon did not start";
    if (!spawn({"pipewire"}, "pipewire.log") || !waitForSocket(dir_ + "/pipewire-0"))
      return "pipewire did not start";
    if (!spawn({"wireplumber"}, "wireplumber.log")) return "wireplumber did not start";

    remember("DBUS_SESSION_BUS_ADDRESS", bus);
    remember("XDG_RUNTIME_DIR", dir_);
    remember("PIPEWIRE_RUNTIME_DIR", dir_);
    portal_ = std::make_unique<TestScreenCastPortal>();
    std::string error;
    if (!portal_->start(&error)) return error;
    remember("DRAVO_SCREEN_CAPTURE", "portal");
    remember("DRAVO_CONFIG_PATH", configDirectory());
    return "";
  }

  void remember(char const* name, std::string const& value) {
    char const* old = getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name, value.c_str(), 1);
  }

  // The daemons' output so far, for failure messages.
  std::string logs() const {
    std::string text;
    for (char const* name : {"dbus-daemon.log", "pipewire.log", "wireplumber.log"}) {
      std::ifstream in(dir_ + "/" + name);
      text += std::string("\n--- ") + name + "\n" +
              std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return text;
  }

  // Starts `args` (found on the PATH) with the session's environment and
  // its output in `log`; `keep_fd` stays open in the child.
  bool spawn(std::vector<std::string> args, char const* log, int keep_fd = -1) {
    // Everything the child needs is made before the fork.
    std::vector<char*> argv, envp;
    for (std::string& arg : args) argv.push_back(arg.data());
    for (std::string& entry : environment_) envp.push_back(entry.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    int const output =
        open((dir_ + "/" + log).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_t const pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // dies with us, even when we crash
      dup2(output, STDOUT_FILENO);
      dup2(output, STDERR_FILENO);
      if (keep_fd >= 0) fcntl(keep_fd, F_SETFD, 0);
      execvpe(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(output);
    if (pid > 0) pids_.push_back(pid);
    // A program that is not there exits at once.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0;
  }

  static bool waitForSocket(std::string const& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    for (int tries = 0; tries < 2000; ++tries) {
      int const fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      bool const up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
      close(fd);
      if (up) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // SIGTERM, and SIGKILL for a daemon still there after five seconds.
  static void terminate(pid_t pid) {
    kill(pid, SIGTERM);
    for (int tries = 0; waitpid(pid, nullptr, WNOHANG) == 0; ++tries) {
      if (tries == 1000) kill(pid, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  std::string dir_;
  std::string error_;
  std::vector<std::string> environment_;
  std::vector<pid_t> pids_;
  std::unique_ptr<TestScreenCastPortal> portal_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace dravo::testing
