// Timer delivery on the synthetic clock: the clock every deterministic test
// is built on.

#include "media_common/synthetic_clock.h"

#include <gtest/gtest.h>

#include "common/deferred.h"
#include "media_common/clock_private.h"
#include "tests/media_common/clock_test_support.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using testing::EventRecorder;
using testing::TimerEvent;

constexpr Time kStart = Time::fromNSec(1000000000000);
Duration ms(int64_t n) { return Duration::fromMSec(n); }

class SyntheticClockTest : public ::testing::Test {
 protected:
  SyntheticClockGenerator generator_{false, kStart};
  std::shared_ptr<Clock> clock_ = generator_.getClock();
  EventRecorder recorder_{clock_};
};

TEST_F(SyntheticClockTest, AdvancingDeliversDueTimersInTimeOrderInOnePass) {
  // Requested out of order; two share a time and keep their request order.
  for (int tag : {30, 10, 21, 22})
    clock_->requestCallbackAt(ClockTime(0, kStart + ms(tag / 10 * 10)), recorder_.callback(tag));
  // A callback that requests one due in the same pass.
  auto chained = recorder_.callback(5);
  clock_->requestCallbackIn(
      ms(5),
      [&, chained](Clock::Event) {
        clock_->requestCallbackIn(ms(0), chained, Clock::FireIfFrozen);
      },
      Clock::FireIfFrozen);
  generator_.advanceClock(ms(35));
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<int>{10, 21, 22, 30, 5}), recorder_.tags());
  for (TimerEvent const& e : recorder_.events())
    EXPECT_EQ((TimerEvent{e.tag, Clock::Normal, ClockTime(0, kStart + ms(35))}), e);
}

TEST_F(SyntheticClockTest, BackwardStepsAreIgnoredUnlessAllowedAndLargeEnough) {
  testing::LogCapture capture("clock:3,check:1");
  testing::AssertionCapture assertions;
  clock_->requestCallbackIn(ms(100), recorder_.callback(1), Clock::FireIfFrozen);
  generator_.advanceClock(ms(-1));
  EXPECT_EQ((std::vector<std::string>{"Assertion failed: Tried to roll back a synthetic clock."}),
            assertions.messages());
  generator_.setTime(kStart - ms(50), false, Duration());
  EXPECT_TRUE(capture.contains("Ignoring backward step in not-frozen synthetic clock "));
  generator_.setTime(kStart - ms(5), true, ms(10));
  EXPECT_EQ(ClockTime(0, kStart), clock_->getNormalizedClockTime());
  generator_.setTime(kStart - ms(50), true, ms(10));
  EXPECT_EQ(ClockTime(2, kStart - ms(50)), clock_->getNormalizedClockTime());
  waitForDeferredCalls();
  // The old generation's timer can never come due there: aborted.
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime(2, kStart - ms(50))}}),
            recorder_.events());
  generator_.freeze();
  generator_.advanceClock(ms(1));
  EXPECT_TRUE(capture.contains("Check failed !now_.isFrozen() Tried to advance a frozen clock"));
}

TEST(SyntheticClockGeneratorTest, FreezingAbortsTimersAndFrozenRequestsFollowTheirBehavior) {
  SyntheticClockGenerator generator;  // starts frozen
  auto clock = generator.getClock();
  EventRecorder recorder(clock);
  // (1, t) is normalized to (1, 0): due on the frozen clock at once.
  clock->requestCallbackAt(ClockTime(1, kStart), recorder.callback(1));
  waitForDeferredCalls();
  generator.setTime(kStart);
  EXPECT_EQ(ClockTime(2, kStart), clock->getNormalizedClockTime());
  clock->requestCallbackIn(ms(100), recorder.callback(2), Clock::FireIfFrozen);
  generator.freeze();
  clock->requestCallbackIn(ms(10), recorder.callback(3), Clock::FireIfFrozen);
  clock->requestCallbackIn(ms(10), recorder.callback(4), Clock::WaitUntilUnfrozen);
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime(1, Time())},
                                     {2, Clock::Aborted, ClockTime(3, Time())},
                                     {3, Clock::Aborted, ClockTime(3, Time())}}),
            recorder.events());
  generator.setTime(kStart + ms(500));
  waitForDeferredCalls();
  ASSERT_EQ(4u, recorder.events().size());
  EXPECT_EQ((TimerEvent{4, Clock::Normal, ClockTime(4, kStart + ms(500))}), recorder.events()[3]);
}

TEST_F(SyntheticClockTest, AFrozenTimerThatRequestsItselfAgainEndsEachPass) {
  generator_.freeze();
  std::string trace;  // deferred calls run one at a time
  std::function<void(Clock::Event)> again = [&](Clock::Event) {
    trace += "d";
    if (trace == "d") scheduleDeferred([&] { trace += "o"; });
    if (trace.size() < 4) clock_->requestCallbackIn(ms(1), again, Clock::FireIfFrozen);
  };
  clock_->requestCallbackIn(ms(1), again, Clock::FireIfFrozen);
  waitForDeferredCalls();
  // The re-requested timer is due at once again, but waits for the next
  // pass: other deferred work ("o") runs in between instead of a runaway pass.
  EXPECT_EQ("dodd", trace);
}

}  // namespace
}  // namespace dravo::media
