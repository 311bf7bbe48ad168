#include "common/property_copier.h"

#include <gtest/gtest.h>

namespace dravo {
namespace {

// One-way copying itself is checked through bins; here the flags, what
// counts as a change of `from`, and the end of copying.
TEST(PropertyCopierTest, FlagsControlTheFirstCopyAndCopyingEndsWithTheCopier) {
  auto root = PropertyNode::create();
  auto from = root->getNode("bin/fps", true);
  auto to = root->getNode("bin/source/fps", true);
  auto unset = root->getNode("unset", true);
  from->setValue(30);
  to->setValue(10);
  { UnidirectionalPropertyCopier later_only(from, to, false, true); }
  EXPECT_EQ(to->getValue(), PropertyValue(10));
  { UnidirectionalPropertyCopier copying_empty(unset, to, true, false); }
  EXPECT_TRUE(to->getValue().empty());

  auto copier = std::make_unique<UnidirectionalPropertyCopier>(from, to, false, true);
  from->getNode("child", true)->setValue(1);  // a change below `from` is not its value
  EXPECT_TRUE(to->getValue().empty());
  from->setValue(15);
  copier.reset();
  from->setValue(2);
  EXPECT_EQ(to->getValue(), PropertyValue(15));
}

}  // namespace
}  // namespace dravo
