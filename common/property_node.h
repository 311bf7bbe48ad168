#pragma once
// The property tree: named nodes holding a value, meta entries and children.
//
// Paths are slash-separated names relative to the node they are given to.
// Empty components are ignored, so "a/b", "/a/b", "a//b" and "a/b/" name the
// same node, and "" (or "/") names the node itself. `getFullName()` is the
// path from the top of the tree, without a leading slash ("media/video/fps");
// the unnamed root of a tree contributes nothing, a named one its name.
//
// Ownership: nodes are held by `std::shared_ptr`; a parent owns its children,
// a child refers to its parent weakly. The process-wide tree hangs from
// `getRootPropertyNode()`; `PropertyNode::create()` makes a detached tree.
//
// Change notification: `connectChanged` first delivers one notification of
// type PROPERTY_CONNECTED (4) on the connecting thread, before any other
// notification reaches that listener; after that, every change of the node
// or of any node below it is delivered once, synchronously, on the thread
// that made the change, with no tree lock held (listeners may read and write
// properties, connect and disconnect, also themselves). Setting a value equal
// to the current one is no change.
//
// Links: `link` makes nodes aliases of one value: a set on any of them
// changes the value of all and notifies the listeners of each (and of their
// ancestors, each node at most once per change). Meta entries, children and
// listeners stay per node.
//
// Threads: every operation may be called on any thread. One lock guards the
// bookkeeping of all trees; it is never held while a listener runs or while a
// value or node is destroyed.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/mutex.h"
#include "common/non_copyable.h"
#include "common/property_value.h"
#include "common/sigslot.h"

namespace dravo {

class PropertyNode;

enum PropertyChangeType {
  PROPERTY_VALUE_CHANGED = 0,  // `node`'s value changed
  PROPERTY_CHILD_ADDED = 1,    // `node` was added to its parent
  PROPERTY_CHILD_REMOVED = 2,  // `node` was removed from its (former) parent
  PROPERTY_META_CHANGED = 3,   // a meta entry of `node` changed
  PROPERTY_CONNECTED = 4,      // the initial notification of `connectChanged`
};

struct PropertyChangedArgs {
  // The node that changed: the listened node itself or a node below it. For
  // PROPERTY_CONNECTED, the listened node.
  std::shared_ptr<PropertyNode> node;
  PropertyChangeType type;
};

struct PropertyValueAndChangeId {
  PropertyValue value;
  // Increases with every change of the value (unique across all nodes); 0
  // for a node whose value was never set.
  uint64_t change_id;
};

using PropertyMetaMap = std::map<std::string, PropertyValue>;

class PropertyNode : public std::enable_shared_from_this<PropertyNode>, NonCopyable {
 public:
  using Listener = std::function<void(PropertyChangedArgs const&)>;

  // A new detached root.
  static std::shared_ptr<PropertyNode> create(std::string name = std::string());
  ~PropertyNode();

  // The node at `path`; missing nodes are created when `create` is true,
  // else the result is null.
  std::shared_ptr<PropertyNode> getNode(std::string_view path, bool create = false);
  std::string const& getName() const { return name_; }
  std::string getFullName() const;
  // Null for a root and for a removed node.
  std::shared_ptr<PropertyNode> getParent() const;
  // Children in name order.
  std::vector<std::shared_ptr<PropertyNode>> getChildren() const;
  std::vector<std::string> getChildNames() const;
  // Detaches the node at `path` (usually a child's name) from its parent;
  // its subtree stays intact for whoever still holds it. False if missing.
  bool removeNode(std::string_view path);

  PropertyValue getValue() const;
  PropertyValueAndChangeId getValueAndChangeId() const;
  // Returns whether the value changed.
  bool setValue(PropertyValue const& value);
  // Remembers `value` as the default and sets it if the node has no value.
  void setDefaultValue(PropertyValue const& value);
  PropertyValue getDefaultValue() const;

  // Meta entries describe a property: "help", "read_only", "ui_type", "ui",
  // "status_ptr". A missing entry reads as empty.
  PropertyValue getMeta(std::string const& key) const;
  bool hasMeta(std::string const& key) const;
  void setMeta(std::string const& key, PropertyValue const& value);
  bool removeMeta(std::string const& key);
  // Replaces all meta entries.
  void setAllMeta(PropertyMetaMap meta);
  PropertyMetaMap getAllMeta() const;

  // Makes this node (and every node already linked to it) an alias of
  // `target`'s value.
  // - keep_own_value: false: the linked nodes take `target`'s value (and
  //   default); true: `target` and its aliases take this node's.
  // - copy_meta: this node gets copies of `target`'s meta entries (help, ui,
  //   read_only, ...); later meta changes are not shared.
  // - notify: listeners of nodes whose value changed by the link (and of
  //   this node, for copied meta) are notified now; otherwise silently.
  void link(std::shared_ptr<PropertyNode> const& target, bool keep_own_value, bool copy_meta,
            bool notify);
  // Leaves the link group, keeping the current value.
  void unlink();
  bool isLinked() const;

  // Connects a listener owned by `owner` (see the file comment). The
  // connection lasts until `disconnectChanged(owner)`, `owner`'s
  // disconnect_all() or the end of either side.
  void connectChanged(sigslot::has_slots_base* owner, Listener listener);
  template <typename Target, typename Method>
  requires std::is_member_function_pointer_v<Method>
  void connectChanged(Target* target, Method method) {
    connectChanged(
        static_cast<sigslot::has_slots_base*>(target),
        [target, method](PropertyChangedArgs const& args) { std::invoke(method, target, args); });
  }
  void disconnectChanged(sigslot::has_slots_base const* owner);

 private:
  struct ValueCell;
  class NotificationList;

  explicit PropertyNode(std::string name);

  // One lock for the bookkeeping of all trees: links may join nodes of
  // different trees, and no operation holds it for more than a few map
  // operations. Listeners are called after it is released.
  static Mutex& treeMutex();
  // The last change id given out, in any tree.
  static uint64_t last_change_id_ DRAVO_GUARDED_BY(treeMutex());

  std::shared_ptr<PropertyNode> findChildLocked(std::string_view name) const
      DRAVO_REQUIRES(treeMutex());
  // Queues a notification about `subject` for `start` and its ancestors.
  static void collectLocked(std::shared_ptr<PropertyNode> start,
                            std::shared_ptr<PropertyNode> const& subject, PropertyChangeType type,
                            NotificationList& out) DRAVO_REQUIRES(treeMutex());
  // Queues a value change of this node's cell: every linked node is a subject.
  void collectValueChangeLocked(NotificationList& out) DRAVO_REQUIRES(treeMutex());
  std::vector<std::shared_ptr<PropertyNode>> cellMembersLocked() DRAVO_REQUIRES(treeMutex());

  std::string const name_;
  std::weak_ptr<PropertyNode> parent_ DRAVO_GUARDED_BY(treeMutex());
  std::map<std::string, std::shared_ptr<PropertyNode>, std::less<>> children_
      DRAVO_GUARDED_BY(treeMutex());
  std::shared_ptr<ValueCell> cell_ DRAVO_GUARDED_BY(treeMutex());
  PropertyMetaMap meta_ DRAVO_GUARDED_BY(treeMutex());

  sigslot::signal1<PropertyChangedArgs const&> changed_;
};

// The root of the process-wide tree; lives until the process ends.
std::shared_ptr<PropertyNode> getRootPropertyNode();
// The node at `path` in the process-wide tree, created if missing.
std::shared_ptr<PropertyNode> getPropertyNode(std::string_view path);

}  // namespace dravo
