#pragma once
// Asks for a dump of the recorded diagnostics histories when something went
// wrong (a task queue overflowed, a deadline was missed), at most once per
// `period` so a persistent fault does not flood the log.
//
// `trigger()` returns whether this call passed the rate limit; a passing call
// logs "History dump triggered: " and the name on the logger "history" at
// level 4, with the number of calls held back since the last one. Thread-safe.

#include <string>

#include "common/mutex.h"
#include "common/non_copyable.h"
#include "common/time.h"

namespace dravo {

class HistoryDumpTrigger : NonCopyable {
 public:
  HistoryDumpTrigger(std::string name, Duration period);

  bool trigger() { return triggerAt(Time::now()); }
  bool triggerAt(Time now);

  std::string const& name() const { return name_; }

 private:
  const std::string name_;
  const Duration period_;
  Mutex mutex_;
  bool fired_ DRAVO_GUARDED_BY(mutex_) = false;
  Time last_ DRAVO_GUARDED_BY(mutex_);
  int held_back_ DRAVO_GUARDED_BY(mutex_) = 0;
};

}  // namespace dravo
