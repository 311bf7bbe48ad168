#pragma once
// InterruptWatcher: turns Ctrl-C (SIGINT) and SIGTERM into a call on an
// ordinary thread, so a command can finish the files it writes and exit
// with status 128 + the signal's number (130, 143). The signal handler only
// writes the signal's number into a pipe; the watcher's thread reads it and
// calls the handler. A second signal while the first is being handled ends
// the process at once with the second one's status.
//
// One watcher at a time per process. Owner: the command that runs a
// pipeline; the handler runs on the watcher's thread.

#include <atomic>
#include <functional>
#include <thread>

namespace dravo::tool {

class InterruptWatcher {
 public:
  explicit InterruptWatcher(std::function<void()> on_interrupt);
  ~InterruptWatcher();
  InterruptWatcher(InterruptWatcher const&) = delete;
  InterruptWatcher& operator=(InterruptWatcher const&) = delete;

  bool interrupted() const { return signal_.load() != 0; }
  // The first signal that arrived, 0 while none has.
  int signal() const { return signal_.load(); }

 private:
  void run();

  std::function<void()> on_interrupt_;
  std::atomic<int> signal_{0};
  int pipe_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace dravo::tool
