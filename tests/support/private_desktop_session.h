#pragma once
// A private desktop session for the screen-cast tests: a D-Bus session bus,
// a PipeWire daemon and its session manager (WirePlumber, which links
// streams), all with their runtime, configuration and state folders in a
// temporary directory, so that nothing of the machine's own session is
// seen or touched. Works as root and without a desktop.
//
// `start` points this process at the session (DBUS_SESSION_BUS_ADDRESS,
// XDG_RUNTIME_DIR, PIPEWIRE_RUNTIME_DIR); the destructor stops every daemon
// it started, by process id, and puts the environment back. Every wait has
// a time-out. Used on one thread.

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
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace dravo::testing {

class PrivateDesktopSession {
 public:
  PrivateDesktopSession() = default;
  PrivateDesktopSession(PrivateDesktopSession const&) = delete;
  PrivateDesktopSession& operator=(PrivateDesktopSession const&) = delete;
  ~PrivateDesktopSession() { stop(); }

  // On failure returns false and says why in `error`.
  bool start(std::string* error) {
    char pattern[] = "/tmp/dravo_session.XXXXXX";
    if (!mkdtemp(pattern)) return fail(error, "mkdtemp failed");
    dir_ = pattern;
    for (char const* sub : {"/config", "/state", "/home"}) mkdir((dir_ + sub).c_str(), 0700);
    std::string const bus_path = dir_ + "/bus";
    std::ofstream(dir_ + "/bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:path="
        << bus_path
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
           "<allow own=\"*\"/></policy></busconfig>\n";
    bus_address_ = "unix:path=" + bus_path;
    environment_ = {"XDG_RUNTIME_DIR=" + dir_,
                    "PIPEWIRE_RUNTIME_DIR=" + dir_,
                    "DBUS_SESSION_BUS_ADDRESS=" + bus_address_,
                    "XDG_CONFIG_HOME=" + dir_ + "/config",
                    "XDG_STATE_HOME=" + dir_ + "/state",
                    "HOME=" + dir_ + "/home",
                    "PATH=" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")};

    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return fail(error, "pipe failed");
    std::string const fd_argument = "--print-address=" + std::to_string(ready[1]);
    pid_t const bus =
        spawn({"dbus-daemon", "--config-file=" + dir_ + "/bus.conf", "--nofork", fd_argument},
              "dbus-daemon.log", ready[1]);
    close(ready[1]);
    // The daemon prints its address once it accepts connections; end of
    // file means it died first.
    std::string line;
    char c = 0;
    pollfd wait_for{ready[0], POLLIN, 0};
    while (poll(&wait_for, 1, 20000) == 1 && read(ready[0], &c, 1) == 1 && c != '\n')
      line.push_back(c);
    close(ready[0]);
    if (bus < 0 || c != '\n') return fail(error, "dbus-daemon did not start" + logs());

    if (spawn({"pipewire"}, "pipewire.log") < 0 || !waitForSocket(dir_ + "/pipewire-0"))
      return fail(error, "pipewire did not start" + logs());
    if (spawn({"wireplumber"}, "wireplumber.log") < 0)
      return fail(error, "wireplumber did not start" + logs());

    for (char const* name :
         {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "PIPEWIRE_RUNTIME_DIR"}) {
      char const* value = getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", bus_address_.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    setenv("PIPEWIRE_RUNTIME_DIR", dir_.c_str(), 1);
    return true;
  }

  std::string const& directory() const { return dir_; }

  // The daemons' output so far, for failure messages.
  std::string logs() const {
    std::string text;
    for (char const* name : {"dbus-daemon.log", "pipewire.log", "wireplumber.log"}) {
      std::ifstream in(dir_ + "/" + name);
      std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!contents.empty()) text += std::string("\n--- ") + name + "\n" + contents;
    }
    return text;
  }

  void stop() {
    // The session manager first, the bus last: each leaves the others'
    // connections cleanly.
    for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) terminate(*it);
    pids_.clear();
    for (auto const& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
    saved_.clear();
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
      dir_.clear();
    }
  }

 private:
  static bool fail(std::string* error, std::string const& why) {
    *error = why;
    return false;
  }

  // Starts `args` (found on the PATH) with the session's environment and
  // its output in `log`; `keep_fd` stays open in the child.
  pid_t spawn(std::vector<std::string> args, char const* log, int keep_fd = -1) {
    std::string program;
    for (std::string const& folder : splitPath())
      if (access((folder + "/" + args[0]).c_str(), X_OK) == 0) {
        program = folder + "/" + args[0];
        break;
      }
    if (program.empty()) return -1;
    std::string const log_path = dir_ + "/" + log;
    // Everything the child needs is made before the fork.
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment_) envp.push_back(entry.data());
    envp.push_back(nullptr);
    int const output = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_t const pid = fork();
    if (pid == 0) {
      // Dies with us, even when we crash.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (output >= 0) {
        dup2(output, STDOUT_FILENO);
        dup2(output, STDERR_FILENO);
      }
      if (keep_fd >= 0) fcntl(keep_fd, F_SETFD, 0);
      execve(program.c_str(), argv.data(), envp.data());
      _exit(127);
    }
    if (output >= 0) close(output);
    if (pid > 0) pids_.push_back(pid);
    return pid;
  }

  static std::vector<std::string> splitPath() {
    std::vector<std::string> folders;
    std::string const path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
    size_t start = 0;
    for (size_t colon; (colon = path.find(':', start)) != std::string::npos; start = colon + 1)
      folders.push_back(path.substr(start, colon - start));
    folders.push_back(path.substr(start));
    return folders;
  }

  static bool waitForSocket(std::string const& path) {
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      int const fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
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
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  std::string dir_;
  std::string bus_address_;
  std::vector<std::string> environment_;
  std::vector<pid_t> pids_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace dravo::testing
