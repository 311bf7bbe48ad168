#pragma once
// Sources: elements with one output pad, "out".
//
// `SourceMixin<T>` gives an element the pad and routes upstream events to
// `onUpstreamEvent`; `Source<T>` is a complete source element whose buffers
// take their priority from its "priority" property and whose pad lets at
// most 2 buffers live downstream, with up to 4 more sends waiting.
//
// `onUpstreamEvent` runs on the element's scheduler; `sendBuffer` and
// `sendDownstreamEvent` may be called from any thread.

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>

#include "common/cached_property.h"
#include "media_common/element.h"
#include "media_common/pad.h"

namespace dravo::media {

class SourceMixinBase {
 public:
  virtual bool onUpstreamEvent(std::shared_ptr<Event const> const& event);
  virtual ~SourceMixinBase() = default;

  void sendDownstreamEvent(std::shared_ptr<Event const> const& event);

 protected:
  // Stores the pad and routes its upstream events, tracked by the element.
  void initialize(std::shared_ptr<OutputPadBase> const& pad);

  std::shared_ptr<OutputPadBase> output_pad_;
};

template <typename T>
class SourceMixin : public SourceMixinBase {
 public:
  std::shared_ptr<OutputPad<T>> getOutputPad() const {
    return std::static_pointer_cast<OutputPad<T>>(output_pad_);
  }

 protected:
  // Creates the static pad "out"; the element's initialize() calls it.
  virtual void initialize();
  // Sends without touching the buffer's priority.
  void sendBuffer(std::shared_ptr<T const> const& buffer) { getOutputPad()->sendBuffer(buffer); }
};

template <typename T>
class Source : public Element, public SourceMixin<T> {
 public:
  // Sets the buffer's priority from the "priority" property, then sends it.
  void sendBuffer(std::shared_ptr<T> const& buffer) {
    int64_t priority = sendable_priority_.load(std::memory_order_acquire);
    if (priority == kNotUpdated)
      DRAVO_ASSERT_MSG(false, "Must update a cached property wrapper before using it.");
    buffer->setPriority(static_cast<int32_t>(priority));
    SourceMixin<T>::sendBuffer(buffer);
  }

 protected:
  void initialize() override {
    Element::initialize();
    SourceMixin<T>::initialize();
    priority_.bind(getPropertyChangeSignal(), getPropertyNode("priority"), -1,
                   "Priority of the buffers this source sends.");
    // Buffers may be sent from any thread while the wrapper is refreshed on
    // the element's scheduler, so senders read a copy kept in an atomic.
    getPropertyChangeSignal().connect(
        this, [this] { sendable_priority_.store(*priority_, std::memory_order_release); });
    SourceMixin<T>::getOutputPad()->getOrCreateTokenPool().setQueueLength(4).setNumTokens(2);
  }

  CachedProperty<int32_t> priority_;

 private:
  static constexpr int64_t kNotUpdated = std::numeric_limits<int64_t>::min();
  std::atomic<int64_t> sendable_priority_{kNotUpdated};
};

// The element a mixin belongs to (mixins are always mixed into an Element).
inline Element& elementOf(SourceMixinBase& mixin) { return dynamic_cast<Element&>(mixin); }

template <typename T>
void SourceMixin<T>::initialize() {
  Element& element = elementOf(*this);
  SourceMixinBase::initialize(element.createStaticPad<OutputPad<T>>("out"));
}

}  // namespace dravo::media
