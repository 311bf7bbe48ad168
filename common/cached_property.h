#pragma once
// A typed copy of one property node's value, refreshed on demand.
//
// An element declares its settings as members and binds them in
// `initialize()`; binding creates nothing but the node's default and meta
// ("help", and "read_only" for values the element publishes). The wrapper is
// refreshed by `update()`, normally through the element's property-change
// signal, which is emitted at the start of every property-change pass:
//
//     CachedProperty<int32_t> width_;
//     width_.bind(property_change_signal, node->getNode("width", true), 640,
//                 "Actual width.", CachedProperty<int32_t>::READ_ONLY);
//     ...
//     if (width_.changed()) resize(*width_);
//
// Reading a wrapper that was never updated is the assertion "Must update a
// cached property wrapper before using it." (the default is returned when
// the assertion handler lets the code go on).
//
// Owner: the element (or whoever declares it). Not synchronised: bind,
// update, read and write it on one thread at a time (the element's
// scheduler); the update signal must be emitted on that thread too.
// T: bool, int32_t, uint32_t, int64_t, uint64_t, float, double,
// std::string, Duration, or an enum (see property_conversion.h).

#include <memory>
#include <string>
#include <utility>

#include "common/check.h"
#include "common/non_copyable.h"
#include "common/property_conversion.h"
#include "common/property_node.h"
#include "common/sigslot.h"

namespace dravo {

template <typename T>
class CachedProperty : NonCopyable {
 public:
  enum Access { SETTABLE, READ_ONLY };

  CachedProperty() = default;
  CachedProperty(std::shared_ptr<PropertyNode> node, T default_value,
                 std::string const& help = std::string(), Access access = SETTABLE) {
    bind(std::move(node), std::move(default_value), help, access);
  }
  CachedProperty(sigslot::signal_base<>& update_signal, std::shared_ptr<PropertyNode> node,
                 T default_value, std::string const& help = std::string(),
                 Access access = SETTABLE) {
    bind(update_signal, std::move(node), std::move(default_value), help, access);
  }
  ~CachedProperty() { slots_.disconnect_all(); }

  // Attaches the wrapper to `node`: sets the node's default (the value too if
  // it has none), "help" when given, "read_only" = true for READ_ONLY.
  void bind(std::shared_ptr<PropertyNode> node, T default_value,
            std::string const& help = std::string(), Access access = SETTABLE) {
    DRAVO_ASSERT(node);
    node_ = std::move(node);
    default_ = std::move(default_value);
    value_ = default_;
    updated_ = false;
    changed_ = false;
    if (!help.empty()) node_->setMeta("help", help);
    if (access == READ_ONLY) node_->setMeta("read_only", true);
    node_->setDefaultValue(PropertyConversion<T>::toValue(node_, default_));
  }
  // The same, and `update()` runs on every emission of `update_signal`.
  void bind(sigslot::signal_base<>& update_signal, std::shared_ptr<PropertyNode> node,
            T default_value, std::string const& help = std::string(), Access access = SETTABLE) {
    bind(std::move(node), std::move(default_value), help, access);
    update_signal.disconnect(&slots_);
    update_signal.connect(&slots_, [this] { update(); });
  }

  // Re-reads the node. changed() is true after the first update and after
  // every update that found a different value than the one before.
  void update() {
    DRAVO_ASSERT(node_);
    if (!node_) return;
    PropertyValue raw = node_->getValue();
    T next = default_;
    if (!raw.empty()) {
      if (auto converted = PropertyConversion<T>::fromValue(node_, raw)) {
        next = std::move(*converted);
      } else {
        LOGF_TO("cached_property", 3, "Property %s holds '%s' of the wrong type; keeping %s.",
                node_->getFullName().c_str(), raw.toString().c_str(),
                updated_ ? "the previous value" : "the default");
        if (updated_) next = value_;
      }
    }
    changed_ = !updated_ || !(next == value_);
    value_ = std::move(next);
    updated_ = true;
  }

  T const& get() const {
    if (!updated_)
      DRAVO_ASSERT_MSG(false, "Must update a cached property wrapper before using it.");
    return value_;
  }
  T const& operator*() const { return get(); }
  T const* operator->() const { return &get(); }
  bool changed() const { return changed_; }

  // Writes `value` to the node (notifying its listeners) and to the cached
  // copy; changed() stays as the last update left it.
  void set(T const& value) {
    DRAVO_ASSERT(node_);
    if (!node_) return;
    value_ = value;
    node_->setValue(PropertyConversion<T>::toValue(node_, value));
  }

  std::shared_ptr<PropertyNode> const& node() const { return node_; }
  T const& defaultValue() const { return default_; }

 private:
  std::shared_ptr<PropertyNode> node_;
  T default_{};
  T value_{};
  bool updated_ = false;
  bool changed_ = false;
  // Last, so that it disconnects before the rest goes.
  sigslot::has_slots<sigslot::multi_threaded_local> slots_;
};

}  // namespace dravo
