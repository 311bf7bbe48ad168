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

// Records which buffers came out, into a list that outlives the sink.
class RecordingSink : public Sink<Buffer> {
 public:
  ~RecordingSink() override { disconnect_all(); }
  void onBuffer(std::shared_ptr<Buffer const> const& buffer) override {
    delivered->push_back(static_cast<StampedBuffer const&>(*buffer).id);
  }
  void deliver(int id, Time stamp) { preOnBuffer(std::make_shared<StampedBuffer>(id, stamp)); }

  std::shared_ptr<std::vector<int>> delivered = std::make_shared<std::vector<int>>();
};

class SinkElementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sink_ = createElement<RecordingSink>(ElementArgs(scheduler_, root_));
    scheduler_->runAll();
    delivered_ = sink_->delivered;
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
  Time at(int ms) const { return t0_ + Duration::fromMSec(ms); }

  Time t0_ = Time::fromNSec(1000000000000);
  SyntheticClockGenerator generator_{false, t0_};
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("sink");
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<RecordingSink> sink_;
  std::shared_ptr<std::vector<int>> delivered_;
};

TEST_F(SinkElementTest,
       FrozenClockPassesBuffersAtOnceRunningClockHoldsThemInOrderUntilTheirStamps) {
  sink_->deliver(1, at(100000));
  sink_->deliver(2, at(-100000));
  EXPECT_EQ(*delivered_, (std::vector<int>{1, 2}));

  useSyntheticClock();
  sink_->deliver(3, at(10));
  sink_->deliver(4, at(20));
  advanceTo(at(19));
  EXPECT_EQ(*delivered_, (std::vector<int>{1, 2, 3}));
  advanceTo(at(20));
  EXPECT_EQ(delivered_->back(), 4);
  sink_->deliver(5, t0_);  // already due: delivered inside its arrival
  EXPECT_EQ(delivered_->back(), 5);

  // A stamp before the first queued one flushes the queue.
  testing::LogCapture log;
  sink_->deliver(11, at(30));
  sink_->deliver(12, at(50));
  sink_->deliver(13, at(40));  // between: queued behind 12
  settle();
  sink_->deliver(14, at(25));
  EXPECT_EQ(*delivered_, (std::vector<int>{1, 2, 3, 4, 5, 11, 12, 13}));
  EXPECT_TRUE(log.contains("Got out of order timestamp on sink. Flushing queue."));
  // Far in the future: reported, still delivered on time.
  sink_->deliver(15, at(6020));
  EXPECT_TRUE(log.contains("sink_element got buffer that is off by 6.000000."));
  advanceTo(at(6020));
  EXPECT_EQ(delivered_->back(), 15);

  sink_->deliver(6, at(7000));
  settle();
  generator_.freeze();  // the pending timer is aborted: a fresh look passes through
  settle();
  EXPECT_EQ(delivered_->back(), 6);
  generator_.setTime(at(8000));
  sink_->deliver(7, at(9000));
  sink_.reset();  // drops buffer 7
  advanceTo(at(10000));
  EXPECT_EQ(delivered_->back(), 6);
}

}  // namespace
}  // namespace dravo::media
