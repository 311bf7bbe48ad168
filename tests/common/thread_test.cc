#include "common/thread.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <thread>

namespace dravo {
namespace {

TEST(ThreadTest, NameCurrentAndIsCurrent) {
  Thread thread;
  EXPECT_FALSE(thread.isCurrent()) << "not started";
  thread.setName("a_rather_long_worker_name");
  char kernel_name[32] = {};
  Thread* seen_current = nullptr;
  bool inside_is_current = false;
  thread.start([&] {
    pthread_getname_np(pthread_self(), kernel_name, sizeof kernel_name);
    seen_current = Thread::current();
    inside_is_current = thread.isCurrent();
  });
  thread.join();
  EXPECT_STREQ(kernel_name, "a_rather_long_w") << "the kernel keeps 15 bytes";
  EXPECT_EQ(seen_current, &thread);
  EXPECT_TRUE(inside_is_current);
  EXPECT_FALSE(thread.isCurrent());
}

TEST(ThreadTest, ThreadsNotStartedHereAreAdopted) {
  Thread* main_thread = Thread::current();
  ASSERT_NE(main_thread, nullptr);
  EXPECT_EQ(Thread::current(), main_thread);
  Thread* other = nullptr;
  bool other_is_main = true;
  std::thread plain([&] {
    other = Thread::current();
    other_is_main = main_thread->isCurrent();
  });
  plain.join();
  EXPECT_NE(other, main_thread);
  EXPECT_FALSE(other_is_main);
}

TEST(ThreadTest, AJoinedThreadIsNeverTheCurrentOneAgain) {
  // The system reuses a finished thread's id for the next thread it starts,
  // usually at once; the joined thread must not take that one for itself.
  Thread first;
  first.start([] {});
  first.join();
  bool first_is_current = true;
  std::thread next([&] { first_is_current = first.isCurrent(); });
  next.join();
  EXPECT_FALSE(first_is_current);
}

}  // namespace
}  // namespace dravo
