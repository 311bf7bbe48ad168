#include "common/property_node.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace dravo {
namespace {

// Records every notification it gets; optionally runs a hook inside it.
class Recorder : public sigslot::has_slots<sigslot::multi_threaded_local> {
 public:
  struct Entry {
    std::shared_ptr<PropertyNode> node;
    PropertyChangeType type;
    std::thread::id thread;
  };

  ~Recorder() override { disconnect_all(); }

  void onChange(PropertyChangedArgs const& args) {
    {
      std::lock_guard lock(mutex_);
      entries_.push_back({args.node, args.type, std::this_thread::get_id()});
    }
    if (hook) hook(args);
  }
  std::vector<Entry> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  std::vector<PropertyChangeType> types() const {
    std::vector<PropertyChangeType> result;
    for (auto const& entry : entries()) result.push_back(entry.type);
    return result;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
  }

  std::function<void(PropertyChangedArgs const&)> hook;

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

class PropertyNodeTest : public ::testing::Test {
 protected:
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create();
};

TEST_F(PropertyNodeTest, PathsIgnoreEmptyComponents) {
  auto node = root_->getNode("a/b/c", true);
  ASSERT_TRUE(node);
  EXPECT_EQ(root_->getNode("/a//b/c/", false), node);
  EXPECT_EQ(root_->getNode("a", false)->getNode("b/c"), node);
  EXPECT_EQ(root_->getNode("", false), root_);
  EXPECT_EQ(root_->getNode("/", false), root_);
  EXPECT_EQ(node->getName(), "c");
  EXPECT_EQ(node->getFullName(), "a/b/c");
  EXPECT_EQ(root_->getFullName(), "");
}

TEST_F(PropertyNodeTest, MissingNodesAreCreatedOnlyOnRequest) {
  root_->getNode("a", true);
  EXPECT_EQ(root_->getNode("a/x/y", false), nullptr);
  EXPECT_EQ(root_->getNode("a", false)->getNode("x"), nullptr);  // not half-created
  EXPECT_EQ(root_->getChildNames(), (std::vector<std::string>{"a"}));
}

TEST_F(PropertyNodeTest, NamedRootPrefixesFullNames) {
  auto cam = PropertyNode::create("cam");
  EXPECT_EQ(cam->getNode("pads/out", true)->getFullName(), "cam/pads/out");
}

TEST_F(PropertyNodeTest, ParentAndChildrenInNameOrder) {
  auto b = root_->getNode("p/b", true);
  auto a = root_->getNode("p/a", true);
  auto p = root_->getNode("p");
  EXPECT_EQ(a->getParent(), p);
  EXPECT_EQ(p->getParent(), root_);
  EXPECT_EQ(root_->getParent(), nullptr);
  EXPECT_EQ(p->getChildren(), (std::vector<std::shared_ptr<PropertyNode>>{a, b}));
}

TEST_F(PropertyNodeTest, RemovedNodeIsDetachedButKeepsItsSubtree) {
  auto leaf = root_->getNode("el/status/code", true);
  auto el = root_->getNode("el");
  EXPECT_TRUE(root_->removeNode("el"));
  EXPECT_EQ(root_->getNode("el"), nullptr);
  EXPECT_EQ(el->getParent(), nullptr);
  EXPECT_EQ(el->getNode("status/code"), leaf);
  EXPECT_EQ(leaf->getFullName(), "el/status/code");
  EXPECT_FALSE(root_->removeNode("el"));
  EXPECT_FALSE(root_->removeNode(""));  // a node cannot remove itself

  root_->getNode("x/y", true);
  EXPECT_TRUE(root_->removeNode("x/y"));
  EXPECT_EQ(root_->getNode("x/y"), nullptr);
  EXPECT_NE(root_->getNode("x"), nullptr);
}

TEST_F(PropertyNodeTest, ValueChangeIdGrowsOnlyOnChange) {
  auto node = root_->getNode("v", true);
  EXPECT_TRUE(node->getValue().empty());
  EXPECT_EQ(node->getValueAndChangeId().change_id, 0u);
  EXPECT_TRUE(node->setValue(5));
  uint64_t first = node->getValueAndChangeId().change_id;
  EXPECT_FALSE(node->setValue(5));
  EXPECT_EQ(node->getValueAndChangeId().change_id, first);
  EXPECT_TRUE(node->setValue(5u));  // another type is another value
  auto [value, id] = node->getValueAndChangeId();
  EXPECT_EQ(value, PropertyValue(5u));
  EXPECT_GT(id, first);
}

TEST_F(PropertyNodeTest, DefaultValueFillsOnlyAnEmptyNode) {
  auto fresh = root_->getNode("fresh", true);
  fresh->setDefaultValue(3);
  EXPECT_EQ(fresh->getValue(), PropertyValue(3));
  auto set = root_->getNode("set", true);
  set->setValue("given");
  set->setDefaultValue("default");
  EXPECT_EQ(set->getValue(), PropertyValue("given"));
  EXPECT_EQ(set->getDefaultValue(), PropertyValue("default"));
}

TEST_F(PropertyNodeTest, MetaEntries) {
  auto node = root_->getNode("m", true);
  EXPECT_FALSE(node->hasMeta("help"));
  EXPECT_TRUE(node->getMeta("help").empty());
  node->setMeta("help", "Text.");
  node->setMeta("read_only", true);
  EXPECT_TRUE(node->hasMeta("read_only"));
  EXPECT_EQ(node->getMeta("help"), PropertyValue("Text."));
  node->setAllMeta({{"ui_type", PropertyValue("enum")}});
  EXPECT_FALSE(node->hasMeta("help"));
  EXPECT_EQ(node->getAllMeta().size(), 1u);
  EXPECT_TRUE(node->removeMeta("ui_type"));
  EXPECT_FALSE(node->removeMeta("ui_type"));
}

TEST_F(PropertyNodeTest, ConnectDeliversOneConnectedNotificationFirst) {
  Recorder recorder;
  auto node = root_->getNode("n", true);
  node->connectChanged(&recorder, &Recorder::onChange);
  auto entries = recorder.entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].type, PROPERTY_CONNECTED);
  EXPECT_EQ(static_cast<int>(entries[0].type), 4);
  EXPECT_EQ(entries[0].node, node);
  EXPECT_EQ(entries[0].thread, std::this_thread::get_id());
}

TEST_F(PropertyNodeTest, ChangeDuringConnectedNotificationArrivesAfterIt) {
  Recorder recorder;
  auto node = root_->getNode("n", true);
  recorder.hook = [&](PropertyChangedArgs const& args) {
    if (args.type != PROPERTY_CONNECTED) return;
    std::thread([&] { node->setValue(1); }).join();  // already connected, not yet open
    EXPECT_EQ(recorder.types().size(), 1u);
  };
  node->connectChanged(&recorder, &Recorder::onChange);
  EXPECT_EQ(recorder.types(),
            (std::vector<PropertyChangeType>{PROPERTY_CONNECTED, PROPERTY_VALUE_CHANGED}));
}

TEST_F(PropertyNodeTest, EachChangeNotifiesNodeAndAncestorsOnce) {
  auto element = root_->getNode("el", true);
  auto fps = element->getNode("fps", true);
  Recorder on_root, on_element, on_fps;
  root_->connectChanged(&on_root, &Recorder::onChange);
  element->connectChanged(&on_element, &Recorder::onChange);
  fps->connectChanged(&on_fps, &Recorder::onChange);
  on_root.clear();
  on_element.clear();
  on_fps.clear();

  fps->setValue(30.0f);
  fps->setValue(30.0f);  // no change
  for (Recorder* recorder : {&on_root, &on_element, &on_fps}) {
    auto entries = recorder->entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, PROPERTY_VALUE_CHANGED);
    EXPECT_EQ(entries[0].node, fps);
  }

  on_element.clear();
  fps->setMeta("help", "Frames.");
  auto added = element->getNode("width", true);
  element->removeNode("width");
  auto entries = on_element.entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].type, PROPERTY_META_CHANGED);
  EXPECT_EQ(entries[1].type, PROPERTY_CHILD_ADDED);
  EXPECT_EQ(entries[1].node, added);
  EXPECT_EQ(entries[2].type, PROPERTY_CHILD_REMOVED);
  EXPECT_EQ(entries[2].node, added);
  EXPECT_EQ(on_fps.entries().size(), 2u);  // value and meta; siblings are not its business
}

TEST_F(PropertyNodeTest, NotificationRunsOnTheSettersThread) {
  auto node = root_->getNode("n", true);
  Recorder recorder;
  node->connectChanged(&recorder, &Recorder::onChange);
  std::thread::id setter;
  std::thread thread([&] {
    setter = std::this_thread::get_id();
    node->setValue("from thread");
  });
  thread.join();
  auto entries = recorder.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].thread, setter);
}

TEST_F(PropertyNodeTest, ListenerMayRemoveItselfAndWritePropertiesInside) {
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

  a->setValue(21);
  a->setValue(22);
  EXPECT_EQ(self_removing.entries().size(), 2u);  // connected + first change only
  EXPECT_FALSE(self_removing.has_connections());
  EXPECT_EQ(b->getValue(), PropertyValue(44));
  EXPECT_EQ(on_b.types(),
            (std::vector<PropertyChangeType>{PROPERTY_CONNECTED, PROPERTY_VALUE_CHANGED,
                                             PROPERTY_CHILD_ADDED, PROPERTY_VALUE_CHANGED}));
}

TEST_F(PropertyNodeTest, DestroyedListenerIsDisconnected) {
  auto node = root_->getNode("n", true);
  {
    Recorder recorder;
    node->connectChanged(&recorder, &Recorder::onChange);
  }
  node->setValue(1);  // must not reach the destroyed recorder
  Recorder later;
  node->connectChanged(&later, &Recorder::onChange);
  node->disconnectChanged(&later);
  node->setValue(2);
  EXPECT_EQ(later.entries().size(), 1u);
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
  on_bin.clear();
  on_alias.clear();
  on_target.clear();

  alias->link(target, false, true, true);
  EXPECT_TRUE(alias->isLinked());
  EXPECT_EQ(alias->getValue(), PropertyValue(25));
  EXPECT_EQ(alias->getMeta("help"), PropertyValue("Frame rate."));
  EXPECT_EQ(on_alias.types(),
            (std::vector<PropertyChangeType>{PROPERTY_VALUE_CHANGED, PROPERTY_META_CHANGED}));
  EXPECT_TRUE(on_target.entries().empty());  // its value did not change
  on_alias.clear();
  on_bin.clear();

  alias->setValue(30);
  EXPECT_EQ(target->getValue(), PropertyValue(30));
  target->setValue(15);
  EXPECT_EQ(alias->getValue(), PropertyValue(15));
  EXPECT_EQ(on_alias.types().size(), 2u);
  EXPECT_EQ(on_target.types().size(), 2u);
  EXPECT_EQ(on_bin.types().size(), 2u);  // common ancestor: once per change
  EXPECT_EQ(alias->getValueAndChangeId().change_id, target->getValueAndChangeId().change_id);

  alias->unlink();
  EXPECT_FALSE(alias->isLinked());
  EXPECT_FALSE(target->isLinked());
  alias->setValue(1);
  EXPECT_EQ(target->getValue(), PropertyValue(15));
  EXPECT_EQ(alias->getValue(), PropertyValue(1));
}

TEST_F(PropertyNodeTest, LinkCanKeepOwnValueAndStaySilent) {
  auto a = root_->getNode("a", true);
  auto b = root_->getNode("b", true);
  auto c = root_->getNode("c", true);
  a->setValue("mine");
  b->setValue("theirs");
  c->setValue("third");
  Recorder on_b;
  b->connectChanged(&on_b, &Recorder::onChange);
  uint64_t before = b->getValueAndChangeId().change_id;

  a->link(b, true, false, false);
  EXPECT_EQ(b->getValue(), PropertyValue("mine"));
  EXPECT_EQ(on_b.entries().size(), 1u);  // only the connected notification
  EXPECT_GT(b->getValueAndChangeId().change_id, before);
  EXPECT_FALSE(a->hasMeta("help"));

  c->link(a, false, false, true);  // joins the group through a member
  EXPECT_EQ(c->getValue(), PropertyValue("mine"));
  c->setValue("all");
  EXPECT_EQ(a->getValue(), PropertyValue("all"));
  EXPECT_EQ(b->getValue(), PropertyValue("all"));
}

TEST_F(PropertyNodeTest, ConcurrentSettersAndListenersStayConsistent) {
  auto node = root_->getNode("busy/value", true);
  std::atomic<int> notified{0};
  Recorder counter;
  counter.hook = [&](PropertyChangedArgs const&) { notified.fetch_add(1); };
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
  EXPECT_EQ(notified.load(), 1 + 3 * (300 + 1 + 300));
}

TEST(GlobalPropertyTreeTest, PathLookupUsesTheProcessWideRoot) {
  auto node = getPropertyNode("/tests/global//node");
  EXPECT_EQ(getRootPropertyNode()->getNode("tests/global/node"), node);
  EXPECT_EQ(node->getFullName(), "tests/global/node");
  getRootPropertyNode()->removeNode("tests/global");
}

}  // namespace
}  // namespace dravo
