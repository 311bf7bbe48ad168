#include "common/diagnostics/history_dump_trigger.h"

#include <utility>

#include "common/logging.h"

DRAVO_LOGGER("history");

namespace dravo {

HistoryDumpTrigger::HistoryDumpTrigger(std::string name, Duration period)
    : name_(std::move(name)), period_(period) {}

bool HistoryDumpTrigger::triggerAt(Time now) {
  int held_back;
  {
    MutexLock lock(mutex_);
    if (fired_ && now - last_ < period_) {
      ++held_back_;
      return false;
    }
    fired_ = true;
    last_ = now;
    held_back = held_back_;
    held_back_ = 0;
  }
  LOGF(4, "History dump triggered: %s (%d held back)", name_.c_str(), held_back);
  return true;
}

}  // namespace dravo
