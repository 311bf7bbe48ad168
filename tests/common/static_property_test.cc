#include "common/static_property.h"

#include <gtest/gtest.h>

namespace dravo {
namespace {

StaticProperty<Duration> probe_interval("tests/static/device_probe_interval",
                                        Duration::fromSec(5.0), "How often drivers poll.");

TEST(StaticPropertyTest, RegisteredAtStartupAndReadsTheCurrentValueOrTheDefault) {
  auto node = getPropertyNode("tests/static/device_probe_interval");
  EXPECT_EQ(node, probe_interval.node());
  node->setValue("garbage");
  EXPECT_EQ(probe_interval.get(), Duration::fromSec(5.0));
  node->setValue(PropertyValue(Duration::fromSec(5.0)));

  getPropertyNode("tests/static/test_source")->setValue("mic");
  StaticProperty<std::string> test_source("tests/static/test_source", "throb");
  EXPECT_EQ(test_source.get(), "mic") << "registering keeps an existing setting";
}

}  // namespace
}  // namespace dravo
