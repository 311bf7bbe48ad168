#include "media_common/bin.h"

#include "common/logging.h"

DRAVO_LOGGER("bin");

namespace dravo::media {

// Held only by the elements a bin made (as an ElementArgs tracking object);
// when the last of them goes, it wakes the bin's destructor.
class BinElementTracker : NonCopyable {
 public:
  explicit BinElementTracker(Bin* bin) : bin_(bin) {}
  ~BinElementTracker() {
    MutexLock lock(bin_->mutex_);
    --bin_->live_trackers_;
    bin_->condition_.notifyAll();
  }

 private:
  Bin* const bin_;
};

Bin::Bin(std::shared_ptr<AbstractPipeline> const& pipeline, std::string const& name)
    : node_(pipeline->getRootNode()->getNode(name, true)), name_(name), pipeline_(pipeline) {
  std::shared_ptr<PropertyNode> status_node = node_->getNode("status", true);
  if (status_node->hasMeta("status_ptr")) status_ = getStatusFromProperty(status_node);
  if (!status_) status_ = createStatus(status_node);
  LOGF(5, "Bin property name: %s", node_->getFullName().c_str());
}

Bin::~Bin() {
  LOGF(5, "Bin destructing %s", node_->getFullName().c_str());
  {
    MutexLock lock(mutex_);
    while (live_trackers_ > 0) condition_.wait(lock);
  }
  if (std::shared_ptr<PropertyNode> parent = node_->getParent())
    parent->removeNode(node_->getName());
  destroyed_signal_.emit(this);
  LOGF(5, "Bin destructed %s", node_->getFullName().c_str());
  links_.reset();
  property_copiers_.clear();
  pipeline_.reset();
  status_.reset();
  node_.reset();
}

ElementArgs Bin::elementArgs(std::string const& name) {
  std::shared_ptr<BinElementTracker> tracker;
  {
    MutexLock lock(mutex_);
    tracker = element_tracker_.lock();
    if (!tracker) {
      tracker = std::make_shared<BinElementTracker>(this);
      element_tracker_ = tracker;
      ++live_trackers_;
    }
  }
  ElementArgs args(pipeline_->getScheduler(), getNode(name));
  args.tracking(tracker);
  return args;
}

std::shared_ptr<PropertyNode> Bin::getNode(std::string const& name) {
  return node_->getNode(name, true);
}

void Bin::addAlias(std::string const& name, std::shared_ptr<PropertyNode> const& target) {
  std::shared_ptr<PropertyNode> alias = getNode(name);
  LOGF(5, "Adding alias from %s to %s.", alias->getFullName().c_str(),
       target->getFullName().c_str());
  alias->link(target, false, true, true);
}

void Bin::addAlias(std::string const& name, std::string const& target_path) {
  addAlias(name, dravo::getPropertyNode(target_path));
}

// The three forms of each direction name the two properties differently;
// `addPropertyCopy` does the work.

void Bin::addPropertyCopyFromBin(std::string const& bin_property, std::string const& other_path) {
  addPropertyCopy(kFromBin, getNode(bin_property), dravo::getPropertyNode(other_path));
}

void Bin::addPropertyCopyFromBin(std::string const& bin_property,
                                 std::shared_ptr<PropertyNode> const& other) {
  addPropertyCopy(kFromBin, getNode(bin_property), other);
}

void Bin::addPropertyCopyFromBin(std::shared_ptr<PropertyNode> const& bin_node,
                                 std::shared_ptr<PropertyNode> const& other) {
  addPropertyCopy(kFromBin, bin_node, other);
}

void Bin::addPropertyCopyToBin(std::string const& bin_property, std::string const& other_path) {
  addPropertyCopy(kToBin, getNode(bin_property), dravo::getPropertyNode(other_path));
}

void Bin::addPropertyCopyToBin(std::string const& bin_property,
                               std::shared_ptr<PropertyNode> const& other) {
  addPropertyCopy(kToBin, getNode(bin_property), other);
}

void Bin::addPropertyCopyToBin(std::shared_ptr<PropertyNode> const& bin_node,
                               std::shared_ptr<PropertyNode> const& other) {
  addPropertyCopy(kToBin, bin_node, other);
}

void Bin::addPropertyCopy(CopyDirection direction, std::shared_ptr<PropertyNode> const& bin_node,
                          std::shared_ptr<PropertyNode> const& other) {
  if (direction == kFromBin)
    LOGF(5, "Adding property copy from %s to %s.", bin_node->getFullName().c_str(),
         other->getFullName().c_str());
  else
    LOGF(5, "Adding property copy to %s from %s.", bin_node->getFullName().c_str(),
         other->getFullName().c_str());
  auto const& from = direction == kFromBin ? bin_node : other;
  auto const& to = direction == kFromBin ? other : bin_node;
  property_copiers_.push_back(std::make_shared<UnidirectionalPropertyCopier>(from, to, true, true));
}

}  // namespace dravo::media
