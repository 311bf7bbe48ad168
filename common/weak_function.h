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
//
// Cost: a function whose captures fit in 48 bytes (a weak reference, a
// shared pointer and a raw pointer, say) is stored inside the WeakFunction
// (see InlineFunction), so making, copying and moving one allocates nothing;
// larger ones live on the heap. Scheduler tasks are made and copied once
// per buffer.

#include <cstddef>
#include <functional>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace dravo {

// A copyable type-erased callable, like std::function, that keeps functors
// of up to 48 bytes inline: making, copying and moving one allocates
// nothing. The storage of WeakFunction, and usable on its own.
template <typename Signature>
class InlineFunction;

template <typename... Args>
class InlineFunction<void(Args...)> {
 public:
  static constexpr size_t kInlineSize = 48;

  InlineFunction() = default;
  InlineFunction(std::nullptr_t) {}  // NOLINT: like std::function

  template <typename F, typename D = std::decay_t<F>,
            typename = std::enable_if_t<!std::is_same_v<D, InlineFunction> &&
                                        std::is_invocable_v<D&, Args...>>>
  InlineFunction(F&& f) {  // NOLINT: converts like std::function
    if constexpr (std::is_same_v<D, std::function<void(Args...)>> || std::is_pointer_v<D> ||
                  std::is_member_pointer_v<D>) {
      if (!f) return;  // an empty std::function or null pointer stays empty
    }
    emplace<D>(std::forward<F>(f));
  }

  InlineFunction(InlineFunction const& other) {
    if (other.ops_) {
      other.ops_->copy(storage_, other.storage_);
      ops_ = other.ops_;
    }
  }
  InlineFunction(InlineFunction&& other) noexcept {
    if (other.ops_) {
      other.ops_->move(storage_, other.storage_);
      ops_ = std::exchange(other.ops_, nullptr);
    }
  }
  InlineFunction& operator=(InlineFunction const& other) {
    if (this != &other) {
      InlineFunction copy(other);
      *this = std::move(copy);
    }
    return *this;
  }
  InlineFunction& operator=(InlineFunction&& other) noexcept {
    if (this != &other) {
      reset();
      if (other.ops_) {
        other.ops_->move(storage_, other.storage_);
        ops_ = std::exchange(other.ops_, nullptr);
      }
    }
    return *this;
  }
  ~InlineFunction() { reset(); }

  explicit operator bool() const { return ops_ != nullptr; }
  void operator()(Args... args) const {
    ops_->invoke(const_cast<unsigned char*>(storage_), std::forward<Args>(args)...);
  }

 private:
  struct Ops {
    void (*invoke)(void* self, Args&&... args);
    void (*copy)(void* to, void const* from);
    void (*move)(void* to, void* from) noexcept;  // leaves `from` destroyed
    void (*destroy)(void* self) noexcept;
  };

  template <typename D>
  static constexpr bool kFitsInline =
      sizeof(D) <= kInlineSize &&
      alignof(D) <= alignof(std::max_align_t) && std::is_nothrow_move_constructible_v<D>;

  template <typename D>
  struct InlineOps {
    static D* get(void* self) { return std::launder(static_cast<D*>(self)); }
    static void invoke(void* self, Args&&... args) { (*get(self))(std::forward<Args>(args)...); }
    static void copy(void* to, void const* from) {
      new (to) D(*std::launder(static_cast<D const*>(from)));
    }
    static void move(void* to, void* from) noexcept {
      new (to) D(std::move(*get(from)));
      get(from)->~D();
    }
    static void destroy(void* self) noexcept { get(self)->~D(); }
    static constexpr Ops ops{&invoke, &copy, &move, &destroy};
  };

  template <typename D>
  struct HeapOps {
    static D*& get(void* self) { return *std::launder(static_cast<D**>(self)); }
    static void invoke(void* self, Args&&... args) { (*get(self))(std::forward<Args>(args)...); }
    static void copy(void* to, void const* from) {
      new (to) D*(new D(**std::launder(static_cast<D* const*>(from))));
    }
    static void move(void* to, void* from) noexcept { new (to) D*(get(from)); }
    static void destroy(void* self) noexcept { delete get(self); }
    static constexpr Ops ops{&invoke, &copy, &move, &destroy};
  };

  template <typename D, typename F>
  void emplace(F&& f) {
    if constexpr (kFitsInline<D>) {
      new (storage_) D(std::forward<F>(f));
      ops_ = &InlineOps<D>::ops;
    } else {
      new (storage_) D*(new D(std::forward<F>(f)));
      ops_ = &HeapOps<D>::ops;
    }
  }

  void reset() noexcept {
    if (ops_) std::exchange(ops_, nullptr)->destroy(storage_);
  }

  alignas(std::max_align_t) unsigned char storage_[kInlineSize];
  Ops const* ops_ = nullptr;
};

template <typename Signature>
class WeakFunction;

template <typename... Args>
class WeakFunction<void(Args...)> {
 public:
  using Function = InlineFunction<void(Args...)>;

  WeakFunction() = default;
  // `function` is any callable of this signature (a lambda, a std::function).
  WeakFunction(std::weak_ptr<void const> owner, Function function)
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
  Function function_;
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
