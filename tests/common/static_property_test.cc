#include "common/static_property.h"

#include <gtest/gtest.h>

namespace dravo {
namespace {

StaticProperty<Duration> probe_interval(
    "tests/static/device_probe_interval", Duration::fromSec(5.0),
    "How often drivers should poll for devices (only for drivers that poll).");

TEST(StaticPropertyTest, RegisteredAtStartupWithDefaultAndHelp) {
  auto node = getPropertyNode("tests/static/device_probe_interval");
  EXPECT_EQ(node, probe_interval.node());
  EXPECT_EQ(node->getValue(), PropertyValue(Duration::fromSec(5.0)));
  EXPECT_EQ(
      node->getMeta("help"),
      PropertyValue("How often drivers should poll for devices (only for drivers that poll)."));
  EXPECT_EQ(probe_interval.get(), Duration::fromSec(5.0));
}

TEST(StaticPropertyTest, ReadsTheCurrentValueAndFallsBackToTheDefault) {
  probe_interval.set(Duration::fromMSec(200));
  EXPECT_EQ(getPropertyNode("tests/static/device_probe_interval")->getValue().getDuration(),
            Duration::fromMSec(200));
  probe_interval.node()->setValue("garbage");
  EXPECT_EQ(probe_interval.get(), Duration::fromSec(5.0));
  probe_interval.node()->setValue(PropertyValue(Duration::fromSec(5.0)));
}

TEST(StaticPropertyTest, RegisteringAnExistingSettingKeepsItsValue) {
  getPropertyNode("tests/static/test_source")->setValue("mic");
  StaticProperty<std::string> test_source("tests/static/test_source", "throb");
  EXPECT_EQ(test_source.get(), "mic");
  EXPECT_EQ(test_source.node()->getDefaultValue(), PropertyValue("throb"));
}

}  // namespace
}  // namespace dravo
