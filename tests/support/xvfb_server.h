#pragma once
// A private virtual X server (Xvfb) for tests and benchmarks that need a
// display: started on the first free display number, which Xvfb reports
// through a pipe once it accepts connections, and killed by the destructor.
// Used on one thread.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace dravo::testing {

class XvfbServer {
 public:
  ~XvfbServer() { stop(); }

  // Starts the server with one screen of `geometry` ("1920x1080x24"); on
  // failure returns false and says why in `error`.
  bool start(std::string const& geometry, std::string* error) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0 || (pid_ = fork()) < 0) {
      *error = "cannot start Xvfb";
      return false;
    }
    std::string const fd = std::to_string(fds[1]);
    if (pid_ == 0) {
      // Dies with us, even when we crash, and keeps quiet.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      fcntl(fds[1], F_SETFD, 0);
      int const null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", geometry.c_str(),
             "-nolisten", "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    // Xvfb writes the display number once it is ready; end of file means it
    // died first.
    std::string number;
    char c = 0;
    pollfd wait_for{fds[0], POLLIN, 0};
    while (poll(&wait_for, 1, 30000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
      number.push_back(c);
    close(fds[0]);
    if (c == '\n' && !number.empty()) {
      display_ = ":" + number;
      return true;
    }
    *error = "Xvfb did not start (is the xvfb package installed?)";
    stop();
    return false;
  }

  // ":<number>"; empty until started.
  std::string const& display() const { return display_; }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace dravo::testing
