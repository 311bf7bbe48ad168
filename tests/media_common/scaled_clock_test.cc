// The scaled clock over a synthetic master: rates, hard and soft sets,
// slewing, and timers that follow the mapping.

#include "media_common/scaled_clock.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "common/deferred.h"
#include "media_common/synthetic_clock.h"
#include "tests/media_common/clock_test_support.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using testing::TimerEvent;

constexpr Time kMasterStart = Time::fromNSec(9000000000000);
constexpr Time kStart = Time::fromNSec(100000000000);
Duration ms(int64_t n) { return Duration::fromMSec(n); }
Duration sec(double s) { return Duration::fromSec(s); }

// A scaled clock at rate 1 reading kStart, over a synthetic master.
class ScaledClockTest : public ::testing::Test {
 protected:
  void advanceMaster(Duration d) {
    master_generator_.advanceClock(d);
    waitForDeferredCalls();
  }
  ClockTime at(unsigned generation, Duration since_start) {
    return ClockTime(generation, kStart + since_start);
  }

  SyntheticClockGenerator master_generator_{false, kMasterStart};
  ScaledClockGenerator generator_{master_generator_.getClock(), false, kStart, 1.0};
  std::shared_ptr<Clock> clock_ = generator_.getClock();
  testing::EventRecorder recorder_{clock_};
};

TEST_F(ScaledClockTest, TimersComeDueAtTheScaledTimeNeverEarly) {
  generator_.setScaling(0.5);
  // Odd nanoseconds: the inverse mapping must round up, not re-arm forever.
  clock_->requestCallbackAt(at(0, sec(1.0) + Duration::fromNSec(1)), recorder_.callback(1));
  advanceMaster(sec(2.0) + Duration::fromNSec(1));
  EXPECT_EQ(at(0, sec(1.0)), clock_->getNormalizedClockTime());  // truncated
  EXPECT_EQ(0u, recorder_.events().size());
  advanceMaster(Duration::fromNSec(1));
  EXPECT_EQ(1u, recorder_.events().size());

  // At rate zero timers wait until the rate changes.
  generator_.setScaling(0.0);
  clock_->requestCallbackIn(ms(100), recorder_.callback(3), Clock::FireIfFrozen);
  advanceMaster(sec(10.0));
  EXPECT_EQ(1u, recorder_.events().size());
  generator_.setScaling(2.0);
  advanceMaster(ms(50));
  EXPECT_EQ(2u, recorder_.events().size());
}

TEST_F(ScaledClockTest, SetScalingKeepsTheReadingIsIgnoredWhileFrozenAndHardSetsAbort) {
  testing::AssertionCapture assertions;
  advanceMaster(sec(1.0));
  generator_.setScaling(-1.0);
  EXPECT_EQ(std::vector<std::string>{"Assertion failed: Tried to set clock with negative scaling."},
            assertions.messages());
  generator_.setScaling(3.0);  // from the current reading on
  advanceMaster(sec(1.0));
  EXPECT_EQ(at(0, sec(4.0)), clock_->getNormalizedClockTime());
  generator_.freeze();
  generator_.setScaling(5.0);
  advanceMaster(sec(1.0));
  EXPECT_EQ(ClockTime(1, Time()), clock_->getNormalizedClockTime());
  // On a frozen clock a soft set is a hard one.
  generator_.setTimeAndScalingSoftly(kStart + sec(7.0), 1.0);
  EXPECT_EQ(at(2, sec(7.0)), clock_->getNormalizedClockTime());

  // A hard set moves two generations and aborts pending timers.
  clock_->requestCallbackIn(sec(1.0), recorder_.callback(1), Clock::FireIfFrozen);
  generator_.setTimeAndScaling(kStart + sec(50.0), 2.0);
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, at(4, sec(50.0))}}), recorder_.events());

  // A master in a later generation makes it read frozen, until set.
  clock_->requestCallbackIn(sec(1.0), recorder_.callback(2), Clock::FireIfFrozen);
  master_generator_.setTime(kMasterStart - sec(100.0), true, Duration());
  waitForDeferredCalls();
  EXPECT_EQ((TimerEvent{2, Clock::Aborted, ClockTime(5, Time())}), recorder_.events().back());
  generator_.setTimeAndScaling(kStart, 1.0);
  EXPECT_EQ(at(6, Duration()), clock_->getNormalizedClockTime());
}

TEST_F(ScaledClockTest, SoftSetAheadOfTheWindowStandsStillAndBehindItJumps) {
  clock_->requestCallbackAt(at(0, sec(1.0)), recorder_.callback(1));
  // The clock reads kStart; the target timeline is 3 s behind it.
  generator_.setTimeAndScalingSoftly(kStart - sec(3.0), 1.0);
  advanceMaster(sec(3.0));
  EXPECT_EQ(kStart, clock_->getTime());
  advanceMaster(sec(1.0));
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Normal, at(0, sec(1.0))}}), recorder_.events());

  // Behind the window: a jump forward, and timers passed over are Normal.
  clock_->requestCallbackAt(at(0, sec(2.0)), recorder_.callback(2));
  generator_.setTimeAndScalingSoftly(kStart + sec(3.0), kStart + sec(4.0), 1.0);
  waitForDeferredCalls();
  EXPECT_EQ((TimerEvent{2, Clock::Normal, at(0, sec(3.0))}), recorder_.events().back());
}

TEST_F(ScaledClockTest, SoftSetInsideTheWindowOnlyChangesTheRate) {
  advanceMaster(sec(1.0));
  // An earlier pause leaves a zero rate before the origin; inside the
  // window the reading must not step when the rates change.
  generator_.setTimeAndScalingSoftly(kStart + sec(0.5), 1.0);
  advanceMaster(ms(200));
  EXPECT_EQ(kStart + sec(1.0), clock_->getTime());
  generator_.setTimeAndScalingSoftly(kStart, kStart + sec(2.0), 2.0);
  EXPECT_EQ(kStart + sec(1.0), clock_->getTime());
  advanceMaster(ms(100));
  EXPECT_EQ(kStart + sec(1.2), clock_->getTime());
}

TEST_F(ScaledClockTest, SlewsRunFastOrSlowUntilTheOffsetIsAbsorbedWithoutStepping) {
  ScaledClockGenerator behind(master_generator_.getClock(), false, kStart, 1.0);
  clock_->requestCallbackIn(sec(0.5), recorder_.callback(1), Clock::FireIfFrozen);
  generator_.slewClock(ms(100), 0.9, 1.1, sec(1.0), 1.0);
  behind.slewClock(ms(-100), 0.5, 1.5, sec(1.0), 1.0);
  Time previous[2] = {kStart, kStart};
  for (int step = 0; step < 20; ++step) {
    advanceMaster(ms(100));
    for (int i = 0; i < 2; ++i) {
      Time now = (i ? behind.getClock() : clock_)->getTime();
      EXPECT_GE(now, previous[i]) << "step " << step;
      previous[i] = now;
    }
  }
  // Master +2 s: 1.1 for 999,999,999 ns (the offset over the rate
  // difference, truncated), then 1.0 for 1,000,000,001 ns.
  EXPECT_EQ(kStart + Duration::fromNSec(1099999998 + 1000000001), previous[0]);
  // 100 ms absorbed at rate 0.5 over 200 ms of master time.
  EXPECT_EQ(kStart + sec(2.0) - ms(100), previous[1]);
  ASSERT_EQ(1u, recorder_.events().size());
  EXPECT_EQ(Clock::Normal, recorder_.events()[0].event);  // a slew aborts nothing
  // Beyond the threshold a slew is a hard set.
  generator_.slewClock(sec(5.0), 0.9, 1.1, sec(1.0), 1.0);
  EXPECT_EQ(ClockTime(2, previous[0] + sec(5.0)), clock_->getNormalizedClockTime());
}

TEST(ScaledClockOnAFrozenMasterTest, TimersWaitWithoutSpinningUntilTheMasterRuns) {
  SyntheticClockGenerator master;  // frozen
  ScaledClockGenerator generator(master.getClock(), false, kStart, 1.0);
  auto clock = generator.getClock();  // running, but standing still
  testing::EventRecorder recorder(clock);
  clock->requestCallbackIn(ms(10), recorder.callback(1), Clock::FireIfFrozen);
  // A wake-up that re-arms itself keeps the deferred thread busy for good.
  std::promise<void> idle;
  std::thread waiter([&] {
    waitForDeferredCalls();
    idle.set_value();
  });
  EXPECT_EQ(std::future_status::ready, idle.get_future().wait_for(std::chrono::seconds(5)));
  EXPECT_EQ(0u, recorder.events().size());
  // Running again, the master has left the anchor's generation.
  master.setTime(kMasterStart, false, Duration());
  waitForDeferredCalls();
  waiter.join();
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime(1, Time())}}),
            recorder.events());
}

}  // namespace
}  // namespace dravo::media
