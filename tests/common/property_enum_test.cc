#include "common/property_enum.h"

#include <gtest/gtest.h>

#include "common/property_node.h"

namespace dravo {
namespace {

TEST(PropertyEnumTest, EntriesAreFoundByValueOrNameAndSetByValue) {
  auto node = PropertyNode::create()->getNode("mode", true);
  EXPECT_FALSE(isEnumProperty(node));
  node->setValue("auto");
  setPropertyEnumValues(
      node, {{PropertyValue(0), "auto", "Automatic"}, {PropertyValue(5u), "manual", "Manual"}});
  EXPECT_TRUE(isEnumProperty(node));
  auto const manual = findEnumValue(node, PropertyValue(5));  // int finds the unsigned entry
  EXPECT_TRUE(manual && manual->name == "manual");
  EXPECT_EQ(findEnumName(node, "auto")->value, PropertyValue(0));
  EXPECT_FALSE(findEnumName(node, "Automatic"));

  EXPECT_TRUE(setEnumPropertyByValue(node, PropertyValue(5)) &&
              !setEnumPropertyByValue(node, PropertyValue(9)));
  EXPECT_EQ(node->getValue(), PropertyValue("manual"));
  setPropertyEnumValues(node, {});
  EXPECT_TRUE(getPropertyEnumValues(node).empty());
}

}  // namespace
}  // namespace dravo
