#pragma once
// Process-wide objects that must outlive static destruction.
//
// `NeverDestroyed<T>` holds a T that is built in place and never destroyed,
// for a function-local static that other code may still reach while the
// process exits (log points, deferred calls queued by destructors):
//
//     Config& config() {
//       static NeverDestroyed<Config> instance;
//       return instance.get();
//     }
//
// `serviceInstance<T>()` is that pattern for a service with a thread of its
// own (the deferred queue, the timer queue): the instance is made on first
// use, never destroyed, and its `stop()` runs from an exit handler, so the
// thread is joined before the process ends while late callers still find a
// live (stopped) object.
//
// Thread-safe: the first use may race; C++ static initialisation makes one.

#include <cstdlib>
#include <new>
#include <utility>

#include "common/non_copyable.h"

namespace dravo {

template <typename T>
class NeverDestroyed : NonCopyable {
 public:
  template <typename... Args>
  explicit NeverDestroyed(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }

  T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

template <typename T>
T& serviceInstance() {
  static T& instance = []() -> T& {
    static NeverDestroyed<T> storage;
    std::atexit([] { serviceInstance<T>().stop(); });
    return storage.get();
  }();
  return instance;
}

}  // namespace dravo
