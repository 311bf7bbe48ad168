#include "media_common/priority.h"

#include <gtest/gtest.h>

namespace dravo::media {
namespace {

TEST(PriorityTest, LevelFirstThenOlderStampThenIdleLast) {
  Time const early = Time::fromNSec(1000), late = Time::fromNSec(2000);
  EXPECT_TRUE(Priority(1, early) < Priority(2, late));  // whatever the stamps
  EXPECT_TRUE(Priority::highest() > Priority(2147483646, early));
  EXPECT_TRUE(Priority::idle(1000) < Priority::lowest());
  EXPECT_TRUE(Priority::idle(3) < Priority::idle(4));
  EXPECT_FALSE(Priority::idle(3) == Priority(3, Priority::idle(3).getStamp()));
}

}  // namespace
}  // namespace dravo::media
