#pragma once
// A named group of elements that share one property subtree and one
// pipeline.
//
// A bin's node is the pipeline root's child named after the bin. Its
// elements get their `ElementArgs` from `elementArgs(name)`: their nodes are
// children of the bin's node and they run on the pipeline's scheduler. The
// bin keeps the links it made between them, publishes a status in its node's
// "status" child (sharing one that is already attached there), and can show
// inner properties under its own node, as aliases or as one-way copies.
//
// Destruction waits until every element made from `elementArgs` is gone, so
// a derived bin releases its elements before the base destructor runs (its
// members die first), or has them released from elsewhere; otherwise the
// destructor keeps waiting. Then the bin's node leaves the tree, the
// destroyed signal is emitted and the links are released.
//
// Threads: the bin is built and its operations are called by whoever
// assembles the pipeline, on one thread. Its elements may be destroyed on
// any thread; the last one wakes the destructor.

#include <memory>
#include <string>
#include <vector>

#include "common/condition_variable.h"
#include "common/mutex.h"
#include "common/non_copyable.h"
#include "common/property_copier.h"
#include "common/property_node.h"
#include "common/sigslot.h"
#include "common/status.h"
#include "media_common/abstract_pipeline.h"
#include "media_common/element_args.h"
#include "media_common/link_handle.h"

namespace dravo::media {

class BinElementTracker;

class Bin : NonCopyable {
 public:
  Bin(std::shared_ptr<AbstractPipeline> const& pipeline, std::string const& name);
  virtual ~Bin();

  std::shared_ptr<PropertyNode> const& getPropertyNode() const { return node_; }
  std::shared_ptr<Status> const& getStatus() const { return status_; }
  std::string const& getName() const { return name_; }
  std::shared_ptr<AbstractPipeline> const& getPipeline() const { return pipeline_; }

  // The bin node's child `name`, created if missing.
  std::shared_ptr<PropertyNode> getNode(std::string const& name);

  // Makes the bin's property `name` an alias of `target`: it takes the
  // target's value and meta entries, and afterwards a change of either
  // shows in both.
  void addAlias(std::string const& name, std::shared_ptr<PropertyNode> const& target);
  // `target_path` is a path in the process-wide tree.
  void addAlias(std::string const& name, std::string const& target_path);

  // Copies the bin-side property to the other one now and on every change
  // (never an empty value). Changes of the other property do not come back.
  void addPropertyCopyFromBin(std::string const& bin_property, std::string const& other_path);
  void addPropertyCopyFromBin(std::string const& bin_property,
                              std::shared_ptr<PropertyNode> const& other);
  void addPropertyCopyFromBin(std::shared_ptr<PropertyNode> const& bin_node,
                              std::shared_ptr<PropertyNode> const& other);
  // The same in the other direction: the other property is copied to the
  // bin-side one.
  void addPropertyCopyToBin(std::string const& bin_property, std::string const& other_path);
  void addPropertyCopyToBin(std::string const& bin_property,
                            std::shared_ptr<PropertyNode> const& other);
  void addPropertyCopyToBin(std::shared_ptr<PropertyNode> const& bin_node,
                            std::shared_ptr<PropertyNode> const& other);

  // Emitted once, with the bin's address, during destruction: after every
  // element is gone and the node has left the tree, before the links are
  // released.
  sigslot::signal1<void*, sigslot::multi_threaded_local>& getDestroyedSignal() {
    return destroyed_signal_;
  }

 protected:
  // Arguments for a new element called `name`. Each holds the bin's element
  // tracker; the destructor waits until no holder of it is left.
  ElementArgs elementArgs(std::string const& name);
  // Keeps a link between two of the bin's elements until the bin goes.
  void addLink(LinkHandle const& link) { links_ += link; }
  void setStatus(int code, std::string const& message) { status_->setStatus(code, message); }

 private:
  friend class BinElementTracker;

  enum CopyDirection { kFromBin, kToBin };
  // Logs and keeps a copier between `bin_node` and `other` in `direction`.
  void addPropertyCopy(CopyDirection direction, std::shared_ptr<PropertyNode> const& bin_node,
                       std::shared_ptr<PropertyNode> const& other);

  std::shared_ptr<PropertyNode> node_;
  std::shared_ptr<Status> status_;
  std::vector<std::shared_ptr<UnidirectionalPropertyCopier>> property_copiers_;
  std::weak_ptr<BinElementTracker> element_tracker_ DRAVO_GUARDED_BY(mutex_);
  Mutex mutex_;
  ConditionVariable condition_;
  // Trackers not yet destroyed. A tracker's weak pointer expires before its
  // destructor has left the bin's mutex, so the destructor waits for this
  // count rather than for expiry.
  int live_trackers_ DRAVO_GUARDED_BY(mutex_) = 0;
  std::string name_;
  std::shared_ptr<AbstractPipeline> pipeline_;
  LinkHandles links_;
  sigslot::signal1<void*, sigslot::multi_threaded_local> destroyed_signal_;
};

}  // namespace dravo::media
