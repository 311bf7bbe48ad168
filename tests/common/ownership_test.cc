// Lifetimes: handles that undo a registration with their last copy, weak
// functions that call only while their owner lives, and weak maps.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/handle.h"
#include "common/weak_function.h"
#include "common/weak_map.h"
#include "tests/support/capture.h"

namespace dravo {
namespace {

// A registration whose release counts itself.
AutoHandleInitializer<int> registerOne(std::shared_ptr<int> const& releases) {
  return {releases, [](int& count) { ++count; }};
}

TEST(HandleTest, ReleaseRunsOnceWhenTheLastAutoHandleGoes) {
  auto releases = std::make_shared<int>(0);
  { auto dropped = registerOne(releases); }  // leaves its registration
  {
    AutoHandle<int> first = registerOne(releases);
    AutoHandle<int> second = first;
  }
  EXPECT_EQ(*releases, 1);

  // AutoHandles made from copies of one plain Handle share one release.
  Handle<int> plain = registerOne(releases).release();
  { AutoHandle<int> a(plain), b(Handle<int>{plain}); }  // from two copies
  { AutoHandle<int> again(plain); }                     // released already
  EXPECT_EQ(*releases, 2);
}

TEST(HandleTest, CopiesDroppedOnManyThreadsReleaseOnce) {
  for (int round = 0; round < 50; ++round) {
    std::atomic<int> releases{0};
    AutoHandle<int> handle =
        AutoHandleInitializer<int>(std::make_shared<int>(0), [&releases](int&) { ++releases; });
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([copy = handle]() mutable { copy.reset(); });
    handle.reset();
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(releases.load(), 1);
  }
}

struct Target {
  void add(int a, int b) { sum += a + b; }
  int sum = 0;
};

TEST(WeakFunctionTest, CallsOnlyWhileTheOwnerLivesAndKeepsItAliveDuringTheCall) {
  auto target = std::make_shared<Target>();
  WeakFunction<void(int)> add_ten = bindWeak<void(int)>(target, &Target::add, 10);
  EXPECT_TRUE(add_ten(5) && target->sum == 15);
  std::weak_ptr<Target> watch = target;
  bool alive_inside = false;
  WeakFunction<void()> drop_owner(target, [&] {
    target.reset();  // the last outside reference
    alive_inside = !watch.expired();
  });
  EXPECT_TRUE(drop_owner() && alive_inside && watch.expired());
  EXPECT_FALSE(add_ten(1)) << "a dead owner means no call";
  EXPECT_FALSE(WeakFunction<void()>()()) << "an empty function is never called";
}

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
