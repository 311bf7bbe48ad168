#include "media_common/priority.h"

#include <gtest/gtest.h>

#include "media_common/data_base.h"

namespace dravo::media {
namespace {

TEST(PriorityTest, LevelFirstThenOlderStampThenIdleLast) {
  Time const early = Time::fromNSec(1000), late = Time::fromNSec(2000);
  EXPECT_TRUE(Priority(1, early) < Priority(2, late));  // whatever the stamps
  EXPECT_TRUE(Priority(3, late) < Priority(3, early));
  EXPECT_TRUE(Priority::highest() > Priority(2147483646, early));
  EXPECT_TRUE(Priority::lowest() < Priority(-2147483647, late));
  EXPECT_TRUE(Priority::idle(1000) < Priority(-5, false));
  EXPECT_FALSE(Priority(-5, false) < Priority::idle(1000));
  EXPECT_TRUE(Priority::idle(1000) < Priority::lowest());
  EXPECT_TRUE(Priority::idle(3) < Priority::idle(4));

  Priority const a(3, early), b(3, early);
  EXPECT_FALSE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(Priority(3, early) == Priority(4, early));
  Priority idle = Priority::idle(3);
  EXPECT_FALSE(idle == Priority(3, idle.getStamp()));
}

TEST(PriorityTest, BuiltFromDataTakesItsLevelAndCreationTime) {
  DataBase data;
  data.setPriority(42);
  Priority const priority(data);
  EXPECT_EQ(priority.getLevel(), 42);
  EXPECT_EQ(priority.getStamp(), data.getCreationTime());
  EXPECT_FALSE(priority.isIdle());
}

}  // namespace
}  // namespace dravo::media
