#pragma once
// A one-way flag that test threads can wait on, with a generous timeout so a
// broken test fails instead of hanging. Thread-safe.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace dravo::testing {

class WaitableFlag {
 public:
  void set() {
    std::lock_guard lock(mutex_);
    set_ = true;
    condition_.notify_all();
  }
  // True once set; false if `timeout` passed first.
  bool waitFor(std::chrono::seconds timeout = std::chrono::seconds(30)) {
    std::unique_lock lock(mutex_);
    return condition_.wait_for(lock, timeout, [this] { return set_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool set_ = false;
};

}  // namespace dravo::testing
