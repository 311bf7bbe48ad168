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
  Priority(int level, Time const& stamp) : level_(level), idle_(false), stamp_(stamp) {}
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

  bool operator==(Priority const& other) const {
    return idle_ == other.idle_ && level_ == other.level_ && stamp_ == other.stamp_;
  }
  // Inline: every scheduler compares priorities on the path of each task.
  bool operator<(Priority const& other) const {
    if (idle_ != other.idle_) return idle_;
    if (level_ != other.level_) return level_ < other.level_;
    // An older stamp is more urgent, so the later one compares less.
    return stamp_ > other.stamp_;
  }
  bool operator>(Priority const& other) const { return other < *this; }
  bool operator<=(Priority const& other) const { return !(other < *this); }
  bool operator>=(Priority const& other) const { return !(*this < other); }

 private:
  // In this order the three fit in 16 bytes: every task record holds one.
  int32_t level_;
  bool idle_;
  Time stamp_;
};

}  // namespace dravo::media
