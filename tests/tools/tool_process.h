#pragma once
// Runs the media-tool binary from a test: stdout through a pipe and stderr
// into a temporary file (so neither is a terminal), or both on a
// pseudo-terminal, optionally sending a signal (SIGINT unless told) once
// some text has appeared.
// Blocking reads only; no timing. Used on one thread.

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace dravo::tool::testing {

struct ToolRun {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out;  // on a terminal: everything the tool wrote
  std::string err;
};

inline int statusOf(int wait_status) {
  return WIFEXITED(wait_status)     ? WEXITSTATUS(wait_status)
         : WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status)
                                    : -1;
}

inline pid_t forkTool(std::vector<std::string> args, int out_fd, int err_fd, int* terminal) {
  args.insert(args.begin(), MEDIA_TOOL_PATH);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t const pid = terminal ? forkpty(terminal, nullptr, nullptr, nullptr) : fork();
  if (pid == 0) {
    if (!terminal && out_fd >= 0) dup2(out_fd, STDOUT_FILENO), dup2(err_fd, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

inline ToolRun runTool(std::vector<std::string> args, bool on_terminal = false,
                       std::string const& interrupt_after = std::string(),
                       int interrupt_signal = SIGINT) {
  ToolRun run;
  FILE* err = tmpfile();
  int out[2] = {-1, -1};
  if (!err || (!on_terminal && pipe2(out, O_CLOEXEC) != 0)) return run;
  pid_t const pid = forkTool(args, out[1], fileno(err), on_terminal ? &out[0] : nullptr);
  if (!on_terminal) close(out[1]);
  char buffer[4096];
  ssize_t got;
  bool interrupted = interrupt_after.empty();
  // On a terminal the read fails with EIO once the child has gone.
  while (pid > 0 && (got = read(out[0], buffer, sizeof buffer)) > 0) {
    run.out.append(buffer, static_cast<size_t>(got));
    if (!interrupted && run.out.find(interrupt_after) != std::string::npos)
      interrupted = kill(pid, interrupt_signal) == 0;
  }
  close(out[0]);
  int wait_status = 0;
  if (pid > 0) waitpid(pid, &wait_status, 0);
  run.status = statusOf(wait_status);
  rewind(err);
  for (int c; (c = fgetc(err)) != EOF;) run.err += static_cast<char>(c);
  fclose(err);
  return run;
}

// Starts the tool in the background, writing to the test's own output; the
// caller ends it with `kill` or a window request and collects it with
// `waitpid`.
inline pid_t startTool(std::vector<std::string> args) { return forkTool(args, -1, -1, nullptr); }

}  // namespace dravo::tool::testing
