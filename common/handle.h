#pragma once
// Handles: a registration (a link, a timer, a connection) and the function
// that undoes it.
//
// `Handle<T>` holds the registration's record and its release function; the
// release runs once, at `release()` or when the handle is destroyed.
// `AutoHandle<T>` shares one `Handle<T>`: the release runs when the last
// AutoHandle copy is reset or destroyed. Operations that register something
// return an `AutoHandleInitializer<T>`, which converts into an AutoHandle;
// an initializer dropped without conversion releases at once, so ignoring
// the result of `link()` undoes the link.
//
// Thread-safe: copies may be dropped on different threads; the release runs
// on the thread that drops the last one.

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "common/non_copyable.h"

namespace dravo {

template <typename T>
class Handle : NonCopyable {
 public:
  using ReleaseFunction = std::function<void(T&)>;

  Handle(std::shared_ptr<T> record, ReleaseFunction release)
      : record_(std::move(record)), release_(std::move(release)) {}
  ~Handle() { release(); }

  void release() {
    ReleaseFunction release;
    {
      std::lock_guard lock(mutex_);
      release.swap(release_);
    }
    if (release && record_) release(*record_);
  }

  T* get() const { return record_.get(); }
  std::shared_ptr<T> const& record() const { return record_; }

 private:
  std::shared_ptr<T> record_;
  std::mutex mutex_;
  ReleaseFunction release_;
};

template <typename T>
class AutoHandleInitializer;

template <typename T>
class AutoHandle {
 public:
  AutoHandle() = default;
  AutoHandle(AutoHandleInitializer<T>&& initializer);  // NOLINT: converts on purpose

  void reset() { handle_.reset(); }
  bool empty() const { return !handle_; }
  T* get() const { return handle_ ? handle_->get() : nullptr; }

 private:
  std::shared_ptr<Handle<T>> handle_;
};

template <typename T>
class [[nodiscard]] AutoHandleInitializer {
 public:
  AutoHandleInitializer() = default;
  AutoHandleInitializer(std::shared_ptr<T> record, typename Handle<T>::ReleaseFunction release)
      : handle_(std::make_shared<Handle<T>>(std::move(record), std::move(release))) {}

  AutoHandleInitializer(AutoHandleInitializer&&) = default;
  AutoHandleInitializer& operator=(AutoHandleInitializer&&) = default;
  AutoHandleInitializer(AutoHandleInitializer const&) = delete;
  AutoHandleInitializer& operator=(AutoHandleInitializer const&) = delete;

  T* get() const { return handle_ ? handle_->get() : nullptr; }

 private:
  friend class AutoHandle<T>;
  std::shared_ptr<Handle<T>> handle_;
};

template <typename T>
AutoHandle<T>::AutoHandle(AutoHandleInitializer<T>&& initializer)
    : handle_(std::move(initializer.handle_)) {}

}  // namespace dravo
