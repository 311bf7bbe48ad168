#pragma once
// Child daemons for tests and benchmarks: started from the PATH with their
// output in a log file, dying with this process even when it crashes, and
// stopped by process id; among them a private virtual X server (Xvfb).
// Used on one thread.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace dravo::testing {

// SIGTERM, and SIGKILL for a daemon still there after five seconds.
inline void stopDaemon(pid_t pid) {
  kill(pid, SIGTERM);
  for (int tries = 0; waitpid(pid, nullptr, WNOHANG) == 0; ++tries) {
    if (tries == 1000) kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Starts `args` with its output in `log`. With `ready_line`, the daemon
// writes a line to its descriptor 3 once it serves; that line is awaited
// (30 s at most) and returned. Returns the process id, or -1 when the daemon
// dies before it is ready.
inline pid_t spawnDaemon(std::vector<std::string> args, std::string const& log,
                         std::string* ready_line = nullptr) {
  int ready[2] = {-1, -1};
  if (ready_line && pipe2(ready, O_CLOEXEC) != 0) return -1;
  // Everything the child needs is made before the fork.
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int const output = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  pid_t const pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
    if (ready_line && dup2(ready[1], 3) == 3) fcntl(3, F_SETFD, 0);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(output);
  if (pid < 0) return -1;
  if (!ready_line) return pid;
  close(ready[1]);
  char c = 0;
  pollfd wait_for{ready[0], POLLIN, 0};
  while (poll(&wait_for, 1, 30000) == 1 && read(ready[0], &c, 1) == 1 && c != '\n')
    ready_line->push_back(c);
  close(ready[0]);
  if (c != '\n') stopDaemon(pid);
  return c == '\n' ? pid : -1;
}

// A private Xvfb on the first free display number, which Xvfb reports once
// it accepts connections; stopped by the destructor.
class XvfbServer {
 public:
  ~XvfbServer() {
    if (pid_ > 0) stopDaemon(pid_);
  }

  // Starts the server with one screen of `geometry` ("1920x1080x24"); on
  // failure returns false and says why in `error`.
  bool start(std::string const& geometry, std::string* error) {
    std::string number;
    pid_ = spawnDaemon({"Xvfb", "-displayfd", "3", "-screen", "0", geometry, "-nolisten", "tcp"},
                       "/dev/null", &number);
    if (pid_ > 0 && !number.empty()) return display_ = ":" + number, true;
    *error = "Xvfb did not start (is the xvfb package installed?)";
    return false;
  }

  // ":<number>"; empty until started.
  std::string const& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace dravo::testing
