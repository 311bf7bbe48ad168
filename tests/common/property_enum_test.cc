#include "common/property_enum.h"

#include <gtest/gtest.h>

#include "common/property_node.h"

namespace dravo {
namespace {

TEST(PropertyEnumTest, EntriesAreStoredAsMetaAndFoundByValueOrName) {
  auto node = PropertyNode::create()->getNode("device", true);
  EXPECT_FALSE(isEnumProperty(node));
  EXPECT_TRUE(getPropertyEnumValues(node).empty());
  setPropertyEnumValues(
      node, {{PropertyValue(0), "auto", "Automatic"}, {PropertyValue(2u), "usb", "USB camera"}});
  EXPECT_TRUE(isEnumProperty(node));
  EXPECT_EQ(node->getMeta("ui_type"), PropertyValue("enum"));
  EXPECT_TRUE(node->hasMeta("ui"));
  auto entries = getPropertyEnumValues(node);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].display_name, "USB camera");

  ASSERT_TRUE(findEnumValue(node, PropertyValue(2)));  // int finds the unsigned entry
  EXPECT_EQ(findEnumValue(node, PropertyValue(2))->name, "usb");
  EXPECT_EQ(findEnumName(node, "auto")->value, PropertyValue(0));
  EXPECT_FALSE(findEnumName(node, "Automatic"));
}

TEST(PropertyEnumTest, SettingByValueUsesTheEntryNameOrLeavesTheNode) {
  auto node = PropertyNode::create()->getNode("mode", true);
  node->setValue("auto");
  setPropertyEnumValues(
      node, {{PropertyValue(0), "auto", "Automatic"}, {PropertyValue(5), "manual", "Manual"}});
  EXPECT_TRUE(setEnumPropertyByValue(node, PropertyValue(5)));
  EXPECT_EQ(node->getValue(), PropertyValue("manual"));
  EXPECT_FALSE(setEnumPropertyByValue(node, PropertyValue(9)));
  EXPECT_EQ(node->getValue(), PropertyValue("manual"));
}

TEST(PropertyEnumTest, ReplacingEntriesNotifiesListeners) {
  auto node = PropertyNode::create()->getNode("device", true);
  struct Listener : sigslot::has_slots<sigslot::multi_threaded_local> {
    ~Listener() override { disconnect_all(); }
    void onChange(PropertyChangedArgs const& args) {
      meta_changes += args.type == PROPERTY_META_CHANGED;
    }
    int meta_changes = 0;
  } listener;
  node->connectChanged(&listener, &Listener::onChange);
  setPropertyEnumValues(node, {{PropertyValue("cam0"), "cam0", "Front"}});
  setPropertyEnumValues(node, {});
  EXPECT_GE(listener.meta_changes, 2);
  EXPECT_TRUE(getPropertyEnumValues(node).empty());
  EXPECT_TRUE(isEnumProperty(node));
}

}  // namespace
}  // namespace dravo
