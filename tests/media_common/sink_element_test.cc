#include "media_common/sink_element.h"

#include <gtest/gtest.h>

#include "common/deferred.h"
#include "media_common/property_clock.h"
#include "media_common/synthetic_clock.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

class StampedBuffer : public Buffer {
 public:
  StampedBuffer(int id, Time stamp) : id(id) {
    setStartTimestamp(stamp);
    setPriority(1);
  }
  int id;
};

// Records which buffers came out, and the sink clock's time when they did.
class RecordingSink : public Sink<Buffer> {
 public:
  explicit RecordingSink(std::shared_ptr<Clock> clock) : clock_(std::move(clock)) {}
  ~RecordingSink() override { disconnect_all(); }
  void onBuffer(std::shared_ptr<Buffer const> const& buffer) override {
    delivered.push_back(static_cast<StampedBuffer const&>(*buffer).id);
    delivered_count->push_back(delivered.back());
    times.push_back(clock_->getTime());
  }
  void deliver(int id, Time stamp) { preOnBuffer(std::make_shared<StampedBuffer>(id, stamp)); }

  std::vector<int> delivered;
  // Outlives the sink.
  std::shared_ptr<std::vector<int>> delivered_count = std::make_shared<std::vector<int>>();
  std::vector<Time> times;

 private:
  std::shared_ptr<Clock> clock_;
};

class SinkElementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sink_ = createElement<RecordingSink>(ElementArgs(scheduler_, root_), generator_.getClock());
    scheduler_->runAll();
  }
  void useSyntheticClock() {
    setPropertyClock(*sink_->getPropertyNode("clock"), generator_.getClock());
  }
  // Moves the synthetic clock and runs whatever came due.
  void advanceTo(Time t) {
    generator_.setTime(t);
    settle();
  }
  void settle() {
    do {
      waitForDeferredCalls();
    } while (scheduler_->runAll() > 0);
  }

  Time t0_ = Time::fromNSec(1000000000000);
  SyntheticClockGenerator generator_{false, t0_};
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("sink");
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<RecordingSink> sink_;
};

TEST_F(SinkElementTest, BuffersLeaveAtOnceOnAFrozenClockElseAtTheirStamps) {
  sink_->deliver(1, t0_ + Duration::fromSec(100));
  sink_->deliver(2, t0_ - Duration::fromSec(100));
  EXPECT_EQ(sink_->delivered, (std::vector<int>{1, 2}));
  EXPECT_EQ(scheduler_->size(), 0u);

  // A running clock holds each buffer until it reaches the buffer's stamp.
  useSyntheticClock();
  sink_->deliver(3, t0_ + Duration::fromMSec(10));
  sink_->deliver(4, t0_ + Duration::fromMSec(20));
  settle();
  advanceTo(t0_ + Duration::fromMSec(10));
  EXPECT_EQ(sink_->delivered, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(sink_->times.back(), t0_ + Duration::fromMSec(10));
  advanceTo(t0_ + Duration::fromMSec(25));
  EXPECT_EQ(sink_->delivered.back(), 4);
  sink_->deliver(5, t0_);  // already due: delivered inside its arrival
  EXPECT_EQ(sink_->delivered.back(), 5);
}

TEST_F(SinkElementTest, OutOfOrderStampFlushesTheQueueAndFarFutureIsReported) {
  testing::LogCapture log;
  useSyntheticClock();
  sink_->deliver(1, t0_ + Duration::fromMSec(10));
  sink_->deliver(2, t0_ + Duration::fromMSec(30));
  sink_->deliver(3, t0_ + Duration::fromMSec(20));  // between: queued behind 2
  settle();
  EXPECT_TRUE(sink_->delivered.empty());
  sink_->deliver(4, t0_ + Duration::fromMSec(5));  // before the first: flush
  EXPECT_EQ(sink_->delivered, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(log.contains("Got out of order timestamp on sink. Flushing queue."));
  advanceTo(t0_ + Duration::fromMSec(5));
  EXPECT_EQ(sink_->delivered, (std::vector<int>{1, 2, 3, 4}));

  // Far in the future: reported, still delivered on time.
  Time const now = t0_ + Duration::fromMSec(5);
  sink_->deliver(5, now + Duration::fromSec(6));
  EXPECT_TRUE(log.contains("sink_element got buffer that is off by 6.000000."));
  advanceTo(now + Duration::fromSec(5));
  EXPECT_EQ(sink_->delivered.size(), 4u);
  advanceTo(now + Duration::fromSec(6));
  EXPECT_EQ(sink_->delivered.back(), 5);
}

TEST_F(SinkElementTest, FreezingTheClockFlushesAndDestructionDropsTheRest) {
  useSyntheticClock();
  sink_->deliver(1, t0_ + Duration::fromSec(1));
  settle();
  generator_.freeze();  // the pending timer is aborted: a fresh look passes through
  settle();
  EXPECT_EQ(sink_->delivered, std::vector<int>{1});

  generator_.setTime(t0_ + Duration::fromSec(2));
  sink_->deliver(2, t0_ + Duration::fromSec(3));
  auto delivered = sink_->delivered_count;
  sink_.reset();  // drops buffer 2
  advanceTo(t0_ + Duration::fromSec(4));
  EXPECT_EQ(*delivered, std::vector<int>{1});
}

}  // namespace
}  // namespace dravo::media
