#include "common/handle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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

}  // namespace
}  // namespace dravo
