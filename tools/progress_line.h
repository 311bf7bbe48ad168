#pragma once
// The progress line of long commands: frames done / total, frames per
// second, elapsed and remaining time, redrawn in place on stderr at most ten
// times a second. Disabled, it prints nothing; media-tool enables it only
// when stderr is a terminal.
//
// Owner: the command. `update` is called on the pipeline's scheduler,
// `finish` by the command after the run; a mutex keeps them apart.

#include <cstdint>
#include <string>

#include "common/mutex.h"
#include "common/time.h"

namespace dravo::tool {

class ProgressLine {
 public:
  // `total` < 0: unknown.
  ProgressLine(bool enabled, int64_t total);

  void update(int64_t done);
  // Redraws the final state and ends the line.
  void finish();

  // The text for `done` frames after `elapsed`, without line control.
  static std::string format(int64_t done, int64_t total, Duration elapsed);

 private:
  void draw(int64_t done, Time now) DRAVO_REQUIRES(mutex_);

  bool const enabled_;
  int64_t const total_;
  Time const started_;
  Mutex mutex_;
  Time last_draw_ DRAVO_GUARDED_BY(mutex_);
  int64_t last_done_ DRAVO_GUARDED_BY(mutex_) = 0;
  bool drawn_ DRAVO_GUARDED_BY(mutex_) = false;
};

}  // namespace dravo::tool
