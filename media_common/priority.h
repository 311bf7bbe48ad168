#pragma once
// The order of a scheduler task.
//
// Idle tasks run after all others; among the rest a larger level runs first,
// and among equal levels the older stamp runs first. `a < b` means "a runs
// after b", so a max-heap of priorities yields the next task to run.
//
// A plain value; safe to copy between threads.

#include <cstdint>

#include "common/time.h"

namespace dravo::media {

class DataBase;

class Priority {
 public:
  Priority(int level, Time const& stamp);
  // Stamped now.
  Priority(int level, bool idle);
  // The object's level, stamped with its creation time.
  explicit Priority(DataBase const& data);

  // Levels INT32_MAX and INT32_MIN, stamped now.
  static Priority highest();
  static Priority lowest();
  static Priority idle(int level);

  int getLevel() const { return level_; }
  Time const& getStamp() const { return stamp_; }
  bool isIdle() const { return idle_; }

  bool operator==(Priority const& other) const;
  bool operator<(Priority const& other) const;
  bool operator>(Priority const& other) const { return other < *this; }
  bool operator<=(Priority const& other) const { return !(other < *this); }
  bool operator>=(Priority const& other) const { return !(*this < other); }

 private:
  int32_t level_;
  Time stamp_;
  bool idle_;
};

}  // namespace dravo::media
