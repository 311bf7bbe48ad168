// The scaled clock over a synthetic master: rates, hard and soft sets,
// slewing, and timers that follow the mapping.

#include "media_common/scaled_clock.h"

#include <gtest/gtest.h>

#include "common/deferred.h"
#include "media_common/synthetic_clock.h"
#include "tests/media_common/clock_test_support.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using testing::EventRecorder;
using testing::TimerEvent;

constexpr Time kMasterStart = Time::fromNSec(9000000000000);
constexpr Time kStart = Time::fromNSec(100000000000);
Duration ms(int64_t n) { return Duration::fromMSec(n); }
Duration sec(double s) { return Duration::fromSec(s); }

class ScaledClockTest : public ::testing::Test {
 protected:
  ScaledClockGenerator make(double rate) {
    return ScaledClockGenerator(master_, false, kStart, rate);
  }
  void advanceMaster(Duration d) {
    master_generator_.advanceClock(d);
    waitForDeferredCalls();
  }

  SyntheticClockGenerator master_generator_{false, kMasterStart};
  std::shared_ptr<Clock> master_ = master_generator_.getClock();
};

TEST_F(ScaledClockTest, TimersComeDueAtTheScaledTimeNeverEarly) {
  auto half = make(0.5);
  auto clock = half.getClock();
  EventRecorder recorder(clock);
  // Odd nanoseconds: the inverse mapping must round up, not re-arm forever.
  clock->requestCallbackAt(ClockTime(0, kStart + sec(1.0) + Duration::fromNSec(1)),
                           recorder.callback(1));
  advanceMaster(sec(2.0) + Duration::fromNSec(1));
  EXPECT_EQ(ClockTime(0, kStart + sec(1.0)),  // truncated
            clock->getNormalizedClockTime());
  EXPECT_EQ(0u, recorder.size());
  advanceMaster(Duration::fromNSec(1));
  EXPECT_EQ((std::vector<int>{1}), recorder.tags());

  // At rate zero timers wait until the rate changes.
  half.setScaling(0.0);
  clock->requestCallbackIn(ms(100), recorder.callback(3), Clock::FireIfFrozen);
  advanceMaster(sec(10.0));
  EXPECT_EQ(1u, recorder.size());
  half.setScaling(2.0);
  advanceMaster(ms(50));
  EXPECT_EQ(2u, recorder.size());
}

TEST_F(ScaledClockTest, SetScalingKeepsTheReadingIsIgnoredWhileFrozenAndHardSetsAbort) {
  testing::AssertionCapture assertions;
  auto generator = make(1.0);
  auto clock = generator.getClock();
  advanceMaster(sec(1.0));
  generator.setScaling(-1.0);
  EXPECT_EQ(std::vector<std::string>{"Assertion failed: Tried to set clock with negative scaling."},
            assertions.messages());
  generator.setScaling(3.0);  // from the current reading on
  advanceMaster(sec(1.0));
  EXPECT_EQ(ClockTime(0, kStart + sec(4.0)), clock->getNormalizedClockTime());
  generator.freeze();
  generator.setScaling(5.0);
  advanceMaster(sec(1.0));
  EXPECT_EQ(ClockTime(1, Time()), clock->getNormalizedClockTime());
  // On a frozen clock a soft set is a hard one.
  generator.setTimeAndScalingSoftly(kStart + sec(7.0), 1.0);
  EXPECT_EQ(ClockTime(2, kStart + sec(7.0)), clock->getNormalizedClockTime());

  // A hard set moves two generations and aborts pending timers.
  EventRecorder recorder(clock);
  clock->requestCallbackIn(sec(1.0), recorder.callback(1), Clock::FireIfFrozen);
  generator.setTimeAndScaling(kStart + sec(50.0), 2.0);
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime(4, kStart + sec(50.0))}}),
            recorder.events());

  // A master in a later generation makes it read frozen, until set.
  clock->requestCallbackIn(sec(1.0), recorder.callback(2), Clock::FireIfFrozen);
  master_generator_.setTime(kMasterStart - sec(100.0), true, Duration());
  waitForDeferredCalls();
  EXPECT_EQ(ClockTime(5, Time()), clock->getNormalizedClockTime());
  EXPECT_EQ((TimerEvent{2, Clock::Aborted, ClockTime(5, Time())}), recorder.events().back());
  generator.setTimeAndScaling(kStart, 1.0);
  EXPECT_EQ(ClockTime(6, kStart), clock->getNormalizedClockTime());
}

TEST_F(ScaledClockTest, SoftSetAheadOfTheWindowStandsStillAndBehindItJumps) {
  auto generator = make(1.0);
  auto clock = generator.getClock();
  EventRecorder recorder(clock);
  clock->requestCallbackAt(ClockTime(0, kStart + sec(1.0)), recorder.callback(1));
  // The clock reads kStart; the target timeline is 3 s behind it.
  generator.setTimeAndScalingSoftly(kStart - sec(3.0), 1.0);
  advanceMaster(sec(3.0));
  EXPECT_EQ(kStart, clock->getTime());
  advanceMaster(sec(1.0));
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Normal, ClockTime(0, kStart + sec(1.0))}}),
            recorder.events());

  // Behind the window: a jump forward, and timers passed over are Normal.
  clock->requestCallbackAt(ClockTime(0, kStart + sec(2.0)), recorder.callback(2));
  generator.setTimeAndScalingSoftly(kStart + sec(3.0), kStart + sec(4.0), 1.0);
  waitForDeferredCalls();
  ASSERT_EQ(2u, recorder.size());
  EXPECT_EQ((TimerEvent{2, Clock::Normal, ClockTime(0, kStart + sec(3.0))}), recorder.events()[1]);
}

TEST_F(ScaledClockTest, SoftSetInsideTheWindowOnlyChangesTheRate) {
  auto generator = make(1.0);
  auto clock = generator.getClock();
  advanceMaster(sec(1.0));
  // An earlier pause leaves a zero rate before the origin; inside the
  // window the reading must not step when the rates change.
  generator.setTimeAndScalingSoftly(kStart + sec(0.5), 1.0);
  advanceMaster(ms(200));
  EXPECT_EQ(kStart + sec(1.0), clock->getTime());
  generator.setTimeAndScalingSoftly(kStart, kStart + sec(2.0), 2.0);
  EXPECT_EQ(kStart + sec(1.0), clock->getTime());
  advanceMaster(ms(100));
  EXPECT_EQ(kStart + sec(1.2), clock->getTime());
}

TEST_F(ScaledClockTest, SlewsRunFastOrSlowUntilTheOffsetIsAbsorbedWithoutStepping) {
  auto ahead = make(1.0);
  auto behind = make(1.0);
  EventRecorder recorder(ahead.getClock());
  ahead.getClock()->requestCallbackIn(sec(0.5), recorder.callback(1), Clock::FireIfFrozen);
  ahead.slewClock(ms(100), 0.9, 1.1, sec(1.0), 1.0);
  behind.slewClock(ms(-100), 0.5, 1.5, sec(1.0), 1.0);
  Time previous[2] = {kStart, kStart};
  for (int step = 0; step < 20; ++step) {
    advanceMaster(ms(100));
    for (int i = 0; i < 2; ++i) {
      Time now = (i ? behind : ahead).getClock()->getTime();
      EXPECT_GE(now, previous[i]) << "step " << step;
      previous[i] = now;
    }
  }
  // Master +2 s: 1.1 for 999,999,999 ns (the offset over the rate
  // difference, truncated), then 1.0 for 1,000,000,001 ns.
  EXPECT_EQ(kStart + Duration::fromNSec(1099999998 + 1000000001), ahead.getClock()->getTime());
  // 100 ms absorbed at rate 0.5 over 200 ms of master time.
  EXPECT_EQ(kStart + sec(2.0) - ms(100), behind.getClock()->getTime());
  ASSERT_EQ(1u, recorder.size());
  EXPECT_EQ(Clock::Normal, recorder.events()[0].event);  // a slew aborts nothing
  // Beyond the threshold a slew is a hard set.
  Time const before = ahead.getClock()->getTime();
  ahead.slewClock(sec(5.0), 0.9, 1.1, sec(1.0), 1.0);
  EXPECT_EQ(ClockTime(2, before + sec(5.0)), ahead.getClock()->getNormalizedClockTime());
}

}  // namespace
}  // namespace dravo::media
