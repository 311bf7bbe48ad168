#include "media_common/priority.h"

#include <gtest/gtest.h>

#include <limits>

#include "media_common/data_base.h"

namespace dravo::media {
namespace {

Time const kEarly = Time::fromNSec(1000);
Time const kLate = Time::fromNSec(2000);

TEST(PriorityTest, IdleRunsAfterEveryNonIdleLevel) {
  EXPECT_TRUE(Priority::idle(1000) < Priority(-5, false));
  EXPECT_FALSE(Priority(-5, false) < Priority::idle(1000));
  EXPECT_TRUE(Priority::idle(1000) < Priority::lowest());
}

TEST(PriorityTest, LargerLevelRunsFirstWhateverTheStamps) {
  EXPECT_TRUE(Priority(1, kEarly) < Priority(2, kLate));
  EXPECT_TRUE(Priority::highest() > Priority(std::numeric_limits<int>::max() - 1, kEarly));
  EXPECT_TRUE(Priority::lowest() < Priority(std::numeric_limits<int>::min() + 1, kLate));
  EXPECT_EQ(Priority::highest().getLevel(), 2147483647);
  EXPECT_EQ(Priority::lowest().getLevel(), -2147483647 - 1);
}

TEST(PriorityTest, EqualLevelsRunOlderStampFirst) {
  EXPECT_TRUE(Priority(3, kLate) < Priority(3, kEarly));
  EXPECT_TRUE(Priority(3, kEarly) > Priority(3, kLate));
  EXPECT_TRUE(Priority::idle(3) < Priority::idle(4));
}

TEST(PriorityTest, EqualPrioritiesAreNotOrdered) {
  Priority const a(3, kEarly);
  Priority const b(3, kEarly);
  EXPECT_FALSE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(Priority(3, kEarly) == Priority(4, kEarly));
  Priority idle = Priority::idle(3);
  Priority busy(3, idle.getStamp());
  EXPECT_FALSE(idle == busy);
}

TEST(PriorityTest, BuiltFromDataTakesItsLevelAndCreationTime) {
  DataBase data;
  data.setPriority(42);
  Priority const priority(data);
  EXPECT_EQ(priority.getLevel(), 42);
  EXPECT_EQ(priority.getStamp(), data.getCreationTime());
  EXPECT_FALSE(priority.isIdle());
}

TEST(PriorityTest, NamedConstructorsStampWithNow) {
  Time const before = Time::now();
  Priority const idle = Priority::idle(7);
  Time const after = Time::now();
  EXPECT_TRUE(idle.isIdle());
  EXPECT_EQ(idle.getLevel(), 7);
  EXPECT_GE(idle.getStamp(), before);
  EXPECT_LE(idle.getStamp(), after);
}

}  // namespace
}  // namespace dravo::media
