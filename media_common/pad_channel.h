#pragma once
// One direction of a pad: buffers, upstream events or downstream events.
//
// A channel sends to a list of peer channels and runs one receive handler,
// as a task on its own scheduler, for every object it receives. Linking two
// pads wires channels together; everything else about pads is built on
// channel send and receive.
//
// Owned by its pad (shared; links hold channels too). Any thread may send and
// receive. Lock order: the sender's peers mutex, then the receiver's handler
// mutex, then the receiver's scheduler. Handlers run without any channel
// mutex held.

#include <functional>
#include <list>
#include <memory>

#include "common/diagnostics/buffer_trace.h"
#include "common/mutex.h"
#include "media_common/data_base.h"
#include "media_common/priority.h"
#include "media_common/scheduler.h"
#include "media_common/task_info.h"

namespace dravo::media {

struct LinkHandlePrivate;

class PadChannel : public std::enable_shared_from_this<PadChannel> {
 public:
  using Handler = std::function<void(std::shared_ptr<DataBase const> const&)>;
  using PeerList = std::list<std::weak_ptr<PadChannel>>;

  // With `topology_events`, removing a peer tells both sides with a
  // PipelineTopologyChangeEvent.
  PadChannel(std::shared_ptr<Scheduler> const& scheduler, bool topology_events);

  // Appends `peer` and records the connection in `record`.
  void link(std::weak_ptr<PadChannel> const& peer, LinkHandlePrivate* record);
  // Removes one connection made by `link`.
  void unlink(PeerList::iterator position);

  // Hands `data` to every live peer.
  void send(std::shared_ptr<DataBase const> const& data);
  // Schedules the handler for `data` on this channel's scheduler.
  void receive(std::shared_ptr<DataBase const> const& data, Priority const& priority);

  void setReceiveHandler(std::weak_ptr<void const> const& tracked, Handler handler);
  // The handler re-sends everything received to this channel's peers.
  void setPassThroughHandler();
  Handler getReceiveHandlerFunction() const;
  std::weak_ptr<void const> getReceiveHandlerTrackedObject() const;

  void setTaskInfo(std::shared_ptr<TaskInfo const> info) { task_info_ = std::move(info); }
  std::shared_ptr<TaskInfo const> const& getTaskInfo() const { return task_info_; }
  const char* getTaskName() const { return task_info_ ? task_info_->getName() : ""; }
  void setInstanceInfo(buffer_trace::InstanceInfo const* info) { instance_info_ = info; }

 private:
  void callHandlerFunc(std::shared_ptr<DataBase const> const& data);

  mutable Mutex peers_mutex_;
  PeerList peers_ DRAVO_GUARDED_BY(peers_mutex_);
  std::shared_ptr<Scheduler> scheduler_;
  mutable Mutex handler_mutex_;
  std::weak_ptr<void const> tracked_ DRAVO_GUARDED_BY(handler_mutex_);
  // Shared, never changed: a task takes a reference instead of copying the
  // function. Null when there is no handler.
  std::shared_ptr<Handler const> handler_ DRAVO_GUARDED_BY(handler_mutex_);
  buffer_trace::InstanceInfo const* instance_info_ = nullptr;
  bool topology_events_;
  // Set once while the pad is initialised, before any task can run.
  std::shared_ptr<TaskInfo const> task_info_;
};

}  // namespace dravo::media
