#include "common/property_node.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace dravo {
namespace {

using Types = std::vector<PropertyChangeType>;

// Records the notification types it gets; optionally runs a hook
// inside each. Notifications may come from any setter's thread; read
// `types` once the setters are done.
struct Recorder : sigslot::has_slots<sigslot::multi_threaded_local> {
  ~Recorder() override { disconnect_all(); }
  void onChange(PropertyChangedArgs const& args) {
    std::unique_lock lock(mutex);
    types.push_back(args.type);
    lock.unlock();
    if (hook) hook(args);
  }

  std::function<void(PropertyChangedArgs const&)> hook;
  Types types;
  std::mutex mutex;
};

class PropertyNodeTest : public ::testing::Test {
 protected:
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create();
};

TEST_F(PropertyNodeTest, PathsRemovalAndValueChanges) {
  auto leaf = root_->getNode("el/b/c", true);
  EXPECT_EQ(root_->getNode("/el//b/c/", false), leaf);
  EXPECT_EQ(root_->getNode("el/x"), nullptr) << "a failed lookup creates nothing";
  auto el = root_->getNode("el");
  EXPECT_TRUE(root_->removeNode("el"));
  EXPECT_FALSE(root_->removeNode("")) << "a node cannot remove itself";
  EXPECT_TRUE(el->getParent() == nullptr && el->getNode("b/c") == leaf)
      << "a removed node keeps its subtree";
  EXPECT_EQ(leaf->getFullName(), "el/b/c");

  EXPECT_TRUE(leaf->setValue(5));
  EXPECT_FALSE(leaf->setValue(5));
  EXPECT_TRUE(leaf->setValue(5u)) << "another type is another value";
  leaf->setDefaultValue(3);
  EXPECT_EQ(leaf->getValue(), PropertyValue(5u)) << "a default fills only an empty node";
}

TEST_F(PropertyNodeTest, ConnectedNotificationComesFirstAndChangesOnTheSettersThread) {
  Recorder recorder;
  auto node = root_->getNode("n", true);
  std::thread::id notified_on;
  recorder.hook = [&](PropertyChangedArgs const& args) {
    if (args.type == PROPERTY_VALUE_CHANGED) notified_on = std::this_thread::get_id();
    if (args.type != PROPERTY_CONNECTED) return;
    // Already connected, not yet open: this change must arrive after.
    std::thread([&] { node->setValue(1); }).join();
    EXPECT_EQ(recorder.types.size(), 1u);
  };
  node->connectChanged(&recorder, &Recorder::onChange);
  std::thread::id setter;
  std::thread([&] {
    setter = std::this_thread::get_id();
    node->setValue(2);
  }).join();
  EXPECT_EQ(recorder.types,
            (Types{PROPERTY_CONNECTED, PROPERTY_VALUE_CHANGED, PROPERTY_VALUE_CHANGED}));
  EXPECT_EQ(notified_on, setter);
}

TEST_F(PropertyNodeTest, ListenersMayDisconnectAndWriteInsideAndDieConnected) {
  auto a = root_->getNode("a", true);
  auto b = root_->getNode("b", true);
  Recorder self_removing, writer, on_b;
  self_removing.hook = [&](PropertyChangedArgs const& args) {
    if (args.type == PROPERTY_VALUE_CHANGED) a->disconnectChanged(&self_removing);
  };
  writer.hook = [&](PropertyChangedArgs const& args) {
    if (args.type == PROPERTY_VALUE_CHANGED) {
      b->setValue(a->getValue().getInt() * 2);  // no tree lock is held here
      b->getNode("child", true);
    }
  };
  a->connectChanged(&self_removing, &Recorder::onChange);
  a->connectChanged(&writer, &Recorder::onChange);
  b->connectChanged(&on_b, &Recorder::onChange);
  {
    Recorder destroyed;
    a->connectChanged(&destroyed, &Recorder::onChange);
  }
  a->setValue(21);
  a->setValue(22);
  b->removeNode("child");
  EXPECT_EQ(self_removing.types.size(), 2u);  // connected + first change only
  EXPECT_EQ(b->getValue(), PropertyValue(44));
  EXPECT_EQ(on_b.types, (Types{PROPERTY_CONNECTED, PROPERTY_VALUE_CHANGED, PROPERTY_CHILD_ADDED,
                               PROPERTY_VALUE_CHANGED, PROPERTY_CHILD_REMOVED}));
}

TEST_F(PropertyNodeTest, LinkedNodesShareOneValueAndNotifyBothSides) {
  auto alias = root_->getNode("bin/fps", true);
  auto target = root_->getNode("bin/source/fps", true);
  target->setValue(25);
  target->setMeta("help", "Frame rate.");
  Recorder on_alias, on_target, on_bin;
  alias->connectChanged(&on_alias, &Recorder::onChange);
  target->connectChanged(&on_target, &Recorder::onChange);
  root_->getNode("bin")->connectChanged(&on_bin, &Recorder::onChange);

  alias->link(target, false, true, true);
  EXPECT_EQ(on_alias.types,
            (Types{PROPERTY_CONNECTED, PROPERTY_VALUE_CHANGED, PROPERTY_META_CHANGED}));
  EXPECT_EQ(on_target.types.size(), 1u) << "its value did not change";
  on_bin.types.clear();
  target->setValue(15);
  EXPECT_EQ(on_alias.types.size(), 4u);
  EXPECT_EQ(on_bin.types.size(), 1u) << "common ancestor: once per change";
  alias->unlink();
  alias->setValue(1);
  EXPECT_EQ(target->getValue(), PropertyValue(15));

  // Keeping the own value, silently; a third node joins through a member.
  auto third = root_->getNode("third", true);
  third->setValue("mine");
  size_t const target_seen = on_target.types.size();
  third->link(target, true, false, false);
  EXPECT_EQ(target->getValue(), PropertyValue("mine"));
  EXPECT_EQ(on_target.types.size(), target_seen);
  alias->link(third, false, false, true);
  alias->setValue("all");
  EXPECT_EQ(target->getValue(), PropertyValue("all"));
}

TEST_F(PropertyNodeTest, ConcurrentSettersAndListenersStayConsistent) {
  auto node = root_->getNode("busy/value", true);
  Recorder counter;
  root_->connectChanged(&counter, &Recorder::onChange);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        node->setValue(t * 1000 + i);
        root_->getNode("busy/t" + std::to_string(t), true)->setValue(i);
        node->getFullName();
      }
    });
  for (auto& thread : threads) thread.join();
  // Every set changed a value (no two threads write the same number).
  EXPECT_EQ(counter.types.size(), 1u + 3 * (300 + 1 + 300));
}

}  // namespace
}  // namespace dravo
