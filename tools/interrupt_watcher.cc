#include "tools/interrupt_watcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "common/check.h"

namespace dravo::tool {

namespace {

// Signal numbers are small; 0 is no signal.
constexpr char kStopByte = 0;

std::atomic<int> g_write_fd{-1};
std::atomic<int> g_signals{0};

void onSignal(int number) {
  if (g_signals.fetch_add(1) > 0) _exit(128 + number);
  int const fd = g_write_fd.load();
  if (fd >= 0) {
    char const byte = static_cast<char>(number);
    [[maybe_unused]] ssize_t written = write(fd, &byte, 1);
  }
}

}  // namespace

InterruptWatcher::InterruptWatcher(std::function<void()> on_interrupt)
    : on_interrupt_(std::move(on_interrupt)) {
  DRAVO_ASSERT(g_write_fd.load() < 0);
  if (pipe2(pipe_, O_CLOEXEC) != 0) return;
  g_signals = 0;
  g_write_fd = pipe_[1];
  thread_ = std::thread([this] { run(); });
  struct sigaction action = {};
  action.sa_handler = &onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

InterruptWatcher::~InterruptWatcher() {
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  if (thread_.joinable()) {
    char const byte = kStopByte;
    [[maybe_unused]] ssize_t written = write(pipe_[1], &byte, 1);
    thread_.join();
  }
  g_write_fd = -1;
  for (int fd : pipe_)
    if (fd >= 0) close(fd);
}

void InterruptWatcher::run() {
  for (;;) {
    char byte = 0;
    ssize_t const got = read(pipe_[0], &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || byte == kStopByte) return;
    int expected = 0;
    signal_.compare_exchange_strong(expected, byte);
    if (on_interrupt_) on_interrupt_();
  }
}

}  // namespace dravo::tool
