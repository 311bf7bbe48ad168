#include "common/handle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace dravo {
namespace {

struct Registration {
  int id = 0;
  int releases = 0;
};

AutoHandleInitializer<Registration> registerOne(std::shared_ptr<Registration> const& record) {
  return AutoHandleInitializer<Registration>(record, [](Registration& r) { ++r.releases; });
}

TEST(HandleTest, ReleaseRunsOnceWhenTheLastAutoHandleGoes) {
  auto record = std::make_shared<Registration>();
  AutoHandle<Registration> first = registerOne(record);
  AutoHandle<Registration> second = first;
  EXPECT_EQ(first.get(), record.get());
  first.reset();
  EXPECT_TRUE(first.empty());
  EXPECT_EQ(record->releases, 0);
  {
    AutoHandle<Registration> third = second;
    second.reset();
    EXPECT_EQ(record->releases, 0);
  }
  EXPECT_EQ(record->releases, 1);
}

TEST(HandleTest, PlainHandlesNeverRelease) {
  auto record = std::make_shared<Registration>();
  { auto dropped = registerOne(record); }
  EXPECT_EQ(record->releases, 0) << "a dropped initializer leaves the registration";

  Handle<Registration> plain = registerOne(record).release();
  Handle<Registration> copy = plain;
  EXPECT_EQ(copy->id, 0);
  {
    // AutoHandles made from copies of one Handle share one release.
    AutoHandle<Registration> a(plain);
    AutoHandle<Registration> b(copy);
    a.reset();
    EXPECT_EQ(record->releases, 0);
  }
  EXPECT_EQ(record->releases, 1);
  { AutoHandle<Registration> again(plain); }
  EXPECT_EQ(record->releases, 1) << "released already";
}

TEST(HandleTest, CopiesDroppedOnManyThreadsReleaseOnce) {
  for (int round = 0; round < 50; ++round) {
    auto record = std::make_shared<Registration>();
    std::atomic<int> releases{0};
    AutoHandle<Registration> handle =
        AutoHandleInitializer<Registration>(record, [&releases](Registration&) { ++releases; });
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([copy = handle]() mutable { copy.reset(); });
    handle.reset();
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(releases.load(), 1);
  }
}

}  // namespace
}  // namespace dravo
