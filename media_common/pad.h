#pragma once
// Pads: an element's connection points.
//
// Output pads send buffers and downstream events; input pads receive them
// and send upstream events back; a thru pad forwards whatever it receives (it
// exposes an inner element's pad at a group boundary). Every delivery across
// a link is a task on the receiving pad's scheduler, ordered by the
// `Priority` of the delivered object. Events whose handler lets them pass
// (returns true, or there is no handler) travel on through the graph.
//
// Pads are always held by shared pointer and initialised exactly once, by
// their element, before they are linked or used. Any thread may send; the
// handlers run on the pad's scheduler.

#include <atomic>
#include <functional>
#include <memory>

#include "common/diagnostics/buffer_trace.h"
#include "common/non_copyable.h"
#include "common/property_node.h"
#include "media_common/buffer.h"
#include "media_common/event.h"
#include "media_common/link_handle.h"
#include "media_common/scheduler.h"
#include "media_common/token_pool.h"

namespace dravo::media {

struct PadArgs {
  PadArgs(std::shared_ptr<PropertyNode> node, std::shared_ptr<Scheduler> scheduler)
      : node(std::move(node)), scheduler(std::move(scheduler)) {}
  std::shared_ptr<PropertyNode> node;
  std::shared_ptr<Scheduler> scheduler;
};

class PadBasePrivate;
class NonOutputPadBaseMixin;

using EventHandlerFunction = std::function<bool(std::shared_ptr<Event const> const&)>;

class PadBase : NonCopyable, public std::enable_shared_from_this<PadBase> {
 public:
  PadBase();
  virtual void initialize(PadArgs const& args);
  virtual ~PadBase();

  std::shared_ptr<PropertyNode> const& getPropertyNode() const { return node_; }
  std::shared_ptr<PropertyNode> getPropertyNode(std::string const& name) const {
    return node_->getNode(name, true);
  }
  buffer_trace::InstanceInfo const* getInstInfo() const { return inst_info_; }
  std::shared_ptr<Scheduler> const& getScheduler() const { return scheduler_; }

 protected:
  friend class NonInputPadBaseMixin;
  LinkHandleInitializer baseLink(PadBase& to_pad);
  static PadBasePrivate& privateOf(PadBase& pad) { return *pad.private_; }

  std::unique_ptr<PadBasePrivate> private_;
  std::shared_ptr<PropertyNode> node_;
  buffer_trace::InstanceInfo const* inst_info_ = nullptr;
  std::shared_ptr<Scheduler> scheduler_;
};

// A pad that can be the source side of a link.
class NonInputPadBaseMixin {
 public:
  virtual ~NonInputPadBaseMixin() = default;

 protected:
  LinkHandleInitializer baseLink(NonOutputPadBaseMixin& to);
};

// A pad that can be the destination side of a link.
class NonOutputPadBaseMixin {
 public:
  virtual ~NonOutputPadBaseMixin() = default;
};

template <typename T>
class NonOutputPadMixin : public NonOutputPadBaseMixin {};

template <typename T>
class NonInputPadMixin : public NonInputPadBaseMixin {
 public:
  // Links this pad to a pad of the same payload type.
  LinkHandleInitializer link(NonOutputPadMixin<T>& to) { return baseLink(to); }
};

class OutputPadBase : public PadBase {
 public:
  void sendDownstreamEvent(std::shared_ptr<Event const> const& event);
  void setUpstreamEventHandler(std::weak_ptr<void const> const& tracked,
                               EventHandlerFunction const& handler);
  void clearUpstreamEventHandler();
  // The pad's pool, made on first call with 1 token and an unbounded queue.
  TokenPool getOrCreateTokenPool();

  // Sends a buffer downstream; it must carry a non-zero priority. Public so
  // that sources and filters built by composition can send.
  void sendBuffer(std::shared_ptr<Buffer const> const& buffer);

 private:
  Mutex token_pool_mutex_;  // serialises the pool's creation
  std::unique_ptr<TokenPool> token_pool_holder_ DRAVO_GUARDED_BY(token_pool_mutex_);
  // The pool once made, for senders: it stays until the pad goes.
  std::atomic<TokenPool*> token_pool_{nullptr};
};

class InputPadBase : public PadBase {
 public:
  using BufferHandler = std::function<void(std::shared_ptr<DataBase const> const&)>;

  void sendUpstreamEvent(std::shared_ptr<Event const> const& event);
  void setDownstreamEventHandler(std::weak_ptr<void const> const& tracked,
                                 EventHandlerFunction const& handler);
  void clearDownstreamEventHandler();
  void clearBufferHandler();
  // Links only the event channels from this pad to `out`, an output pad of the
  // same element, so events the element does not consume pass through it.
  LinkHandleInitializer eventOnlyLink(OutputPadBase& out);

  // Public for the mixins and tests; elements normally use SinkMixin.
  void setBufferHandler(std::weak_ptr<void const> const& tracked, BufferHandler const& handler);
  BufferHandler getBufferHandlerFunction() const;
  std::weak_ptr<void const> getBufferHandlerTrackedObject() const;
};

class ThruPadBase : public PadBase {
 public:
  // Also puts the buffer channel into pass-through.
  void initialize(PadArgs const& args) override;
};

template <typename T>
class OutputPad : public OutputPadBase, public NonInputPadMixin<T> {
 public:
  void sendBuffer(std::shared_ptr<T const> const& buffer) { OutputPadBase::sendBuffer(buffer); }
};

template <typename T>
class InputPad : public InputPadBase, public NonOutputPadMixin<T> {
 public:
  using InputPadBase::setBufferHandler;
  // The handler gets each buffer cast to `T` (null if it is no `T`).
  template <typename F>
  requires(
      std::is_invocable_v<F, std::shared_ptr<T const>> &&
      !std::is_invocable_v<
          F,
          std::shared_ptr<DataBase const>>) void setBufferHandler(std::weak_ptr<void const> const&
                                                                      tracked,
                                                                  F handler) {
    InputPadBase::setBufferHandler(tracked, [handler](std::shared_ptr<DataBase const> const& data) {
      handler(std::dynamic_pointer_cast<T const>(data));
    });
  }
};

template <typename T>
class ThruPad : public ThruPadBase, public NonInputPadMixin<T>, public NonOutputPadMixin<T> {};

// Links `from` to `to`; the link lives as long as the returned handle.
template <typename T>
LinkHandleInitializer link(OutputPad<T>& from, InputPad<T>& to) {
  return from.link(to);
}

}  // namespace dravo::media
