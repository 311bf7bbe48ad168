#include "common/cached_property.h"

#include <gtest/gtest.h>

#include "common/property_enum.h"
#include "tests/support/capture.h"

namespace dravo {
namespace {

enum PixelFormat { FORMAT_I420 = 1, FORMAT_RGB = 7 };

// An element's property tree and the signal its processing pass raises.
class CachedPropertyTest : public ::testing::Test {
 protected:
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("el");
  sigslot::signal0<sigslot::multi_threaded_local> pass_;
};

TEST_F(CachedPropertyTest, BindingKeepsAGivenValueAndNeedsAnUpdate) {
  testing::AssertionCapture assertions;
  auto preset = root_->getNode("height", true);
  preset->setValue(720);
  CachedProperty<int32_t> height(preset, 480, "Actual height.", CachedProperty<int32_t>::READ_ONLY);
  EXPECT_EQ(*height, 480) << "before the update: the default";
  EXPECT_EQ(assertions.messages(),
            std::vector<std::string>{
                "Assertion failed: Must update a cached property wrapper before using it."});
  height.update();
  EXPECT_TRUE(*height == 720 && preset->getMeta("read_only") == PropertyValue(true))
      << "a given value wins over the default";
}

TEST_F(CachedPropertyTest, ChangedTellsWhetherTheLastPassSawANewValueAndEnumsUseNames) {
  testing::LogCapture log;
  CachedProperty<float> fps(pass_, root_->getNode("fps", true), 30.0f);
  pass_();
  EXPECT_TRUE(fps.changed());  // the first update always counts
  fps.node()->setValue(25.0f);
  EXPECT_EQ(*fps, 30.0f);  // cached until the next pass
  pass_();
  EXPECT_TRUE(fps.changed() && *fps == 25.0f);
  fps.node()->setValue(25.0);  // another type, same number
  pass_();
  EXPECT_FALSE(fps.changed());
  fps.set(12.0f);  // writes through without marking a change
  pass_();
  EXPECT_FALSE(fps.changed());
  fps.node()->setValue("soon");  // unreadable: the previous value stays
  pass_();
  EXPECT_TRUE(*fps == 12.0f && !fps.changed());
  EXPECT_TRUE(log.contains("el/fps holds 'soon' of the wrong type"));
  {
    CachedProperty<std::string> name(pass_, root_->getNode("name", true), "x");
    EXPECT_EQ(pass_.connection_count(), 2u);
  }
  EXPECT_EQ(pass_.connection_count(), 1u) << "a destroyed wrapper leaves the signal";

  // Enum wrappers read and write entry names.
  auto node = root_->getNode("req_pixel_format", true);
  setPropertyEnumValues(node, {{FORMAT_I420, "i420", "I420"}, {FORMAT_RGB, "rgb", "RGB 24"}});
  CachedProperty<PixelFormat> format(pass_, node, FORMAT_I420);
  EXPECT_EQ(node->getValue(), PropertyValue("i420"));
  node->setValue("rgb");
  pass_();
  EXPECT_EQ(*format, FORMAT_RGB);
}

}  // namespace
}  // namespace dravo
