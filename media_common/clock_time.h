#pragma once
// A clock reading: a `Time` tagged with the clock's generation.
//
// Clocks can freeze, jump and be replaced at run time, so a bare time cannot
// say whether two readings lie on one continuous stretch of a clock. The
// generation counts those stretches: every change between running and frozen
// and every discontinuity moves a clock to a higher generation, and bit 0 of
// the generation is the frozen flag. Readings order by generation first, then
// by time. A frozen reading carries the zero `Time`; generation 0xFFFFFFFF
// means "uninitialized".
//
// A plain value; safe to copy between threads.

#include <cstdint>
#include <iosfwd>
#include <string>

#include "common/time.h"

namespace dravo::media {

class ClockTimePrivate;

class ClockTime {
 public:
  static constexpr uint32_t kUninitializedGeneration = 0xFFFFFFFFu;

  ClockTime() = default;
  ClockTime(unsigned generation, Time time) : generation_(generation), time_(time) {}
  // `base`'s generation with the time `t`.
  ClockTime(ClockTime const& base, Time const& t) : generation_(base.generation_), time_(t) {}

  bool isInitialized() const { return generation_ != kUninitializedGeneration; }
  bool isFrozen() const { return generation_ & 1u; }
  Time const& time() const { return time_; }
  Time& time() { return time_; }

  bool operator==(ClockTime const& other) const {
    return generation_ == other.generation_ && time_ == other.time_;
  }
  bool operator!=(ClockTime const& other) const { return !(*this == other); }
  bool operator<(ClockTime const& other) const {
    if (generation_ != other.generation_) return generation_ < other.generation_;
    return time_ < other.time_;
  }
  bool operator>(ClockTime const& other) const { return other < *this; }
  bool operator<=(ClockTime const& other) const { return !(other < *this); }
  bool operator>=(ClockTime const& other) const { return !(*this < other); }

  // 0 for the same generation, 1 if this one is higher, -1 if lower.
  int compareGeneration(ClockTime const& other) const {
    if (generation_ == other.generation_) return 0;
    return generation_ > other.generation_ ? 1 : -1;
  }
  bool sameGeneration(ClockTime const& other) const { return compareGeneration(other) == 0; }

  // The time difference. Readings of different generations share no
  // timeline: that is a logged check, and the difference is still returned.
  Duration operator-(ClockTime const& rhs) const;
  ClockTime operator+(Duration d) const { return ClockTime(generation_, time_ + d); }
  ClockTime& operator+=(Duration d) {
    time_ += d;
    return *this;
  }

  // The start of the next frozen generation: (g + 1) | 1.
  ClockTime nextFrozen() const;
  // The start of the next running generation: (g + 2) & ~1.
  ClockTime nextUnfrozen() const;
  // The frozen generation this reading freezes into: g | 1.
  ClockTime whenFrozen() const;
  // Running readings are returned as they are; a frozen one gives the start
  // of the running generation that follows it.
  ClockTime whenUnfrozen() const;

  // "dt=<duration>" within one generation, else "dgen=<generation delta>".
  std::string prettyPrintDifference(ClockTime const& other) const;

 private:
  friend class ClockTimePrivate;

  uint32_t generation_ = kUninitializedGeneration;
  Time time_;
};

// "ClockTime(uninitialized)" or "ClockTime(<generation>, <time>)".
std::ostream& operator<<(std::ostream& os, ClockTime const& value);

// Generation arithmetic for clock implementations.
class ClockTimePrivate {
 public:
  static ClockTime make(uint32_t generation, Time time) { return ClockTime(generation, time); }
  static uint32_t& generation(ClockTime& value) { return value.generation_; }
  static uint32_t const& generation(ClockTime const& value) { return value.generation_; }
  // Generation + 1 (the frozen flag flips), zero time.
  static ClockTime nextGeneration(ClockTime const& value) {
    return ClockTime(value.generation_ + 1, Time());
  }
  // The generation itself if its frozen bit already equals `frozen`, else
  // the next one.
  static uint32_t setFrozenState(uint32_t generation, bool frozen) {
    return ((generation & 1u) != 0) == frozen ? generation : generation + 1;
  }
  static ClockTime setFrozenState(ClockTime const& value, bool frozen) {
    return ClockTime(setFrozenState(value.generation_, frozen), value.time_);
  }
};

}  // namespace dravo::media
