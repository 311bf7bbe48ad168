#include "common/handle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace dravo {
namespace {

struct Registration {
  int releases = 0;
};

AutoHandleInitializer<Registration> registerOne(std::shared_ptr<Registration> const& record) {
  return AutoHandleInitializer<Registration>(record, [](Registration& r) { ++r.releases; });
}

TEST(HandleTest, ReleaseRunsOnceWhenTheLastAutoHandleGoes) {
  auto record = std::make_shared<Registration>();
  { auto dropped = registerOne(record); }
  EXPECT_EQ(record->releases, 0) << "a dropped initializer leaves the registration";
  AutoHandle<Registration> first = registerOne(record);
  AutoHandle<Registration> second = first;
  EXPECT_EQ(first.get(), record.get());
  first.reset();
  EXPECT_EQ(record->releases, 0);
  second.reset();
  EXPECT_EQ(record->releases, 1);

  // AutoHandles made from copies of one plain Handle share one release.
  Handle<Registration> plain = registerOne(record).release();
  Handle<Registration> copy = plain;
  {
    AutoHandle<Registration> a(plain);
    AutoHandle<Registration> b(copy);
    a.reset();
    EXPECT_EQ(record->releases, 1);
  }
  EXPECT_EQ(record->releases, 2);
  { AutoHandle<Registration> again(plain); }
  EXPECT_EQ(record->releases, 2) << "released already";
}

TEST(HandleTest, CopiesDroppedOnManyThreadsReleaseOnce) {
  for (int round = 0; round < 50; ++round) {
    std::atomic<int> releases{0};
    AutoHandle<Registration> handle = AutoHandleInitializer<Registration>(
        std::make_shared<Registration>(), [&releases](Registration&) { ++releases; });
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([copy = handle]() mutable { copy.reset(); });
    handle.reset();
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(releases.load(), 1);
  }
}

}  // namespace
}  // namespace dravo
