#include <gtest/gtest.h>

#include "common/diagnostics/buffer_trace.h"
#include "common/diagnostics/history_dump_trigger.h"
#include "common/diagnostics/sample_history.h"
#include "tests/support/capture.h"

namespace dravo {
namespace {

TEST(BufferTraceTest, InstanceInfosAreInternedAndTracingFollowsTheLogger) {
  using namespace buffer_trace;
  InstanceInfo const* pad = createInstanceInfo(nullptr, "pad:src");
  InstanceInfo const* convert = createInstanceInfo(pad, "convert");
  EXPECT_EQ(createInstanceInfo(nullptr, "pad:src"), pad);
  EXPECT_NE(createInstanceInfo(nullptr, "convert"), convert) << "the parent is part of the key";
  EXPECT_FALSE((testing::LogCapture("buffer_trace:4"), isEnabled()));
  testing::LogCapture capture("buffer_trace:5");
  track(&capture, convert);
  EXPECT_EQ(capture.messages("buffer_trace").size(), 1u);
  EXPECT_TRUE(capture.contains("pad:src/convert"));
}

TEST(SampleHistoryTest, BucketsCombineAndOldOnesFallOff) {
  SampleHistory history(2, Duration::fromMSec(10));
  Time const t0 = Time::fromNSec(1'000'000'000);
  history.addAt(t0, 4);
  history.addAt(t0 + Duration::fromMSec(9), 2);
  history.addAt(t0 + Duration::fromMSec(10), 7);
  EXPECT_EQ(history.buckets()[0].mean(), 3);
  history.addAt(t0 + Duration::fromMSec(35), 1);
  auto const buckets = history.buckets();
  ASSERT_EQ(buckets.size(), 2u);
  EXPECT_TRUE(buckets[0].max == 7 && buckets[1].start == t0 + Duration::fromMSec(30));
}

TEST(HistoryDumpTriggerTest, FiresAtMostOncePerPeriod) {
  testing::LogCapture capture("history:4");
  HistoryDumpTrigger trigger("threaded scheduler task too full", Duration::fromSec(10));
  Time const t0 = Time::fromNSec(5);
  EXPECT_TRUE(trigger.triggerAt(t0) && !trigger.triggerAt(t0 + Duration::fromSec(9)) &&
              trigger.triggerAt(t0 + Duration::fromSec(10)));
  EXPECT_TRUE(capture.contains("threaded scheduler task too full (1 held back)"));
}

}  // namespace
}  // namespace dravo
