#pragma once
// A callable paired with a weak reference to the object that owns it.
//
// Calling a WeakFunction first locks the weak reference; it calls the function
// only while the owner lives, holding the owner for the duration of the call,
// and otherwise does nothing. Callbacks that cross threads or outlive their
// target (scheduler tasks, clock timers, token requests, device probes) are
// WeakFunctions, so a late callback never touches a dead object.
//
//     auto cb = bindWeak(shared_from_this(), &Sink::onTimer);       // void()
//     auto cb2 = WeakFunction<void(int)>(owner, [](int n) { ... });
//
// Copies share nothing but the owner and the function; a WeakFunction may be
// called on any thread (the function decides whether that is safe).

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace dravo {

template <typename Signature>
class WeakFunction;

template <typename... Args>
class WeakFunction<void(Args...)> {
 public:
  WeakFunction() = default;
  WeakFunction(std::weak_ptr<void const> owner, std::function<void(Args...)> function)
      : owner_(std::move(owner)), function_(std::move(function)) {}

  // Calls the function if the owner lives; returns whether it was called.
  bool operator()(Args... args) const {
    std::shared_ptr<void const> alive = owner_.lock();
    if (!alive || !function_) return false;
    function_(std::forward<Args>(args)...);
    return true;
  }

  bool expired() const { return owner_.expired(); }
  explicit operator bool() const { return static_cast<bool>(function_); }
  std::weak_ptr<void const> const& owner() const { return owner_; }

 private:
  std::weak_ptr<void const> owner_;
  std::function<void(Args...)> function_;
};

// Binds a member function of `self` and leading arguments; the call passes
// the bound arguments first, then the call's own. `self` is held weakly.
template <typename Signature, typename T, typename Method, typename... Bound>
WeakFunction<Signature> bindWeak(std::shared_ptr<T> const& self, Method method, Bound&&... bound) {
  std::weak_ptr<T> weak = self;
  auto call = [weak, method, ... bound = std::forward<Bound>(bound)](auto&&... args) {
    if (std::shared_ptr<T> strong = weak.lock())
      std::invoke(method, strong.get(), bound..., std::forward<decltype(args)>(args)...);
  };
  return WeakFunction<Signature>(std::weak_ptr<void const>(self), std::move(call));
}

// Shorthand for the common void() case.
template <typename T, typename Method, typename... Bound>
WeakFunction<void()> bindWeak(std::shared_ptr<T> const& self, Method method, Bound&&... bound) {
  return bindWeak<void(), T>(self, method, std::forward<Bound>(bound)...);
}

}  // namespace dravo
