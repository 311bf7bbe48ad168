#pragma once
// Time points and spans as signed 64-bit nanosecond counts.
//
// `Time` is a point on the process's monotonic timeline (CLOCK_MONOTONIC);
// `Time::min()` is the zero `Time`, which clocks use as "no time". `Duration`
// is the signed difference of two points. Both are plain values, safe to copy
// between threads.
//
// Stream output prints seconds with nine decimals: a `Time` as "12.500000000",
// a `Duration` as "0.040000000s".

#include <compare>
#include <cstdint>
#include <cstdlib>
#include <iosfwd>

namespace dravo {

class Duration {
 public:
  constexpr Duration() = default;

  static constexpr Duration fromNSec(int64_t ns) { return Duration(ns); }
  static constexpr Duration fromUSec(int64_t us) { return Duration(us * 1000); }
  static constexpr Duration fromMSec(int64_t ms) { return Duration(ms * 1000000); }
  // Rounds to the nearest nanosecond.
  static Duration fromSec(double seconds);
  static constexpr Duration zero() { return Duration(); }
  static constexpr Duration max() { return Duration(INT64_MAX); }

  constexpr int64_t toNSec() const { return ns_; }
  constexpr int64_t toUSec() const { return ns_ / 1000; }
  constexpr int64_t toMSec() const { return ns_ / 1000000; }
  constexpr double toSec() const { return static_cast<double>(ns_) / 1e9; }

  constexpr Duration abs() const { return Duration(ns_ < 0 ? -ns_ : ns_); }

  constexpr Duration operator-() const { return Duration(-ns_); }
  constexpr Duration operator+(Duration d) const { return Duration(ns_ + d.ns_); }
  constexpr Duration operator-(Duration d) const { return Duration(ns_ - d.ns_); }
  constexpr Duration operator*(int64_t k) const { return Duration(ns_ * k); }
  constexpr Duration operator/(int64_t k) const { return Duration(ns_ / k); }
  constexpr Duration& operator+=(Duration d) {
    ns_ += d.ns_;
    return *this;
  }
  constexpr Duration& operator-=(Duration d) {
    ns_ -= d.ns_;
    return *this;
  }
  constexpr auto operator<=>(Duration const&) const = default;

 private:
  constexpr explicit Duration(int64_t ns) : ns_(ns) {}
  int64_t ns_ = 0;
};

class Time {
 public:
  constexpr Time() = default;

  // Monotonic now; never goes backwards within the process.
  static Time now();
  // The zero time; equal to a default `Time`.
  static constexpr Time min() { return Time(); }
  static constexpr Time max() { return Time(INT64_MAX); }
  static constexpr Time fromNSec(int64_t ns) { return Time(ns); }

  constexpr int64_t toNSec() const { return ns_; }
  constexpr double toSec() const { return static_cast<double>(ns_) / 1e9; }

  constexpr Duration operator-(Time t) const { return Duration::fromNSec(ns_ - t.ns_); }
  constexpr Time operator+(Duration d) const { return Time(ns_ + d.toNSec()); }
  constexpr Time operator-(Duration d) const { return Time(ns_ - d.toNSec()); }
  constexpr Time& operator+=(Duration d) {
    ns_ += d.toNSec();
    return *this;
  }
  constexpr Time& operator-=(Duration d) {
    ns_ -= d.toNSec();
    return *this;
  }
  constexpr auto operator<=>(Time const&) const = default;

 private:
  constexpr explicit Time(int64_t ns) : ns_(ns) {}
  int64_t ns_ = 0;
};

std::ostream& operator<<(std::ostream& os, Duration d);
std::ostream& operator<<(std::ostream& os, Time t);

}  // namespace dravo
