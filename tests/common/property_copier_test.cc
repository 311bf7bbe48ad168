#include "common/property_copier.h"

#include <gtest/gtest.h>

namespace dravo {
namespace {

TEST(PropertyCopierTest, CopiesOneWayWhileAliveAndFlagsControlTheFirstCopy) {
  auto root = PropertyNode::create();
  auto from = root->getNode("bin/fps", true);
  auto to = root->getNode("bin/source/fps", true);
  auto unset = root->getNode("unset", true);
  from->setValue(30);
  to->setValue(10);
  { UnidirectionalPropertyCopier later_only(from, to, false, true); }
  { UnidirectionalPropertyCopier skipping_empty(unset, to, true, true); }
  EXPECT_EQ(to->getValue(), PropertyValue(10));
  { UnidirectionalPropertyCopier copying_empty(unset, to, true, false); }
  EXPECT_TRUE(to->getValue().empty());

  auto copier = std::make_unique<UnidirectionalPropertyCopier>(from, to, true, true);
  EXPECT_EQ(to->getValue(), PropertyValue(30));
  from->setValue(15);
  EXPECT_EQ(to->getValue(), PropertyValue(15));
  to->setValue(60);
  EXPECT_EQ(from->getValue(), PropertyValue(15)) << "never back";
  from->getNode("child", true)->setValue(1);  // a change below `from` is not its value
  EXPECT_EQ(to->getValue(), PropertyValue(60));
  copier.reset();
  from->setValue(2);
  EXPECT_EQ(to->getValue(), PropertyValue(60));
}

}  // namespace
}  // namespace dravo
