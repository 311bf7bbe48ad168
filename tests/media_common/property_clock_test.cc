// The property clock: follows the clock held in a property node, keeping its
// generations increasing across parent switches.

#include "media_common/property_clock.h"

#include <gtest/gtest.h>

#include "common/deferred.h"
#include "common/property_node.h"
#include "media_common/clock_private.h"
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

TEST_F(PropertyClockTest, GenerationsIncreaseAcrossSwitchesAndTheParentsOwnChanges) {
  setPropertyClock(*node_, a_.getClock());
  auto clock = getPropertyClock(node_, getFrozenClock());
  struct Step {
    char const* what;
    std::function<void()> act;
    ClockTime expected;
  } const steps[] = {
      {"on A", [] {}, ClockTime(2, kTimeA)},
      {"the frozen default", [&] { setPropertyClock(*node_, nullptr); }, ClockTime(3, Time())},
      {"A again", [&] { setPropertyClock(*node_, a_.getClock()); }, ClockTime(4, kTimeA)},
      {"B", [&] { setPropertyClock(*node_, b_.getClock()); }, ClockTime(6, kTimeB)},
      {"B freezes", [&] { b_.freeze(); }, ClockTime(7, Time())},
      {"B runs again", [&] { b_.setTime(kTimeB); }, ClockTime(8, kTimeB)},
      {"a switch after changes nobody read",
       [&] {
         b_.freeze();
         b_.setTime(kTimeB + ms(1));
         setPropertyClock(*node_, a_.getClock());
       },
       ClockTime(12, kTimeA)},
  };
  for (Step const& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    EXPECT_EQ(step.expected, clock->getNormalizedClockTime());
  }
}

TEST_F(PropertyClockTest, TimersFromBeforeASwitchOrADeadParentAreAbortedPromptly) {
  auto c = std::make_unique<SyntheticClockGenerator>(false, kTimeB);
  setPropertyClock(*node_, a_.getClock());
  auto clock = getPropertyClock(node_, b_.getClock());
  EventRecorder recorder(clock);
  clock->requestCallbackIn(ms(100), recorder.callback(1), Clock::FireIfFrozen);
  setPropertyClock(*node_, c->getClock());
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime(4, kTimeB)}}),
            recorder.events());
  clock->requestCallbackIn(ms(100), recorder.callback(2), Clock::FireIfFrozen);
  c.reset();  // the node held it weakly: the default takes over
  waitForDeferredCalls();
  ASSERT_EQ(2u, recorder.events().size());
  EXPECT_EQ((TimerEvent{2, Clock::Aborted, ClockTime(6, kTimeB)}), recorder.events()[1]);
}

}  // namespace
}  // namespace dravo::media
