#include "common/sigslot.h"

#include <algorithm>

#include "common/mutex.h"

namespace dravo::sigslot {
namespace detail {
namespace {

// The slots running on this thread, innermost last. A disconnect waits for
// every call of the slot except these: waiting for them would never end.
thread_local std::vector<ConnectionBase const*> t_running_slots;

void eraseConnection(ConnectionList& list, ConnectionBase const* connection) {
  auto it = std::find_if(list.begin(), list.end(),
                         [connection](auto const& entry) { return entry.get() == connection; });
  if (it != list.end()) list.erase(it);
}

}  // namespace

void ConnectionBase::waitUntilIdle() {
  uint32_t own_calls =
      static_cast<uint32_t>(std::count(t_running_slots.begin(), t_running_slots.end(), this));
  uint32_t state = state_.load(std::memory_order_acquire);
  while ((state >> 1) > own_calls) {
    state_.wait(state, std::memory_order_acquire);
    state = state_.load(std::memory_order_acquire);
  }
}

CallScope::CallScope(ConnectionBase* connection) : connection_(connection) {
  t_running_slots.push_back(connection);
}

CallScope::~CallScope() {
  t_running_slots.pop_back();
  connection_->leave();
}

void disconnect(std::shared_ptr<ConnectionBase> const& connection) {
  if (connection->markDisconnected()) {
    if (auto signal = connection->signal_.lock()) signal->remove(connection.get());
    if (auto slots = connection->slots_.lock()) slots->remove(connection.get());
  }
  // A thread that lost the race to disconnect waits as well: either way the
  // slot must be idle when disconnect returns.
  connection->waitUntilIdle();
}

void disconnectAll(ConnectionList const& connections) {
  for (auto const& connection : connections) disconnect(connection);
}

void attach(std::shared_ptr<ConnectionBase> const& connection,
            std::shared_ptr<SignalCore> const& signal, std::shared_ptr<SlotsCore> const& slots) {
  connection->signal_ = signal;
  connection->slots_ = slots;
  slots->add(connection);
  signal->add(connection);
}

struct SignalCore::State {
  mutable Mutex mutex;
  std::shared_ptr<ConnectionList const> connections DRAVO_GUARDED_BY(mutex) =
      std::make_shared<ConnectionList const>();
};

SignalCore::SignalCore() : state_(std::make_unique<State>()) {}
SignalCore::~SignalCore() = default;

std::shared_ptr<ConnectionList const> SignalCore::snapshot() const {
  MutexLock lock(state_->mutex);
  return state_->connections;
}

void SignalCore::add(std::shared_ptr<ConnectionBase> const& connection) {
  MutexLock lock(state_->mutex);
  auto next = std::make_shared<ConnectionList>(*state_->connections);
  next->push_back(connection);
  size_.store(next->size(), std::memory_order_relaxed);
  state_->connections = std::move(next);
}

void SignalCore::remove(ConnectionBase const* connection) {
  MutexLock lock(state_->mutex);
  auto next = std::make_shared<ConnectionList>(*state_->connections);
  eraseConnection(*next, connection);
  size_.store(next->size(), std::memory_order_relaxed);
  state_->connections = std::move(next);
}

ConnectionList SignalCore::takeAll() {
  MutexLock lock(state_->mutex);
  ConnectionList all = *state_->connections;
  state_->connections = std::make_shared<ConnectionList const>();
  size_.store(0, std::memory_order_relaxed);
  return all;
}

ConnectionList SignalCore::connectionsOf(has_slots_base const* owner) const {
  MutexLock lock(state_->mutex);
  ConnectionList result;
  for (auto const& connection : *state_->connections)
    if (connection->owner() == owner) result.push_back(connection);
  return result;
}

struct SlotsCore::State {
  mutable Mutex mutex;
  ConnectionList connections DRAVO_GUARDED_BY(mutex);
};

SlotsCore::SlotsCore() : state_(std::make_unique<State>()) {}
SlotsCore::~SlotsCore() = default;

void SlotsCore::add(std::shared_ptr<ConnectionBase> const& connection) {
  MutexLock lock(state_->mutex);
  state_->connections.push_back(connection);
}

void SlotsCore::remove(ConnectionBase const* connection) {
  MutexLock lock(state_->mutex);
  eraseConnection(state_->connections, connection);
}

ConnectionList SlotsCore::takeAll() {
  MutexLock lock(state_->mutex);
  ConnectionList all;
  all.swap(state_->connections);
  return all;
}

size_t SlotsCore::size() const {
  MutexLock lock(state_->mutex);
  return state_->connections.size();
}

}  // namespace detail

has_slots_base::has_slots_base() : core_(std::make_shared<detail::SlotsCore>()) {}

has_slots_base::has_slots_base(has_slots_base const&) : has_slots_base() {}

has_slots_base::~has_slots_base() { disconnect_all(); }

void has_slots_base::disconnect_all() { detail::disconnectAll(core_->takeAll()); }

size_t has_slots_base::connection_count() const { return core_->size(); }

}  // namespace dravo::sigslot
