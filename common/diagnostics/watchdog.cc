#include "common/diagnostics/watchdog.h"

#include <utility>

namespace dravo {

Watchdog::Watchdog(std::string name, Duration warn_after, Duration fail_after,
                   Duration poll_interval)
    : name_(std::move(name)),
      warn_after_(warn_after),
      fail_after_(fail_after),
      poll_interval_(poll_interval),
      last_kick_ns_(Time::now().toNSec()) {}

Duration Watchdog::stalledFor() const {
  if (idle_.load(std::memory_order_relaxed)) return Duration();
  return Time::now() - Time::fromNSec(last_kick_ns_.load(std::memory_order_relaxed));
}

}  // namespace dravo
