#include "media_common/scheduler_task_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace dravo::media {
namespace {

struct Item {
  int level = 0;
  int sequence = 0;
};
struct RunsBefore {
  bool operator()(Item const& a, Item const& b) const {
    if (a.level != b.level) return a.level > b.level;
    return a.sequence < b.sequence;
  }
};

// Pushes and pops interleaved at random, with runs of in-order items and
// items that overtake them; every pop must be the first in run order of what
// is queued, and a ring that grew and drained must keep working.
TEST(SchedulerTaskQueueTest, PopsInRunOrderWhateverOrderItemsArriveIn) {
  std::minstd_rand random(7);
  SchedulerTaskQueue<Item, RunsBefore> queue;
  std::vector<Item> expected;
  int sequence = 0;
  for (int round = 0; round < 20000; ++round) {
    if (random() % 3 != 0 || expected.empty()) {
      // Mostly equal levels arriving in order; now and then a jump up or down.
      int level = random() % 8 == 0 ? static_cast<int>(random() % 5) : 2;
      Item item{level, sequence++};
      queue.push(item);
      expected.push_back(item);
    } else {
      auto first = std::min_element(expected.begin(), expected.end(), RunsBefore());
      ASSERT_EQ(queue.front().sequence, first->sequence);
      Item popped = queue.pop();
      ASSERT_EQ(popped.sequence, first->sequence) << "round " << round;
      expected.erase(first);
    }
    ASSERT_EQ(queue.size(), expected.size());
    if (round == 10000) {  // drain a grown ring, then go on
      while (!queue.empty()) queue.pop();
      expected.clear();
    }
  }
}

}  // namespace
}  // namespace dravo::media
