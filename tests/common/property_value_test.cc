#include "common/property_value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace dravo {
namespace {

TEST(PropertyValueTest, EqualityIsTypedSameValueIsNumeric) {
  EXPECT_EQ(PropertyValue(int16_t{1}).getType(), PropertyValue::TYPE_INT32);
  EXPECT_FALSE(PropertyValue(1) == PropertyValue(1u));
  EXPECT_TRUE(PropertyValue(2).sameValue(PropertyValue(2.0)));
  EXPECT_FALSE(PropertyValue(-1).sameValue(PropertyValue(std::numeric_limits<uint64_t>::max())));
  EXPECT_FALSE(PropertyValue(1).sameValue(PropertyValue("1")));
}

TEST(PropertyValueTest, ConversionsSaturateRoundAndParseWholeText) {
  EXPECT_EQ(PropertyValue(1e12).getInt(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(PropertyValue(-5).getUInt(), 0u);
  EXPECT_EQ(PropertyValue(2.6f).getInt(), 3);
  EXPECT_EQ(PropertyValue(std::numeric_limits<uint64_t>::max()).getInt64(),
            std::numeric_limits<int64_t>::max());
  EXPECT_EQ(PropertyValue("42x").convert<int32_t>(), std::nullopt);
  EXPECT_EQ(PropertyValue("TRUE").convert<bool>(), true);
  EXPECT_EQ(PropertyValue("yes").convert<bool>(), std::nullopt);
  EXPECT_EQ(PropertyValue("1.5s").getDuration(), Duration::fromMSec(1500));
  EXPECT_EQ(PropertyValue(0.1f).toString(), "0.1");
  std::string const duration = PropertyValue(Duration::fromMSec(40)).toString();
  EXPECT_EQ(PropertyValue(duration).getDuration(), Duration::fromMSec(40));
}

TEST(PropertyValueTest, ObjectsAreReadWithTheirStoredType) {
  auto thing = std::make_shared<std::string>();
  PropertyValue weak{std::weak_ptr<std::string>(thing)};
  EXPECT_EQ(weak.getObject<std::string>(), thing);
  EXPECT_EQ(PropertyValue(thing).getObject<int>(), nullptr);
  EXPECT_EQ(PropertyValue(std::weak_ptr<std::string>(thing)), weak);
  thing.reset();
  EXPECT_EQ(weak.getObject<std::string>(), nullptr);
}

}  // namespace
}  // namespace dravo
