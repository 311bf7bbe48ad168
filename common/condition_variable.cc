#include "common/condition_variable.h"

#include <chrono>

namespace dravo {

namespace {
// Adopts the already-locked mutex for the standard wait and hands it back.
template <typename Wait>
auto waitOn(MutexLock& lock, Wait wait) {
  DRAVO_ASSERT(lock.isLocked());
  std::unique_lock<std::mutex> native(lock.mutex().native(), std::adopt_lock);
  auto result = wait(native);
  native.release();
  return result;
}
}  // namespace

void ConditionVariable::wait(MutexLock& lock) {
  waitOn(lock, [this](std::unique_lock<std::mutex>& native) {
    cv_.wait(native);
    return true;
  });
}

bool ConditionVariable::timedWaitRelative(MutexLock& lock, Duration timeout) {
  // Saturate: "wait forever" (Duration::max()) must not wrap into the past.
  Time now = Time::now();
  Time deadline = timeout > Time::max() - now ? Time::max() : now + timeout;
  return timedWaitAbsolute(lock, deadline);
}

bool ConditionVariable::timedWaitAbsolute(MutexLock& lock, Time deadline) {
  // Time::now() and std::chrono::steady_clock both read CLOCK_MONOTONIC.
  auto when = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(deadline.toNSec()));
  return waitOn(lock, [&](std::unique_lock<std::mutex>& native) {
    return cv_.wait_until(native, when) == std::cv_status::no_timeout;
  });
}

}  // namespace dravo
