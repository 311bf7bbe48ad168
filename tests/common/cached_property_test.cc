#include "common/cached_property.h"

#include <gtest/gtest.h>

#include "common/property_enum.h"
#include "tests/support/capture.h"

namespace dravo {
namespace {

enum PixelFormat { FORMAT_I420 = 1, FORMAT_RGB = 7 };

class CachedPropertyTest : public ::testing::Test {
 protected:
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("el");
  sigslot::signal0<sigslot::multi_threaded_local> pass_;
};

TEST_F(CachedPropertyTest, ReadingBeforeTheFirstUpdateIsAnAssertion) {
  testing::AssertionCapture assertions;
  CachedProperty<int32_t> width(root_->getNode("width", true), 640, "Actual width.");
  EXPECT_EQ(width.get(), 640);
  ASSERT_EQ(assertions.messages().size(), 1u);
  EXPECT_EQ(assertions.messages()[0],
            "Assertion failed: Must update a cached property wrapper before using it.");
  width.update();
  EXPECT_EQ(*width, 640);
  EXPECT_EQ(assertions.messages().size(), 1u);
}

TEST_F(CachedPropertyTest, BindingSetsDefaultHelpAndReadOnly) {
  auto preset = root_->getNode("height", true);
  preset->setValue(720);
  CachedProperty<int32_t> height(preset, 480, "Actual height.", CachedProperty<int32_t>::READ_ONLY);
  CachedProperty<bool> enabled(root_->getNode("enabled", true), false);
  EXPECT_EQ(preset->getValue(), PropertyValue(720));  // a given value wins over the default
  EXPECT_EQ(preset->getDefaultValue(), PropertyValue(480));
  EXPECT_EQ(preset->getMeta("help"), PropertyValue("Actual height."));
  EXPECT_EQ(preset->getMeta("read_only"), PropertyValue(true));
  EXPECT_FALSE(enabled.node()->hasMeta("help"));
  EXPECT_FALSE(enabled.node()->hasMeta("read_only"));
  EXPECT_EQ(enabled.node()->getValue(), PropertyValue(false));
}

TEST_F(CachedPropertyTest, ChangedTellsWhetherTheLastUpdateSawANewValue) {
  CachedProperty<float> fps(pass_, root_->getNode("fps", true), 30.0f);
  pass_();
  EXPECT_TRUE(fps.changed());  // the first update always counts
  EXPECT_EQ(*fps, 30.0f);
  pass_();
  EXPECT_FALSE(fps.changed());
  fps.node()->setValue(25.0f);
  EXPECT_EQ(*fps, 30.0f);  // cached until the next pass
  pass_();
  EXPECT_TRUE(fps.changed());
  EXPECT_EQ(*fps, 25.0f);
  fps.node()->setValue(25.0);  // another type, same number
  pass_();
  EXPECT_FALSE(fps.changed());
}

TEST_F(CachedPropertyTest, SetWritesThroughWithoutMarkingAChange) {
  CachedProperty<bool> reopen(pass_, root_->getNode("reopen", true), false);
  pass_();
  reopen.node()->setValue(true);
  pass_();
  ASSERT_TRUE(*reopen);
  reopen.set(false);
  EXPECT_FALSE(*reopen);
  EXPECT_EQ(reopen.node()->getValue(), PropertyValue(false));
  pass_();
  EXPECT_FALSE(reopen.changed());
}

TEST_F(CachedPropertyTest, UnreadableValueKeepsThePreviousOne) {
  testing::LogCapture log;
  CachedProperty<Duration> timeout(root_->getNode("timeout", true), Duration::fromSec(10.0));
  timeout.node()->setValue("2.5");
  timeout.update();
  EXPECT_EQ(*timeout, Duration::fromMSec(2500));
  timeout.node()->setValue("soon");
  timeout.update();
  EXPECT_EQ(*timeout, Duration::fromMSec(2500));
  EXPECT_FALSE(timeout.changed());
  EXPECT_TRUE(log.contains("el/timeout holds 'soon' of the wrong type"));
}

TEST_F(CachedPropertyTest, EnumWrapperReadsAndWritesEntryNames) {
  auto node = root_->getNode("req_pixel_format", true);
  setPropertyEnumValues(node, {{FORMAT_I420, "i420", "I420"}, {FORMAT_RGB, "rgb", "RGB 24"}});
  CachedProperty<PixelFormat> format(pass_, node, FORMAT_I420);
  EXPECT_EQ(node->getValue(), PropertyValue("i420"));
  node->setValue("rgb");
  pass_();
  EXPECT_EQ(*format, FORMAT_RGB);
  format.set(FORMAT_I420);
  EXPECT_EQ(node->getValue(), PropertyValue("i420"));
}

TEST_F(CachedPropertyTest, DestroyedWrapperLeavesTheSignal) {
  {
    CachedProperty<std::string> name(pass_, root_->getNode("name", true), "x");
    EXPECT_EQ(pass_.connection_count(), 1u);
  }
  EXPECT_EQ(pass_.connection_count(), 0u);
  pass_();
}

}  // namespace
}  // namespace dravo
