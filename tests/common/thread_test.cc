#include "common/thread.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <thread>

namespace dravo {
namespace {

TEST(ThreadTest, NameCurrentAndAdoptedThreads) {
  Thread thread;
  thread.setName("a_rather_long_worker_name");
  char kernel_name[32] = {};
  Thread* seen_current = nullptr;
  thread.start([&] {
    pthread_getname_np(pthread_self(), kernel_name, sizeof kernel_name);
    seen_current = Thread::current();
  });
  thread.join();
  EXPECT_STREQ(kernel_name, "a_rather_long_w") << "the kernel keeps 15 bytes";
  EXPECT_EQ(seen_current, &thread);

  // Threads not started here are adopted, each as its own Thread.
  Thread* main_thread = Thread::current();
  EXPECT_TRUE(main_thread != nullptr && Thread::current() == main_thread);
  Thread* other = nullptr;
  std::thread([&] { other = Thread::current(); }).join();
  EXPECT_NE(other, main_thread);
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
