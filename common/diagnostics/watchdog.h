#pragma once
// A progress monitor for a long-lived loop (a worker thread): the loop calls
// `kick()` whenever it makes progress and `setIdle(true)` while it waits for
// work on purpose.
//
// The durations say when a stall is worth a warning (`warn_after`), when it
// is an error (`fail_after`), and how often a monitor would look
// (`poll_interval`). This build records progress only and reports nothing;
// `stalledFor` lets callers and tests read the stall. Thread-safe.

#include <atomic>
#include <string>

#include "common/non_copyable.h"
#include "common/time.h"

namespace dravo {

class Watchdog : NonCopyable {
 public:
  Watchdog(std::string name, Duration warn_after, Duration fail_after, Duration poll_interval);

  void kick() { last_kick_ns_.store(Time::now().toNSec(), std::memory_order_relaxed); }
  void setIdle(bool idle) {
    idle_.store(idle, std::memory_order_relaxed);
    kick();
  }
  // Time since the last kick; zero while idle.
  Duration stalledFor() const;

  std::string const& name() const { return name_; }
  Duration warnAfter() const { return warn_after_; }
  Duration failAfter() const { return fail_after_; }
  Duration pollInterval() const { return poll_interval_; }

 private:
  const std::string name_;
  const Duration warn_after_;
  const Duration fail_after_;
  const Duration poll_interval_;
  std::atomic<int64_t> last_kick_ns_;
  std::atomic<bool> idle_{false};
};

}  // namespace dravo
