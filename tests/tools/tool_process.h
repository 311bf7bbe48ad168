#pragma once
// Runs the media-tool binary from a test: with stdout and stderr collected
// through pipes (so stderr is not a terminal), or on a pseudo-terminal,
// optionally sending SIGINT once some text has appeared. Blocking reads
// only; no timing. Used on one thread.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace dravo::tool::testing {

struct ToolRun {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out;
  std::string err;
};

inline std::vector<char*> argvOf(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return argv;
}

inline int statusOf(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return -1;
}

inline ToolRun runTool(std::vector<std::string> args) {
  args.insert(args.begin(), MEDIA_TOOL_PATH);
  ToolRun run;
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return run;
  std::vector<char*> argv = argvOf(args);
  pid_t const pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* targets[2] = {&run.out, &run.err};
  int open_fds = 2;
  while (open_fds > 0 && poll(fds, 2, -1) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      ssize_t const got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        targets[i]->append(buffer, static_cast<size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  run.status = statusOf(wait_status);
  return run;
}

// Starts the tool in the background with its output discarded; the caller
// ends it with `kill` and collects it with `waitpid`.
inline pid_t startTool(std::vector<std::string> args) {
  args.insert(args.begin(), MEDIA_TOOL_PATH);
  std::vector<char*> argv = argvOf(args);
  pid_t const pid = fork();
  if (pid == 0) {
    int const null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Runs on a pseudo-terminal (stdout and stderr both on it); sends SIGINT
// once `interrupt_after` has appeared in the output, when it is not empty.
inline ToolRun runToolOnTerminal(std::vector<std::string> args,
                                 std::string const& interrupt_after = std::string()) {
  args.insert(args.begin(), MEDIA_TOOL_PATH);
  ToolRun run;
  std::vector<char*> argv = argvOf(args);
  int master = -1;
  pid_t const pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return run;
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  bool interrupted = false;
  for (;;) {
    char buffer[4096];
    ssize_t const got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;  // EIO once the child has gone
    run.out.append(buffer, static_cast<size_t>(got));
    if (!interrupted && !interrupt_after.empty() &&
        run.out.find(interrupt_after) != std::string::npos) {
      interrupted = true;
      kill(pid, SIGINT);
    }
  }
  close(master);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  run.status = statusOf(wait_status);
  return run;
}

}  // namespace dravo::tool::testing

namespace dravo::tool::testing {

// A private Xvfb on the first free display: Xvfb writes the display number
// to a pipe once it accepts connections. Killed by the destructor.
class PrivateXServer {
 public:
  PrivateXServer() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      fcntl(fds[1], F_SETFD, 0);
      std::string const fd = std::to_string(fds[1]);
      int const null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, STDERR_FILENO);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten",
             "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c = 0;
    while (pid_ > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
    close(fds[0]);
    if (c == '\n' && !number.empty()) display_ = ":" + number;
  }
  ~PrivateXServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  PrivateXServer(PrivateXServer const&) = delete;
  PrivateXServer& operator=(PrivateXServer const&) = delete;

  // ":<number>", or empty when Xvfb could not be started.
  std::string const& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace dravo::tool::testing
