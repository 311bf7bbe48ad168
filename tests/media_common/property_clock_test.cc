// The property clock: follows the clock held in a property node, keeping its
// generations increasing across parent switches.

#include "media_common/property_clock.h"

#include <gtest/gtest.h>

#include "common/deferred.h"
#include "common/property_node.h"
#include "media_common/clock_private.h"
#include "media_common/repeating_timer.h"
#include "media_common/synthetic_clock.h"
#include "tests/media_common/clock_test_support.h"

namespace dravo::media {
namespace {

using testing::EventRecorder;
using testing::TimerEvent;

constexpr Time kTimeA = Time::fromNSec(1000000000000);
constexpr Time kTimeB = Time::fromNSec(2000000000000);
Duration ms(int64_t n) { return Duration::fromMSec(n); }

class PropertyClockTest : public ::testing::Test {
 protected:
  std::shared_ptr<PropertyNode> node_ = PropertyNode::create("clock");
  SyntheticClockGenerator a_{false, kTimeA};
  SyntheticClockGenerator b_{false, kTimeB};
};

TEST_F(PropertyClockTest, StoresClocksWeaklyAndReadsThemBack) {
  setPropertyClock(*node_, a_.getClock());
  EXPECT_TRUE(node_->getValue().isWeakObject());
  EXPECT_EQ(a_.getClock(), getClockFromPropertyValue(node_->getValue()));
  EXPECT_EQ(nullptr, getClockFromPropertyValue(PropertyValue(5)));
  setPropertyClock(*node_, nullptr);
  EXPECT_TRUE(node_->getValue().empty());
  // A shared reference reads the same way.
  EXPECT_EQ(b_.getClock(), getClockFromPropertyValue(PropertyValue(b_.getClock())));
}

TEST_F(PropertyClockTest, GenerationsIncreaseAcrossSwitches) {
  auto frozen = getFrozenClock();
  setPropertyClock(*node_, a_.getClock());
  auto clock = getPropertyClock(node_, frozen);
  EXPECT_EQ(ClockTime(2, kTimeA), clock->getNormalizedClockTime());
  a_.advanceClock(ms(5));
  EXPECT_EQ(ClockTime(2, kTimeA + ms(5)), clock->getNormalizedClockTime());
  setPropertyClock(*node_, nullptr);  // back to the frozen default
  EXPECT_EQ(ClockTime(3, Time()), clock->getNormalizedClockTime());
  setPropertyClock(*node_, a_.getClock());
  EXPECT_EQ(ClockTime(4, kTimeA + ms(5)), clock->getNormalizedClockTime());
  setPropertyClock(*node_, b_.getClock());
  EXPECT_EQ(ClockTime(6, kTimeB), clock->getNormalizedClockTime());
}

TEST_F(PropertyClockTest, FollowsTheParentsOwnGenerationChanges) {
  setPropertyClock(*node_, a_.getClock());
  auto clock = getPropertyClock(node_, getFrozenClock());
  a_.freeze();
  EXPECT_EQ(ClockTime(3, Time()), clock->getNormalizedClockTime());
  a_.setTime(kTimeA);
  EXPECT_EQ(ClockTime(4, kTimeA), clock->getNormalizedClockTime());
  // A switch after changes nobody read still moves above them.
  a_.freeze();
  a_.setTime(kTimeA + ms(1));
  setPropertyClock(*node_, b_.getClock());
  EXPECT_EQ(ClockTime(8, kTimeB), clock->getNormalizedClockTime());
}

TEST_F(PropertyClockTest, TimersFireOnTheParentsTimeline) {
  setPropertyClock(*node_, a_.getClock());
  auto clock = getPropertyClock(node_, getFrozenClock());
  EventRecorder recorder(clock);
  clock->requestCallbackIn(ms(10), recorder.callback(1), Clock::FireIfFrozen);
  a_.advanceClock(ms(9));
  waitForDeferredCalls();
  EXPECT_EQ(0u, recorder.size());
  a_.advanceClock(ms(1));
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Normal, ClockTime(2, kTimeA + ms(10))}}),
            recorder.events());
}

TEST_F(PropertyClockTest, TimersFromBeforeASwitchAreAbortedPromptly) {
  setPropertyClock(*node_, a_.getClock());
  auto clock = getPropertyClock(node_, getFrozenClock());
  EventRecorder recorder(clock);
  clock->requestCallbackIn(ms(100), recorder.callback(1), Clock::FireIfFrozen);
  setPropertyClock(*node_, b_.getClock());  // a running parent
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime(4, kTimeB)}}),
            recorder.events());

  clock->requestCallbackIn(ms(100), recorder.callback(2), Clock::FireIfFrozen);
  setPropertyClock(*node_, nullptr);  // the frozen default never delivers
  waitForDeferredCalls();
  ASSERT_EQ(2u, recorder.size());
  EXPECT_EQ((TimerEvent{2, Clock::Aborted, ClockTime(5, Time())}), recorder.events()[1]);
}

TEST_F(PropertyClockTest, ADeadParentFallsBackToTheDefault) {
  auto c = std::make_unique<SyntheticClockGenerator>(false, kTimeB);
  setPropertyClock(*node_, c->getClock());
  auto clock = getPropertyClock(node_, a_.getClock());
  EventRecorder recorder(clock);
  clock->requestCallbackIn(ms(100), recorder.callback(1), Clock::FireIfFrozen);
  c.reset();  // the node held it weakly: the clock is gone
  waitForDeferredCalls();
  EXPECT_EQ(ClockTime(4, kTimeA), clock->getNormalizedClockTime());
  ASSERT_EQ(1u, recorder.size());
  EXPECT_EQ(Clock::Aborted, recorder.events()[0].event);
}

TEST_F(PropertyClockTest, ARepeatingTimerKeepsTickingAcrossASwitchMidRun) {
  setPropertyClock(*node_, a_.getClock());
  auto clock = getPropertyClock(node_, getFrozenClock());
  EventRecorder recorder(clock);
  auto tick = recorder.callback(0);
  RepeatingTimer timer(
      clock, WeakFunction<void()>(recorder.owner(), [tick] { tick(Clock::Normal); }), ms(40));
  a_.advanceClock(ms(40));
  waitForDeferredCalls();
  a_.advanceClock(ms(40));
  waitForDeferredCalls();
  setPropertyClock(*node_, b_.getClock());
  waitForDeferredCalls();
  b_.advanceClock(ms(30));
  waitForDeferredCalls();
  b_.advanceClock(ms(10));
  waitForDeferredCalls();
  b_.advanceClock(ms(40));
  waitForDeferredCalls();
  // Two ticks on A; the switch skips one and re-anchors at B's time.
  EXPECT_EQ((std::vector<TimerEvent>{{0, Clock::Normal, ClockTime(2, kTimeA + ms(40))},
                                     {0, Clock::Normal, ClockTime(2, kTimeA + ms(80))},
                                     {0, Clock::Normal, ClockTime(4, kTimeB + ms(40))},
                                     {0, Clock::Normal, ClockTime(4, kTimeB + ms(80))}}),
            recorder.events());
}

}  // namespace
}  // namespace dravo::media
