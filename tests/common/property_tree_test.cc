// The property tree: nodes, notifications and links; values, cached
// wrappers and status.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <mutex>
#include <thread>

#include "common/cached_property.h"
#include "common/property_enum.h"
#include "common/property_node.h"
#include "common/property_value.h"
#include "common/status.h"
#include "tests/support/capture.h"

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

  EXPECT_TRUE(leaf->setValue(5) && !leaf->setValue(5) && leaf->setValue(5u))
      << "a change only, and another type is another value";
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
  auto alias = root_->getNode("bin/fps", true), target = root_->getNode("bin/source/fps", true);
  target->setValue(25);
  target->setMeta("help", "Frame rate.");
  Recorder on_alias, on_bin;
  alias->connectChanged(&on_alias, &Recorder::onChange);
  root_->getNode("bin")->connectChanged(&on_bin, &Recorder::onChange);
  alias->link(target, false, true, true);
  EXPECT_EQ(on_alias.types,
            (Types{PROPERTY_CONNECTED, PROPERTY_VALUE_CHANGED, PROPERTY_META_CHANGED}));
  on_bin.types.clear();
  target->setValue(15);
  EXPECT_EQ(on_alias.types.size(), 4u);
  EXPECT_EQ(on_bin.types.size(), 1u) << "common ancestor: once per change";
  // Keeping its own value, silently, a node joins the group through a member.
  auto third = root_->getNode("third", true);
  third->setValue("mine");
  third->link(alias, true, false, false);
  EXPECT_EQ(target->getValue(), PropertyValue("mine"));
  EXPECT_EQ(on_alias.types.size(), 4u);
  alias->unlink();
  alias->setValue(1);
  EXPECT_EQ(target->getValue(), PropertyValue("mine"));
}

TEST(PropertyValueTest, EqualityIsTypedSameValueIsNumericAndConversionsSaturate) {
  EXPECT_FALSE(PropertyValue(1) == PropertyValue(1u));
  EXPECT_TRUE(PropertyValue(2).sameValue(PropertyValue(2.0)));
  EXPECT_FALSE(PropertyValue(-1).sameValue(PropertyValue(std::numeric_limits<uint64_t>::max())) ||
               PropertyValue(1).sameValue(PropertyValue("1")));
  EXPECT_EQ(PropertyValue(1e12).getInt(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(PropertyValue(2.6f).getInt(), 3);
  EXPECT_EQ(PropertyValue("42x").convert<int32_t>(), std::nullopt);
  EXPECT_EQ(PropertyValue("TRUE").convert<bool>(), true);
  auto thing = std::make_shared<std::string>();
  PropertyValue weak{std::weak_ptr<std::string>(thing)};
  EXPECT_TRUE(weak.getObject<std::string>() == thing && !weak.getObject<int>());
  thing.reset();
  EXPECT_EQ(weak.getObject<std::string>(), nullptr);
}

TEST(StatusTest, ListenersWokenByTheCodeSeeTheMatchingMessage) {
  auto node = PropertyNode::create("el")->getNode("status", true);
  auto status = createStatus(node);
  Recorder watcher;
  std::vector<std::string> seen;
  watcher.hook = [&](PropertyChangedArgs const& args) {
    if (args.node->getName() == "code") seen.push_back(status->getStatusMessage());
  };
  node->connectChanged(&watcher, &Recorder::onChange);
  status->setStatus(status_codes::Error_VideoCaptureNoFrames, "Frames timed out on default camera");
  EXPECT_TRUE(status->isError());
  // The same code again: the message changes, the code does not.
  status->setStatus(status_codes::Error_VideoCaptureNoFrames, "Max retry count of 2 reached");
  status->setStatus(status_codes::Ok, "Element Ok");
  EXPECT_EQ(seen, (std::vector<std::string>{"Frames timed out on default camera", "Element Ok"}));
}

enum PixelFormat { FORMAT_I420 = 1, FORMAT_RGB = 7 };

TEST(CachedPropertyTest, UpdatesTellWhetherTheLastPassSawANewValueAndEnumsUseNames) {
  auto root = PropertyNode::create("el");
  sigslot::signal0<sigslot::multi_threaded_local> pass;
  testing::LogCapture log;
  CachedProperty<float> fps(pass, root->getNode("fps", true), 30.0f);
  pass();
  EXPECT_TRUE(fps.changed());  // the first update always counts
  fps.node()->setValue(25.0f);
  EXPECT_EQ(*fps, 30.0f);  // cached until the next pass
  pass();
  EXPECT_TRUE(fps.changed() && *fps == 25.0f);
  fps.node()->setValue(25.0);  // another type, same number
  pass();
  EXPECT_FALSE(fps.changed());
  fps.node()->setValue("soon");  // unreadable: the previous value stays
  pass();
  EXPECT_TRUE(*fps == 25.0f && !fps.changed());
  EXPECT_TRUE(log.contains("el/fps holds 'soon' of the wrong type"));
  { CachedProperty<std::string> name(pass, root->getNode("name", true), "x"); }
  EXPECT_EQ(pass.connection_count(), 1u) << "a destroyed wrapper leaves the signal";

  auto node = root->getNode("req_pixel_format", true);
  setPropertyEnumValues(node, {{FORMAT_I420, "i420", "I420"}, {FORMAT_RGB, "rgb", "RGB 24"}});
  CachedProperty<PixelFormat> format(pass, node, FORMAT_I420);
  EXPECT_EQ(node->getValue(), PropertyValue("i420"));
  node->setValue("rgb");
  pass();
  EXPECT_EQ(*format, FORMAT_RGB);
}

}  // namespace
}  // namespace dravo
