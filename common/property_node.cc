#include "common/property_node.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <utility>

#include "common/check.h"
#include "common/mutex.h"
#include "common/never_destroyed.h"

DRAVO_LOGGER("property_node");

namespace dravo {
namespace {

// Takes the next non-empty component off the front of a slash-separated
// path; empty when none is left.
std::string_view takePathComponent(std::string_view& path) {
  while (!path.empty()) {
    size_t slash = path.find('/');
    std::string_view component = path.substr(0, slash);
    path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    if (!component.empty()) return component;
  }
  return {};
}

// Calls the listener only after the initial PROPERTY_CONNECTED notification;
// notifications that arrive earlier are queued and handed over by the
// connecting thread, so nothing is lost and nothing overtakes the first one.
struct ConnectGate {
  std::atomic<bool> open{false};
  Mutex mutex;
  std::vector<PropertyChangedArgs> pending DRAVO_GUARDED_BY(mutex);

  // True if `args` was queued.
  bool deferIfClosed(PropertyChangedArgs const& args) {
    if (open.load(std::memory_order_acquire)) return false;
    MutexLock lock(mutex);
    if (open.load(std::memory_order_relaxed)) return false;
    pending.push_back(args);
    return true;
  }
};

}  // namespace

// Leaked on purpose, so that static destructors may still use properties.
Mutex& PropertyNode::treeMutex() {
  static NeverDestroyed<Mutex> mutex;
  return mutex.get();
}

uint64_t PropertyNode::last_change_id_ = 0;

// The value shared by a group of linked nodes (a group of one when unlinked).
struct PropertyNode::ValueCell {
  PropertyValue value DRAVO_GUARDED_BY(treeMutex());
  PropertyValue default_value DRAVO_GUARDED_BY(treeMutex());
  uint64_t change_id DRAVO_GUARDED_BY(treeMutex()) = 0;
  // The linked nodes; empty while the cell belongs to a single node.
  std::vector<std::weak_ptr<PropertyNode>> members DRAVO_GUARDED_BY(treeMutex());
};

// Notifications gathered under the tree lock and delivered after it. Also
// keeps every node visited alive until then, so that no node dies (and runs
// its destructor) under the lock. Small changes need no allocation.
class PropertyNode::NotificationList : NonCopyable {
 public:
  struct Entry {
    std::shared_ptr<PropertyNode> listener;
    std::shared_ptr<PropertyNode> subject;
    PropertyChangeType type = PROPERTY_VALUE_CHANGED;
    bool notify = false;
  };

  bool contains(PropertyNode const* node, PropertyChangeType type) const {
    for (size_t i = 0; i < size_; ++i)
      if (at(i).listener.get() == node && at(i).notify && at(i).type == type) return true;
    return false;
  }
  void add(Entry entry) {
    if (size_ < inline_.size())
      inline_[size_] = std::move(entry);
    else
      overflow_.push_back(std::move(entry));
    ++size_;
  }
  void deliver() const {
    for (size_t i = 0; i < size_; ++i) {
      Entry const& entry = at(i);
      if (entry.notify)
        entry.listener->changed_.emit(PropertyChangedArgs{entry.subject, entry.type});
    }
  }

 private:
  Entry const& at(size_t i) const {
    return i < inline_.size() ? inline_[i] : overflow_[i - inline_.size()];
  }

  std::array<Entry, 8> inline_;
  std::vector<Entry> overflow_;
  size_t size_ = 0;
};

PropertyNode::PropertyNode(std::string name)
    : name_(std::move(name)), cell_(std::make_shared<ValueCell>()) {}

PropertyNode::~PropertyNode() = default;

std::shared_ptr<PropertyNode> PropertyNode::create(std::string name) {
  return std::shared_ptr<PropertyNode>(new PropertyNode(std::move(name)));
}

std::shared_ptr<PropertyNode> PropertyNode::findChildLocked(std::string_view name) const {
  auto it = children_.find(name);
  return it == children_.end() ? nullptr : it->second;
}

void PropertyNode::collectLocked(std::shared_ptr<PropertyNode> start,
                                 std::shared_ptr<PropertyNode> const& subject,
                                 PropertyChangeType type, NotificationList& out) {
  for (std::shared_ptr<PropertyNode> node = std::move(start); node;) {
    std::shared_ptr<PropertyNode> parent = node->parent_.lock();
    // A node reached through two linked subjects hears of the change once.
    bool notify = node->changed_.connection_count() != 0 && !out.contains(node.get(), type);
    out.add({std::move(node), notify ? subject : nullptr, type, notify});
    node = std::move(parent);
  }
}

std::vector<std::shared_ptr<PropertyNode>> PropertyNode::cellMembersLocked() {
  std::vector<std::shared_ptr<PropertyNode>> members;
  if (cell_->members.empty()) {
    members.push_back(shared_from_this());
    return members;
  }
  for (auto const& weak : cell_->members)
    if (auto member = weak.lock()) members.push_back(std::move(member));
  return members;
}

void PropertyNode::collectValueChangeLocked(NotificationList& out) {
  if (cell_->members.empty()) {
    std::shared_ptr<PropertyNode> self = shared_from_this();
    collectLocked(self, self, PROPERTY_VALUE_CHANGED, out);
    return;
  }
  for (auto const& member : cellMembersLocked())
    collectLocked(member, member, PROPERTY_VALUE_CHANGED, out);
}

std::shared_ptr<PropertyNode> PropertyNode::getNode(std::string_view path, bool create) {
  NotificationList notifications;
  std::shared_ptr<PropertyNode> node = shared_from_this();
  {
    MutexLock lock(treeMutex());
    std::string_view rest = path;
    for (std::string_view name = takePathComponent(rest); !name.empty();
         name = takePathComponent(rest)) {
      std::shared_ptr<PropertyNode> child = node->findChildLocked(name);
      if (!child) {
        if (!create) {
          node = nullptr;  // still owned by its parent: no destruction here
          break;
        }
        child = std::shared_ptr<PropertyNode>(new PropertyNode(std::string(name)));
        child->parent_ = node;
        node->children_.emplace(std::string(name), child);
        collectLocked(node, child, PROPERTY_CHILD_ADDED, notifications);
      }
      node = std::move(child);
    }
  }
  notifications.deliver();
  return node;
}

std::string PropertyNode::getFullName() const {
  std::vector<std::string const*> names;
  std::vector<std::shared_ptr<PropertyNode const>> chain;  // keeps ancestors alive
  MutexLock lock(treeMutex());
  for (PropertyNode const* node = this; node;) {
    if (!node->name_.empty()) names.push_back(&node->name_);
    chain.push_back(node->parent_.lock());
    node = chain.back().get();
  }
  std::string full_name;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (!full_name.empty()) full_name += '/';
    full_name += **it;
  }
  lock.unlock();
  return full_name;
}

std::shared_ptr<PropertyNode> PropertyNode::getParent() const {
  MutexLock lock(treeMutex());
  return parent_.lock();
}

std::vector<std::shared_ptr<PropertyNode>> PropertyNode::getChildren() const {
  std::vector<std::shared_ptr<PropertyNode>> children;
  MutexLock lock(treeMutex());
  children.reserve(children_.size());
  for (auto const& [name, child] : children_) children.push_back(child);
  return children;
}

std::vector<std::string> PropertyNode::getChildNames() const {
  std::vector<std::string> names;
  MutexLock lock(treeMutex());
  names.reserve(children_.size());
  for (auto const& [name, child] : children_) names.push_back(name);
  return names;
}

bool PropertyNode::removeNode(std::string_view path) {
  std::shared_ptr<PropertyNode> node = getNode(path, false);
  if (!node || node.get() == this) return false;
  NotificationList notifications;
  std::shared_ptr<PropertyNode> removed, parent;
  {
    MutexLock lock(treeMutex());
    parent = node->parent_.lock();
    if (!parent) return false;
    auto it = parent->children_.find(node->name_);
    if (it == parent->children_.end() || it->second != node) return false;
    removed = std::move(it->second);  // released after the lock
    parent->children_.erase(it);
    node->parent_.reset();
    collectLocked(parent, node, PROPERTY_CHILD_REMOVED, notifications);
  }
  LOGF(6, "Removed property node %s", node->getName().c_str());
  notifications.deliver();
  return true;
}

PropertyValue PropertyNode::getValue() const {
  MutexLock lock(treeMutex());
  return cell_->value;
}

PropertyValueAndChangeId PropertyNode::getValueAndChangeId() const {
  MutexLock lock(treeMutex());
  return {cell_->value, cell_->change_id};
}

bool PropertyNode::setValue(PropertyValue const& value) {
  NotificationList notifications;
  PropertyValue previous;  // destroyed after the lock: it may hold the last reference to an object
  {
    MutexLock lock(treeMutex());
    if (cell_->value == value) return false;
    previous = std::exchange(cell_->value, value);
    cell_->change_id = ++last_change_id_;
    collectValueChangeLocked(notifications);
  }
  notifications.deliver();
  return true;
}

void PropertyNode::setDefaultValue(PropertyValue const& value) {
  NotificationList notifications;
  PropertyValue previous_default;
  {
    MutexLock lock(treeMutex());
    previous_default = std::exchange(cell_->default_value, value);
    if (cell_->value.empty() && !value.empty()) {
      cell_->value = value;
      cell_->change_id = ++last_change_id_;
      collectValueChangeLocked(notifications);
    }
  }
  notifications.deliver();
}

PropertyValue PropertyNode::getDefaultValue() const {
  MutexLock lock(treeMutex());
  return cell_->default_value;
}

PropertyValue PropertyNode::getMeta(std::string const& key) const {
  MutexLock lock(treeMutex());
  auto it = meta_.find(key);
  return it == meta_.end() ? PropertyValue() : it->second;
}

bool PropertyNode::hasMeta(std::string const& key) const {
  MutexLock lock(treeMutex());
  return meta_.count(key) != 0;
}

void PropertyNode::setMeta(std::string const& key, PropertyValue const& value) {
  NotificationList notifications;
  PropertyValue previous;
  {
    MutexLock lock(treeMutex());
    auto [it, inserted] = meta_.try_emplace(key, value);
    if (!inserted) {
      if (it->second == value) return;
      previous = std::exchange(it->second, value);
    }
    collectLocked(shared_from_this(), shared_from_this(), PROPERTY_META_CHANGED, notifications);
  }
  notifications.deliver();
}

bool PropertyNode::removeMeta(std::string const& key) {
  NotificationList notifications;
  PropertyValue previous;
  {
    MutexLock lock(treeMutex());
    auto it = meta_.find(key);
    if (it == meta_.end()) return false;
    previous = std::move(it->second);
    meta_.erase(it);
    collectLocked(shared_from_this(), shared_from_this(), PROPERTY_META_CHANGED, notifications);
  }
  notifications.deliver();
  return true;
}

void PropertyNode::setAllMeta(PropertyMetaMap meta) {
  NotificationList notifications;
  {
    MutexLock lock(treeMutex());
    if (meta_ == meta) return;
    meta_.swap(meta);  // the old entries die with `meta`, after the lock
    collectLocked(shared_from_this(), shared_from_this(), PROPERTY_META_CHANGED, notifications);
  }
  notifications.deliver();
}

PropertyMetaMap PropertyNode::getAllMeta() const {
  MutexLock lock(treeMutex());
  return meta_;
}

void PropertyNode::link(std::shared_ptr<PropertyNode> const& target, bool keep_own_value,
                        bool copy_meta, bool notify) {
  DRAVO_ASSERT(target);
  if (!target || target.get() == this) return;
  NotificationList notifications;
  std::shared_ptr<ValueCell> old_cell;
  PropertyValue dropped_value, dropped_default;
  PropertyMetaMap old_meta;
  std::vector<std::shared_ptr<PropertyNode>> moving, staying;
  {
    MutexLock lock(treeMutex());
    std::shared_ptr<ValueCell> shared_cell = target->cell_;
    if (cell_ != shared_cell) {
      moving = cellMembersLocked();
      staying = target->cellMembersLocked();
      bool value_differs = !(cell_->value == shared_cell->value);
      if (keep_own_value) {
        dropped_value = std::exchange(shared_cell->value, cell_->value);
        dropped_default = std::exchange(shared_cell->default_value, cell_->default_value);
      }
      // Ids only grow, also for the nodes that now read another cell's id.
      shared_cell->change_id = ++last_change_id_;
      old_cell = cell_;
      shared_cell->members.clear();
      for (auto const& node : staying) shared_cell->members.push_back(node);
      for (auto const& node : moving) {
        shared_cell->members.push_back(node);
        node->cell_ = shared_cell;
      }
      if (notify && value_differs) {
        for (auto const& node : keep_own_value ? staying : moving)
          collectLocked(node, node, PROPERTY_VALUE_CHANGED, notifications);
      }
    }
    if (copy_meta) {
      old_meta = meta_;
      for (auto const& [key, value] : target->meta_) meta_[key] = value;
      if (notify && old_meta != meta_)
        collectLocked(shared_from_this(), shared_from_this(), PROPERTY_META_CHANGED, notifications);
    }
  }
  LOGF(6, "Linked property %s to %s", getFullName().c_str(), target->getFullName().c_str());
  notifications.deliver();
}

void PropertyNode::unlink() {
  std::shared_ptr<ValueCell> old_cell;
  MutexLock lock(treeMutex());
  if (cell_->members.empty()) return;
  old_cell = cell_;
  auto own_cell = std::make_shared<ValueCell>();
  own_cell->value = old_cell->value;
  own_cell->default_value = old_cell->default_value;
  own_cell->change_id = old_cell->change_id;
  auto& members = old_cell->members;
  std::erase_if(members, [this](std::weak_ptr<PropertyNode> const& weak) {
    auto member = weak.lock();
    return !member || member.get() == this;
  });
  if (members.size() == 1) members.clear();  // the last one is on its own again
  cell_ = std::move(own_cell);
  lock.unlock();
}

bool PropertyNode::isLinked() const {
  MutexLock lock(treeMutex());
  return !cell_->members.empty();
}

void PropertyNode::connectChanged(sigslot::has_slots_base* owner, Listener listener) {
  auto shared_listener = std::make_shared<Listener const>(std::move(listener));
  auto gate = std::make_shared<ConnectGate>();
  changed_.connect(owner, [gate, shared_listener](PropertyChangedArgs const& args) {
    if (!gate->deferIfClosed(args)) (*shared_listener)(args);
  });
  (*shared_listener)(PropertyChangedArgs{shared_from_this(), PROPERTY_CONNECTED});
  for (;;) {
    std::vector<PropertyChangedArgs> batch;
    {
      MutexLock lock(gate->mutex);
      if (gate->pending.empty()) {
        gate->open.store(true, std::memory_order_release);
        return;
      }
      batch.swap(gate->pending);
    }
    for (auto const& args : batch) (*shared_listener)(args);
  }
}

void PropertyNode::disconnectChanged(sigslot::has_slots_base const* owner) {
  changed_.disconnect(owner);
}

std::shared_ptr<PropertyNode> getRootPropertyNode() {
  static NeverDestroyed<std::shared_ptr<PropertyNode>> root(PropertyNode::create());
  return root.get();
}

std::shared_ptr<PropertyNode> getPropertyNode(std::string_view path) {
  return getRootPropertyNode()->getNode(path, true);
}

}  // namespace dravo
