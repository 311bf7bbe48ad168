#pragma once
// Thread-safe signals and slots.
//
// Names (`has_slots`, `disconnect_all`, `connection_count`) are lower case
// with underscores, as users of sigslot-style signals know them, unlike the
// rest of the library.
//
// A signal (`signal0<>`, `signal1<A>`, `signal2<A, B>`) calls every connected
// slot when it is emitted. A slot is a member function of, or a callable owned
// by, an object deriving from `has_slots<multi_threaded_local>`; the owner
// tracks its connections so that they are all dropped when it is destroyed.
//
//     class Listener : public sigslot::has_slots<sigslot::multi_threaded_local> {
//      public:
//       ~Listener() override { disconnect_all(); }
//       void onTick() { ... }
//     };
//     sigslot::signal0<> tick;
//     tick.connect(&listener, &Listener::onTick);
//     tick();  // or tick.emit()
//
// Guarantees:
// - Every operation may be called on any thread. Each signal and each
//   has_slots object has its own lock (`multi_threaded_local`, the only policy;
//   the parameter stays so that declarations name it).
// - Emitting holds no lock while a slot runs: slots may connect, disconnect
//   and emit, also on the signal that is calling them. Slots run on the
//   emitting thread, in connection order; a slot connected during an emission
//   is first called by the next one.
// - Once `disconnect`/`disconnect_all` returns, the slots it removed are never
//   called again and none of them is still running on another thread. The one
//   exception is a call in progress on the disconnecting thread itself (a slot
//   that disconnects itself): that call finishes normally.
// - ~has_slots disconnects everything, but by then the derived object is
//   already gone. A class whose slots can be called from other threads calls
//   `disconnect_all()` in its own destructor (or earlier), before its members
//   die.
// - Destroying a signal disconnects all its slots.
// A slot must not disconnect itself while another thread waits to disconnect
// it and that thread holds something the slot needs: the waits would cross.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/non_copyable.h"

namespace dravo::sigslot {

// The locking policy: one lock per signal and per has_slots object.
struct multi_threaded_local {};

class has_slots_base;

namespace detail {

class SignalCore;
class SlotsCore;

// One link between a signal and a slot owner, shared by both ends.
// `state_` packs the connected bit (bit 0) and the number of calls running
// (the rest), so that entering a call and disconnecting are one atomic step.
class ConnectionBase {
 public:
  explicit ConnectionBase(has_slots_base* owner) : owner_(owner) {}
  virtual ~ConnectionBase() = default;

  has_slots_base* owner() const { return owner_; }
  bool connected() const { return state_.load(std::memory_order_acquire) & 1u; }

  // Starts a call if still connected; the caller must then call leave().
  bool enter() {
    uint32_t state = state_.load(std::memory_order_relaxed);
    do {
      if (!(state & 1u)) return false;
    } while (!state_.compare_exchange_weak(state, state + 2, std::memory_order_acquire,
                                           std::memory_order_relaxed));
    return true;
  }
  void leave() {
    uint32_t previous = state_.fetch_sub(2, std::memory_order_release);
    if (!(previous & 1u)) state_.notify_all();  // a disconnecting thread may be waiting
  }

  // Clears the connected bit; true for the one caller that cleared it.
  bool markDisconnected() { return state_.fetch_and(~1u, std::memory_order_acq_rel) & 1u; }
  // Waits until no thread but the current one runs the slot.
  void waitUntilIdle();

  std::weak_ptr<SignalCore> signal_;
  std::weak_ptr<SlotsCore> slots_;

 private:
  has_slots_base* const owner_;
  std::atomic<uint32_t> state_{1};
};

// Records on the current thread that a slot is running (for waitUntilIdle).
class CallScope : NonCopyable {
 public:
  explicit CallScope(ConnectionBase* connection);
  ~CallScope();

 private:
  ConnectionBase* connection_;
};

template <typename... Args>
class Connection : public ConnectionBase {
 public:
  Connection(has_slots_base* owner, std::function<void(Args...)> function)
      : ConnectionBase(owner), function_(std::move(function)) {}
  std::function<void(Args...)> const function_;
};

using ConnectionList = std::vector<std::shared_ptr<ConnectionBase>>;

// Disconnects `connection` from both ends and waits until it is idle.
void disconnect(std::shared_ptr<ConnectionBase> const& connection);
void disconnectAll(ConnectionList const& connections);

// The signal's side: an immutable snapshot, replaced on every change, so that
// emission copies one pointer under the lock.
class SignalCore : NonCopyable {
 public:
  SignalCore();
  ~SignalCore();
  std::shared_ptr<ConnectionList const> snapshot() const;
  void add(std::shared_ptr<ConnectionBase> const& connection);
  void remove(ConnectionBase const* connection);
  ConnectionList takeAll();
  ConnectionList connectionsOf(has_slots_base const* owner) const;
  // Lock-free; a connection made concurrently may or may not be counted.
  size_t size() const { return size_.load(std::memory_order_relaxed); }

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::atomic<size_t> size_{0};
};

// The slot owner's side.
class SlotsCore : NonCopyable {
 public:
  SlotsCore();
  ~SlotsCore();
  void add(std::shared_ptr<ConnectionBase> const& connection);
  void remove(ConnectionBase const* connection);
  ConnectionList takeAll();
  size_t size() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Links a new connection into both ends.
void attach(std::shared_ptr<ConnectionBase> const& connection,
            std::shared_ptr<SignalCore> const& signal, std::shared_ptr<SlotsCore> const& slots);

}  // namespace detail

// Base of every object that owns slots. Copying gives a fresh object without
// connections. Owner: the derived object; any thread.
class has_slots_base {
 public:
  has_slots_base();
  has_slots_base(has_slots_base const&);
  has_slots_base& operator=(has_slots_base const&) { return *this; }
  virtual ~has_slots_base();

  // Disconnects every slot of this object from every signal.
  void disconnect_all();
  size_t connection_count() const;
  bool has_connections() const { return connection_count() != 0; }

  std::shared_ptr<detail::SlotsCore> const& slots_core() const { return core_; }

 private:
  std::shared_ptr<detail::SlotsCore> core_;
};

template <typename Policy = multi_threaded_local>
class has_slots : public has_slots_base {};

// The common body of the signals. Owner: whoever declares the signal; any
// thread may connect, emit and disconnect.
template <typename... Args>
class signal_base : NonCopyable {
 public:
  using Function = std::function<void(Args...)>;

  signal_base() : core_(std::make_shared<detail::SignalCore>()) {}
  ~signal_base() { disconnect_all(); }

  // Connects a member function of `target`.
  template <typename Target, typename Method>
  requires std::is_member_function_pointer_v<Method>
  void connect(Target* target, Method method) {
    static_assert(std::is_base_of_v<has_slots_base, Target>, "slot owners derive from has_slots");
    connect(static_cast<has_slots_base*>(target), Function([target, method](Args... args) {
              std::invoke(method, target, std::forward<Args>(args)...);
            }));
  }

  // Connects a callable owned by `owner`: it is dropped with the owner's
  // connections.
  void connect(has_slots_base* owner, Function function) {
    auto connection = std::make_shared<detail::Connection<Args...>>(owner, std::move(function));
    detail::attach(connection, core_, owner->slots_core());
  }

  // Disconnects every slot owned by `owner`.
  void disconnect(has_slots_base const* owner) {
    detail::disconnectAll(core_->connectionsOf(owner));
  }
  void disconnect_all() { detail::disconnectAll(core_->takeAll()); }

  void emit(Args... args) const {
    if (core_->size() == 0) return;
    std::shared_ptr<detail::ConnectionList const> connections = core_->snapshot();
    for (auto const& base : *connections) {
      if (!base->enter()) continue;
      detail::CallScope scope(base.get());
      static_cast<detail::Connection<Args...> const*>(base.get())->function_(args...);
    }
  }
  void operator()(Args... args) const { emit(args...); }

  size_t connection_count() const { return core_->size(); }

 private:
  std::shared_ptr<detail::SignalCore> core_;
};

template <typename Policy = multi_threaded_local>
class signal0 : public signal_base<> {};

template <typename A, typename Policy = multi_threaded_local>
class signal1 : public signal_base<A> {};

template <typename A, typename B, typename Policy = multi_threaded_local>
class signal2 : public signal_base<A, B> {};

}  // namespace dravo::sigslot

namespace dravo {
// Lets code in dravo's namespaces write `sigslot::has_slots<multi_threaded_local>`.
using sigslot::multi_threaded_local;
}  // namespace dravo
