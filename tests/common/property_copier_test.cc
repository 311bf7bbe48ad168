#include "common/property_copier.h"

#include <gtest/gtest.h>

namespace dravo {
namespace {

class PropertyCopierTest : public ::testing::Test {
 protected:
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create();
  std::shared_ptr<PropertyNode> from_ = root_->getNode("bin/fps", true);
  std::shared_ptr<PropertyNode> to_ = root_->getNode("bin/source/fps", true);
};

TEST_F(PropertyCopierTest, CopiesNowAndLaterButNeverBack) {
  from_->setValue(30);
  UnidirectionalPropertyCopier copier(from_, to_, true, true);
  EXPECT_EQ(to_->getValue(), PropertyValue(30));
  from_->setValue(15);
  EXPECT_EQ(to_->getValue(), PropertyValue(15));
  to_->setValue(60);
  EXPECT_EQ(from_->getValue(), PropertyValue(15));
  from_->getNode("child", true)->setValue(1);  // a change below `from` is not its value
  EXPECT_EQ(to_->getValue(), PropertyValue(60));
}

TEST_F(PropertyCopierTest, FlagsControlTheFirstCopyAndEmptyValues) {
  from_->setValue(30);
  to_->setValue(10);
  {
    UnidirectionalPropertyCopier later_only(from_, to_, false, true);
    EXPECT_EQ(to_->getValue(), PropertyValue(10));
  }
  auto unset = root_->getNode("unset", true);
  {
    UnidirectionalPropertyCopier skipping(unset, to_, true, true);
    EXPECT_EQ(to_->getValue(), PropertyValue(10));
  }
  UnidirectionalPropertyCopier copying_empty(unset, to_, true, false);
  EXPECT_TRUE(to_->getValue().empty());
}

TEST_F(PropertyCopierTest, DestroyedCopierStopsCopying) {
  auto copier = std::make_unique<UnidirectionalPropertyCopier>(from_, to_, true, true);
  from_->setValue(1);
  copier.reset();
  from_->setValue(2);
  EXPECT_EQ(to_->getValue(), PropertyValue(1));
}

}  // namespace
}  // namespace dravo
