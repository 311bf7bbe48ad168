#include "media_common/pad.h"

#include <cinttypes>
#include <utility>

#include "common/logging.h"
#include "media_common/media_events.h"
#include "media_common/pipeline_topology_change_event.h"

DRAVO_LOGGER("pad");

namespace dravo::media {

namespace {

// The user event handler behind an event channel: the downstream event
// channel of an input pad or the upstream event channel of an output pad.
//
// Bound to its channel once, when the pad first gets a handler, and kept for
// the pad's lifetime; setting or clearing the handler changes only what it
// calls. So an event on its way when the handler changes is never dropped
// for it: it reaches the handler current when its turn comes, or, with none,
// travels on. Each event runs the handler as a task of its own, tracked by
// the handler's owner; if that task never calls the handler (the owner died,
// or the task was discarded), the event is propagated anyway.
//
// Owned by the pad's private part. `set` comes from any thread; the rest
// runs on the pad's scheduler.
class EventHandler : public std::enable_shared_from_this<EventHandler> {
 public:
  EventHandler(std::shared_ptr<PadChannel> channel, std::shared_ptr<Scheduler> scheduler)
      : channel_(std::move(channel)), scheduler_(std::move(scheduler)) {}

  // Makes the channel hand every event it receives to this object.
  void bindChannel() {
    std::weak_ptr<EventHandler> weak_self = weak_from_this();
    channel_->setReceiveHandler(weak_self, [weak_self](std::shared_ptr<DataBase const> const& d) {
      if (auto self = weak_self.lock())
        self->dispatchEventToEventHandler(std::static_pointer_cast<Event const>(d));
    });
  }

  // An empty handler lets every event pass.
  void set(std::weak_ptr<void const> const& tracked, EventHandlerFunction handler) {
    EventHandlerFunction replaced;  // its captures are released unlocked
    MutexLock lock(mutex_);
    tracked_ = tracked;
    replaced = std::exchange(handler_, std::move(handler));
  }

 private:
  using CalledFlag = std::shared_ptr<bool>;

  void dispatchEventToEventHandler(std::shared_ptr<Event const> const& event) {
    LOGF(5, "Called");
    std::weak_ptr<void const> tracked;
    {
      MutexLock lock(mutex_);
      if (handler_) tracked = tracked_;
    }
    if (tracked.expired()) {
      propagateEvent(channel_, event);
      return;
    }
    // Released with the last task that holds it: if no task called the
    // handler by then, the event goes on. Holds the channel weakly, like
    // the tasks hold this object: both hold the scheduler, and a task the
    // scheduler never runs must not keep its scheduler alive.
    std::weak_ptr<PadChannel> weak_channel = channel_;
    CalledFlag called(new bool(false), [weak_channel, event](bool* flag) {
      LOGF(5, "%s", *flag ? "was called" : "was not called");
      if (!*flag) propagateEvent(weak_channel, event);
      delete flag;
    });
    queueHandlerTask(tracked, std::move(called), event);
  }

  // Tracked by the handler's owner, so that on a threaded scheduler the
  // handler runs in turn with the owner's other tasks.
  void queueHandlerTask(std::weak_ptr<void const> const& tracked, CalledFlag called,
                        std::shared_ptr<Event const> const& event) {
    scheduler_->schedule(TaskFunction(tracked,
                                      [weak_self = weak_from_this(), tracked, called, event] {
                                        if (auto self = weak_self.lock())
                                          self->callEventHandler(tracked, called, event);
                                      }),
                         Priority(*event), channel_->getTaskInfo());
  }

  void callEventHandler(std::weak_ptr<void const> const& task_owner, CalledFlag const& called,
                        std::shared_ptr<Event const> const& event) {
    LOGF(5, "Called");
    std::weak_ptr<void const> tracked;
    EventHandlerFunction handler;
    {
      MutexLock lock(mutex_);
      tracked = tracked_;
      handler = handler_;
    }
    if (handler && (tracked.owner_before(task_owner) || task_owner.owner_before(tracked))) {
      // Replaced by a handler of another owner since the dispatch: run it on
      // that owner's turn instead.
      queueHandlerTask(tracked, called, event);
      return;
    }
    *called = true;
    if (handler) {
      if (std::shared_ptr<void const> owner = tracked.lock()) {
        bool pass = handler(event);
        LOGF(5, "Handler returned %s", pass ? "true" : "false");
        if (!pass) return;
      }
    }
    propagateEvent(channel_, event);
  }

  static void propagateEvent(std::weak_ptr<PadChannel> const& channel,
                             std::shared_ptr<Event const> const& event) {
    LOGF(5, "Called");
    if (auto alive = channel.lock()) alive->send(event);
  }

  const std::shared_ptr<PadChannel> channel_;
  const std::shared_ptr<Scheduler> scheduler_;
  Mutex mutex_;
  std::weak_ptr<void const> tracked_ DRAVO_GUARDED_BY(mutex_);
  EventHandlerFunction handler_ DRAVO_GUARDED_BY(mutex_);
};

// The event handler of one of a pad's event channels, bound to the channel
// on first use and kept for the pad's lifetime. Any thread may set it.
class EventHandlerSlot {
 public:
  void set(std::shared_ptr<PadChannel> const& channel, std::shared_ptr<Scheduler> const& scheduler,
           std::weak_ptr<void const> const& tracked, EventHandlerFunction handler)
      DRAVO_EXCLUDES(mutex_) {
    std::shared_ptr<EventHandler> event_handler;
    {
      // Binding under the mutex: two first handlers set at once must not
      // leave the channel bound to the one that was not kept.
      MutexLock lock(mutex_);
      if (!handler_ && !handler) return;  // never had one: the channel passes events on
      if (!handler_) {
        handler_ = std::make_shared<EventHandler>(channel, scheduler);
        handler_->bindChannel();
      }
      event_handler = handler_;
    }
    event_handler->set(tracked, std::move(handler));
  }

 private:
  Mutex mutex_;
  std::shared_ptr<EventHandler> handler_ DRAVO_GUARDED_BY(mutex_);
};

}  // namespace

class PadBasePrivate {
 public:
  explicit PadBasePrivate(std::shared_ptr<Scheduler> const& scheduler)
      : buffer_channel(std::make_shared<PadChannel>(scheduler, false)),
        upstream_event_channel(std::make_shared<PadChannel>(scheduler, true)),
        downstream_event_channel(std::make_shared<PadChannel>(scheduler, true)) {}

  std::shared_ptr<PadChannel> buffer_channel;
  std::shared_ptr<PadChannel> upstream_event_channel;
  std::shared_ptr<PadChannel> downstream_event_channel;
  EventHandlerSlot upstream_event_handler;
  EventHandlerSlot downstream_event_handler;
  logging::ThrottledLoggingFilter drop_filter{Duration::fromSec(5)};
};

PadBase::PadBase() = default;
PadBase::~PadBase() = default;

void PadBase::initialize(PadArgs const& args) {
  DRAVO_ASSERT_MSG(!private_, "Attempted to initialize a pad more than once.");
  if (private_) return;
  scheduler_ = args.scheduler;
  node_ = args.node;
  private_ = std::make_unique<PadBasePrivate>(scheduler_);
  private_->upstream_event_channel->setPassThroughHandler();
  private_->downstream_event_channel->setPassThroughHandler();
  std::string name = node_->getFullName();
  private_->buffer_channel->setTaskInfo(std::make_shared<SimpleTaskInfo>(name + " buffer"));
  private_->upstream_event_channel->setTaskInfo(
      std::make_shared<SimpleTaskInfo>(name + " upstream_event"));
  private_->downstream_event_channel->setTaskInfo(
      std::make_shared<SimpleTaskInfo>(name + " downstream_event"));
  inst_info_ = buffer_trace::createInstanceInfo(nullptr, "pad:" + name);
  private_->buffer_channel->setInstanceInfo(inst_info_);
  private_->upstream_event_channel->setInstanceInfo(inst_info_);
  private_->downstream_event_channel->setInstanceInfo(inst_info_);
}

LinkHandleInitializer PadBase::baseLink(PadBase& to_pad) {
  DRAVO_CHECK(dynamic_cast<NonInputPadBaseMixin*>(this));
  DRAVO_CHECK(dynamic_cast<NonOutputPadBaseMixin*>(&to_pad));
  LinkHandleInitializer handle = createLinkHandle(*this, to_pad);
  LinkHandlePrivate* record = handle.get();
  PadBasePrivate& from = *private_;
  PadBasePrivate& to = *to_pad.private_;
  from.downstream_event_channel->link(to.downstream_event_channel, record);
  to.upstream_event_channel->link(from.upstream_event_channel, record);
  from.buffer_channel->link(to.buffer_channel, record);
  auto linked = std::make_shared<PipelineTopologyChangeEvent>(PipelineTopologyChangeEvent::Linked);
  from.downstream_event_channel->send(linked);
  to.upstream_event_channel->send(linked);
  return handle;
}

LinkHandleInitializer NonInputPadBaseMixin::baseLink(NonOutputPadBaseMixin& to) {
  PadBase* from_pad = dynamic_cast<PadBase*>(this);
  PadBase* to_pad = dynamic_cast<PadBase*>(&to);
  DRAVO_ASSERT(from_pad && to_pad);
  return from_pad->baseLink(*to_pad);
}

// ---- Output pads ----

namespace {
void onTokenForOutputPadBaseSendBuffer(PadBasePrivate* pad, std::shared_ptr<Buffer const> buffer,
                                       TokenReference const& token) {
  LOGF(5, "onTokenForOutputPadBaseSendBuffer");
  if (token.empty()) {
    LOGF_FILTERED(pad->drop_filter, 3, "Buffer dropped because of full queue on pad %s.",
                  pad->buffer_channel->getTaskName());
    return;
  }
  buffer->addToken(token);
  pad->buffer_channel->send(buffer);
}

std::string drivingTag(Buffer const& buffer) {
  auto feedback = buffer.getMetadata<DrivingFeedbackEvent>();
  return feedback ? std::to_string(feedback->tag()) : "<none>";
}
}  // namespace

void OutputPadBase::sendBuffer(std::shared_ptr<Buffer const> const& buffer) {
  LOGF(5, "sendBuffer");
  // Every buffer needs a non-zero priority before it is sent: the priority
  // orders the delivery task on the receiving scheduler. Sources take it from
  // their "priority" property; filters copy it with Buffer::copyMetadata.
  DRAVO_ASSERT_MSG(!buffer || buffer->getPriority() != 0,
                   "Read comment in the code above this assertion to understand how to solve "
                   "this issue.");
  char const* name = private_->buffer_channel->getTaskName();
  if (buffer && buffer_trace::isEnabled()) {
    LOGS_TO("buffer_trace", 5) << "Pad " << name << " saw <" << buffer->getStartTimestamp() << ","
                               << buffer->getCreationTime() << ">";
    buffer_trace::track(buffer.get(), inst_info_);
  }
  if (buffer)
    LOGS_TO("driving_tag", 5) << "Pad " << name << " driving_tag: " << drivingTag(*buffer);
  auto& buff = buffer;
  DRAVO_CHECK(buff.get());
  if (!buffer) return;

  TokenPool* pool = token_pool_.load(std::memory_order_acquire);
  if (!pool) {
    private_->buffer_channel->send(buffer);
    return;
  }
  std::weak_ptr<PadBase> weak_pad = weak_from_this();
  pool->getToken(
      TokenRequest(private_->buffer_channel, [weak_pad, buffer](TokenReference const& token) {
        if (std::shared_ptr<PadBase> pad = weak_pad.lock())
          onTokenForOutputPadBaseSendBuffer(&privateOf(*pad), buffer, token);
      }));
}

TokenPool OutputPadBase::getOrCreateTokenPool() {
  MutexLock lock(token_pool_mutex_);
  if (!token_pool_holder_) {
    token_pool_holder_ = std::make_unique<TokenPool>(1, 4294967295u, true);
    token_pool_.store(token_pool_holder_.get(), std::memory_order_release);
  }
  return *token_pool_holder_;
}

void OutputPadBase::sendDownstreamEvent(std::shared_ptr<Event const> const& event) {
  if (event && buffer_trace::isEnabled()) {
    LOGS_TO("buffer_trace", 5) << "Pad " << private_->downstream_event_channel->getTaskName()
                               << " saw downstream_event <" << event->getStartTimestamp() << ","
                               << event->getCreationTime() << ">";
    buffer_trace::track(event.get(), inst_info_);
  }
  private_->downstream_event_channel->send(event);
}

void OutputPadBase::setUpstreamEventHandler(std::weak_ptr<void const> const& tracked,
                                            EventHandlerFunction const& handler) {
  private_->upstream_event_handler.set(private_->upstream_event_channel, scheduler_, tracked,
                                       handler);
}

void OutputPadBase::clearUpstreamEventHandler() {
  // Events keep going through the handler's dispatch, which passes them on:
  // an event already on its way is never dropped for a vanished handler.
  private_->upstream_event_handler.set(private_->upstream_event_channel, scheduler_, {}, nullptr);
}

// ---- Input pads ----

void InputPadBase::sendUpstreamEvent(std::shared_ptr<Event const> const& event) {
  if (event && buffer_trace::isEnabled()) {
    LOGS_TO("buffer_trace", 5) << "Pad " << private_->upstream_event_channel->getTaskName()
                               << " saw upstream_event <" << event->getStartTimestamp() << ","
                               << event->getCreationTime() << ">";
    buffer_trace::track(event.get(), inst_info_);
  }
  private_->upstream_event_channel->send(event);
}

void InputPadBase::setDownstreamEventHandler(std::weak_ptr<void const> const& tracked,
                                             EventHandlerFunction const& handler) {
  private_->downstream_event_handler.set(private_->downstream_event_channel, scheduler_, tracked,
                                         handler);
}

void InputPadBase::clearDownstreamEventHandler() {
  private_->downstream_event_handler.set(private_->downstream_event_channel, scheduler_, {},
                                         nullptr);
}

void InputPadBase::setBufferHandler(std::weak_ptr<void const> const& tracked,
                                    BufferHandler const& handler) {
  private_->buffer_channel->setReceiveHandler(tracked, handler);
}

void InputPadBase::clearBufferHandler() {
  private_->buffer_channel->setReceiveHandler(std::weak_ptr<void const>(), nullptr);
}

InputPadBase::BufferHandler InputPadBase::getBufferHandlerFunction() const {
  return private_->buffer_channel->getReceiveHandlerFunction();
}

std::weak_ptr<void const> InputPadBase::getBufferHandlerTrackedObject() const {
  return private_->buffer_channel->getReceiveHandlerTrackedObject();
}

LinkHandleInitializer InputPadBase::eventOnlyLink(OutputPadBase& out) {
  LinkHandleInitializer handle = createLinkHandle(*this, out);
  LinkHandlePrivate* record = handle.get();
  PadBasePrivate& in = *private_;
  PadBasePrivate& output = privateOf(out);
  in.downstream_event_channel->link(output.downstream_event_channel, record);
  output.upstream_event_channel->link(in.upstream_event_channel, record);
  return handle;
}

// ---- Thru pads ----

void ThruPadBase::initialize(PadArgs const& args) {
  PadBase::initialize(args);
  private_->buffer_channel->setPassThroughHandler();
}

}  // namespace dravo::media
