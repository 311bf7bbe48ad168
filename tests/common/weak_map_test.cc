#include "common/weak_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/capture.h"

namespace dravo {
namespace {

std::vector<std::string> keys(WeakMap<std::string, int> const& map) {
  std::vector<std::string> result;
  for (auto const& entry : map) result.push_back(entry.first);
  return result;
}

TEST(WeakMapTest, DeadEntriesCountAsAbsentAndMayBeReplaced) {
  testing::AssertionCapture assertions;
  WeakMap<std::string, int> map;
  auto a = std::make_shared<int>(1);
  auto b = std::make_shared<int>(2);
  auto c = std::make_shared<int>(3);
  map.insert("c", c);
  map.insert("a", a);
  map.insert("b", b);
  b.reset();
  EXPECT_EQ(map.find("b"), map.end());
  EXPECT_EQ(map.get("b"), nullptr);
  EXPECT_EQ(keys(map), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(map.size(), 2u);

  auto found = map.find("c");
  ASSERT_NE(found, map.end());
  c.reset();
  EXPECT_EQ(*found->second, 3) << "an iterator holds its entry alive";
  found = map.end();
  EXPECT_EQ(keys(map), (std::vector<std::string>{"a"}));

  map.insert("b", std::make_shared<int>(4));  // over a dead entry: fine
  EXPECT_TRUE(assertions.messages().empty());
  map.insert("a", std::make_shared<int>(5));
  EXPECT_EQ(assertions.messages(), (std::vector<std::string>{"Assertion failed: dest.expired()"}));
  a.reset();
  EXPECT_TRUE(map.empty());
}

TEST(WeakMapTest, EraseAndPrune) {
  WeakMap<int, int> map;
  std::vector<std::shared_ptr<int>> alive;
  for (int i = 0; i < 100; ++i) {
    auto value = std::make_shared<int>(i);
    map.insert(i, value);
    if (i % 10 == 0) alive.push_back(value);
  }
  EXPECT_EQ(map.size(), 10u);
  EXPECT_TRUE(map.erase(10));
  EXPECT_FALSE(map.erase(10));
  map.prune();
  EXPECT_FALSE(map.erase(12)) << "pruned";
  EXPECT_EQ(map.size(), 9u);
  EXPECT_TRUE(map.contains(90));
}

}  // namespace
}  // namespace dravo
