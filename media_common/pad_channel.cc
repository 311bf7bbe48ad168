#include "media_common/pad_channel.h"

#include <typeinfo>
#include <utility>

#include "common/logging.h"
#include "media_common/link_handle.h"
#include "media_common/pipeline_topology_change_event.h"

DRAVO_LOGGER("pad");

namespace dravo::media {

PadChannel::PadChannel(std::shared_ptr<Scheduler> const& scheduler, bool topology_events)
    : scheduler_(scheduler), topology_events_(topology_events) {}

void PadChannel::link(std::weak_ptr<PadChannel> const& peer, LinkHandlePrivate* record) {
  PeerList::iterator position;
  {
    MutexLock lock(peers_mutex_);
    position = peers_.insert(peers_.end(), peer);
  }
  record->links.emplace_back(shared_from_this(), position);
}

void PadChannel::unlink(PeerList::iterator position) {
  std::shared_ptr<PipelineTopologyChangeEvent> event;
  if (topology_events_) {
    event = std::make_shared<PipelineTopologyChangeEvent>(PipelineTopologyChangeEvent::Unlinked);
    send(event);
  }
  {
    MutexLock lock(peers_mutex_);
    peers_.erase(position);
  }
  if (event) receive(event, Priority(*event));
}

void PadChannel::send(std::shared_ptr<DataBase const> const& data) {
  MutexLock lock(peers_mutex_);
  if (!data) {
    LOGF(3, "Dropping NULL data.");
    return;
  }
  if (buffer_trace::isEnabled()) {
    buffer_trace::track(data.get(), instance_info_);
    DataBase const& object = *data;
    LOGS_TO("buffer_trace", 5) << "Pad " << getTaskName() << " gave token <"
                               << data->getStartTimestamp() << "," << data->getCreationTime()
                               << "> type=" << typeid(object).name();
  }
  LOGF(5, "peers: %zu", peers_.size());
  Priority priority(*data);
  for (std::weak_ptr<PadChannel> const& weak_peer : peers_) {
    std::shared_ptr<PadChannel> peer = weak_peer.lock();
    if (!peer) {
      LOGF(5, "didn't schedule pad with dead peer (did you keep a pointer to the pad?)");
      continue;
    }
    peer->receive(data, priority);
  }
}

void PadChannel::receive(std::shared_ptr<DataBase const> const& data, Priority const& priority) {
  MutexLock lock(handler_mutex_);
  // Only a test: a reference taken here could turn out to be the owner's
  // last, and its release (an element's finalize and destructor) would then
  // run on the sending thread under this mutex and the sender's peers mutex.
  if (tracked_.expired()) {
    LOGF(5, "didn't schedule pad with dead handler");
    return;
  }
  LOGF(5, "scheduled pad");
  // The task holds the channel weakly: the channel holds the scheduler, so a
  // strong reference from a task the scheduler never runs would keep both alive.
  scheduler_->scheduleWithDebug(TaskFunction(tracked_,
                                             [weak_self = weak_from_this(), data] {
                                               if (auto self = weak_self.lock())
                                                 self->callHandlerFunc(data);
                                             }),
                                priority, task_info_);
}

void PadChannel::callHandlerFunc(std::shared_ptr<DataBase const> const& data) {
  std::shared_ptr<Handler const> handler;
  {
    MutexLock lock(handler_mutex_);
    handler = handler_;
  }
  // Cleared after the object was queued: the owner that queued it lives, but
  // no one wants the object any more.
  if (!handler) {
    LOGF(5, "dropped data for a cleared handler");
    return;
  }
  (*handler)(data);
}

void PadChannel::setReceiveHandler(std::weak_ptr<void const> const& tracked, Handler handler) {
  std::shared_ptr<Handler const> replaced;  // its captures are released unlocked
  auto installed = handler ? std::make_shared<Handler const>(std::move(handler)) : nullptr;
  MutexLock lock(handler_mutex_);
  tracked_ = tracked;
  replaced = std::exchange(handler_, std::move(installed));
}

void PadChannel::setPassThroughHandler() {
  std::weak_ptr<PadChannel> weak_self = weak_from_this();
  setReceiveHandler(weak_self, [weak_self](std::shared_ptr<DataBase const> const& data) {
    if (auto self = weak_self.lock()) self->send(data);
  });
}

PadChannel::Handler PadChannel::getReceiveHandlerFunction() const {
  MutexLock lock(handler_mutex_);
  return handler_ ? *handler_ : Handler();
}

std::weak_ptr<void const> PadChannel::getReceiveHandlerTrackedObject() const {
  MutexLock lock(handler_mutex_);
  return tracked_;
}

}  // namespace dravo::media
