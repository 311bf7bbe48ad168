#include "common/weak_map.h"

#include <gtest/gtest.h>

#include "tests/support/capture.h"

namespace dravo {
namespace {

TEST(WeakMapTest, DeadEntriesCountAsAbsentAndMayBeReplaced) {
  testing::AssertionCapture assertions;
  WeakMap<std::string, int> map;
  auto a = std::make_shared<int>(1), b = std::make_shared<int>(2), c = std::make_shared<int>(3);
  map.insert("c", c);
  map.insert("a", a);
  map.insert("b", b);
  b.reset();
  EXPECT_EQ(map.find("b"), map.end());
  std::string keys;
  for (auto const& entry : map) keys += entry.first;
  EXPECT_EQ(keys, "ac");
  EXPECT_EQ(map.size(), 2u);

  auto found = map.find("c");
  ASSERT_NE(found, map.end());
  c.reset();
  EXPECT_EQ(*found->second, 3) << "an iterator holds its entry alive";
  found = map.end();
  EXPECT_EQ(map.get("c"), nullptr);

  map.insert("b", std::make_shared<int>(4));  // over a dead entry: fine
  EXPECT_TRUE(assertions.messages().empty());
  map.insert("a", std::make_shared<int>(5));
  EXPECT_EQ(assertions.messages(), (std::vector<std::string>{"Assertion failed: dest.expired()"}));
  EXPECT_TRUE(map.erase("a") && !map.erase("a"));
  map.prune();
  EXPECT_FALSE(map.erase("b")) << "pruned";
  EXPECT_TRUE(map.empty());
}

}  // namespace
}  // namespace dravo
