#pragma once
// Handles: a registration (a link, a clock timer) and the action that undoes it.
//
// `Handle<T>` is a copyable value: the registration's record (shared) and its
// release action. Dropping a plain Handle releases NOTHING: a holder that only
// keeps a Handle leaves the registration in place.
// `AutoHandle<T>` is the owning form: AutoHandles made from copies of one
// Handle share one release, which runs exactly once, when the last of them is
// reset or destroyed. Operations that register something return an
// `AutoHandleInitializer<T>`, which converts into an AutoHandle (or gives up
// its plain Handle with `release()`).
//
// Thread-safe: copies may be made and dropped on different threads; the
// release action runs on the thread that drops the last AutoHandle.

#include <functional>
#include <memory>
#include <utility>

#include "common/mutex.h"

namespace dravo {

template <typename T>
class AutoHandle;

template <typename T>
class Handle {
 public:
  using ReleaseFunction = std::function<void(T&)>;

  Handle() = default;
  Handle(std::shared_ptr<T> record, ReleaseFunction release)
      : record_(std::move(record)), control_(std::make_shared<Control>(std::move(release))) {}

  T* get() const { return record_.get(); }
  T* operator->() const { return record_.get(); }
  std::shared_ptr<T> const& record() const { return record_; }
  bool empty() const { return !record_; }

 private:
  friend class AutoHandle<T>;

  // Runs the release once, when destroyed; one exists while any AutoHandle does.
  struct AutoToken {
    explicit AutoToken(Handle handle) : handle(std::move(handle)) {}
    ~AutoToken() { handle.runRelease(); }
    Handle handle;
  };
  struct Control {
    explicit Control(ReleaseFunction release) : release(std::move(release)) {}
    Mutex mutex;
    ReleaseFunction release DRAVO_GUARDED_BY(mutex);
    std::weak_ptr<AutoToken> token DRAVO_GUARDED_BY(mutex);
  };

  void runRelease() const {
    if (!control_) return;
    ReleaseFunction release;
    {
      MutexLock lock(control_->mutex);
      release.swap(control_->release);
    }
    if (release && record_) release(*record_);
  }

  std::shared_ptr<AutoToken> autoToken() const {
    if (!control_) return nullptr;
    MutexLock lock(control_->mutex);
    std::shared_ptr<AutoToken> token = control_->token.lock();
    if (!token) {
      token = std::make_shared<AutoToken>(*this);
      control_->token = token;
    }
    return token;
  }

  std::shared_ptr<T> record_;
  std::shared_ptr<Control> control_;
};

template <typename T>
class AutoHandleInitializer;

template <typename T>
class AutoHandle {
 public:
  AutoHandle() = default;
  explicit AutoHandle(Handle<T> const& handle) : token_(handle.autoToken()) {}
  AutoHandle(AutoHandleInitializer<T>&& initializer);  // NOLINT: converts on purpose

  // Drops this owner; the release runs if it was the last.
  void reset() { token_.reset(); }
  bool empty() const { return !token_; }
  T* get() const { return token_ ? token_->handle.get() : nullptr; }
  Handle<T> const* handle() const { return token_ ? &token_->handle : nullptr; }

 private:
  std::shared_ptr<typename Handle<T>::AutoToken> token_;
};

template <typename T>
class AutoHandleInitializer {
 public:
  AutoHandleInitializer() = default;
  explicit AutoHandleInitializer(Handle<T> handle) : handle_(std::move(handle)) {}
  AutoHandleInitializer(std::shared_ptr<T> record, typename Handle<T>::ReleaseFunction release)
      : handle_(std::move(record), std::move(release)) {}

  T* get() const { return handle_.get(); }
  // The plain handle, for holders that must not release on drop.
  Handle<T> release() { return std::move(handle_); }

 private:
  friend class AutoHandle<T>;
  Handle<T> handle_;
};

template <typename T>
AutoHandle<T>::AutoHandle(AutoHandleInitializer<T>&& initializer)
    : token_(initializer.handle_.autoToken()) {}

}  // namespace dravo
