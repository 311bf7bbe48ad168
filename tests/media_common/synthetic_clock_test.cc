// Timer delivery on the synthetic clock: the clock every deterministic test
// is built on.

#include "media_common/synthetic_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

TEST_F(SyntheticClockTest, AdvancingPastTimersDeliversThemInTimeOrderFromADeferredCall) {
  // Requested out of order; two share a time and keep their request order.
  ClockTimerHandle h30 =
      clock_->requestCallbackAt(ClockTime(0, kStart + ms(30)), recorder_.callback(30));
  ClockTimerHandle h10 =
      clock_->requestCallbackAt(ClockTime(0, kStart + ms(10)), recorder_.callback(10));
  ClockTimerHandle h20a =
      clock_->requestCallbackAt(ClockTime(0, kStart + ms(20)), recorder_.callback(21));
  ClockTimerHandle h20b =
      clock_->requestCallbackAt(ClockTime(0, kStart + ms(20)), recorder_.callback(22));
  ClockTimerHandle h50 =
      clock_->requestCallbackIn(ms(50), recorder_.callback(50), Clock::FireIfFrozen);

  generator_.advanceClock(ms(35));
  // Never inside the call that moved the clock: nothing has run yet, unless
  // the deferred thread already got to it; after the wait all three are in.
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<int>{10, 21, 22, 30}), recorder_.tags());
  for (TimerEvent const& e : recorder_.events()) {
    EXPECT_EQ(Clock::Normal, e.event);
    EXPECT_EQ(ClockTime(0, kStart + ms(35)), e.reading);
  }
  EXPECT_FALSE(h10->pending());
  EXPECT_TRUE(h50->pending());

  generator_.advanceClock(ms(15));
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<int>{10, 21, 22, 30, 50}), recorder_.tags());
}

TEST_F(SyntheticClockTest, CancelledTimerGetsCancelledOnlyAndNeverFires) {
  ClockTimerHandle handle =
      clock_->requestCallbackIn(ms(10), recorder_.callback(1), Clock::FireIfFrozen);
  handle->cancel();
  handle->cancel();  // a second cancel does nothing
  EXPECT_FALSE(handle->pending());
  generator_.advanceClock(ms(20));
  waitForDeferredCalls();
  ASSERT_EQ(1u, recorder_.size());
  EXPECT_EQ(Clock::Cancelled, recorder_.events()[0].event);
}

TEST_F(SyntheticClockTest, DroppedPlainHandleLeavesTheTimerPendingAutoHandleCancels) {
  clock_->requestCallbackIn(ms(10), recorder_.callback(1), Clock::FireIfFrozen);
  {
    AutoHandle<ClockTimerHandleObject> owned(
        clock_->requestCallbackIn(ms(10), recorder_.callback(2), Clock::FireIfFrozen));
    AutoHandle<ClockTimerHandleObject> copy(*owned.handle());
    owned.reset();  // a second owner remains
    EXPECT_EQ(0u, recorder_.size());
  }
  ASSERT_EQ(1u, recorder_.size());
  EXPECT_EQ((TimerEvent{2, Clock::Cancelled, ClockTime(0, kStart)}), recorder_.events()[0]);
  generator_.advanceClock(ms(10));
  waitForDeferredCalls();
  ASSERT_EQ(2u, recorder_.size());
  EXPECT_EQ(1, recorder_.events()[1].tag);
  EXPECT_EQ(Clock::Normal, recorder_.events()[1].event);
}

TEST_F(SyntheticClockTest, CancelRacingADueDeliveryDeliversExactlyOneEvent) {
  for (int i = 0; i < 200; ++i) {
    EventRecorder recorder;
    ClockTimerHandle handle =
        clock_->requestCallbackIn(ms(1), recorder.callback(i), Clock::FireIfFrozen);
    generator_.advanceClock(ms(1));  // due: the delivery is on its way
    std::thread canceller([&] { handle->cancel(); });
    canceller.join();
    waitForDeferredCalls();
    ASSERT_EQ(1u, recorder.size()) << "round " << i;
    Clock::Event event = recorder.events()[0].event;
    EXPECT_TRUE(event == Clock::Normal || event == Clock::Cancelled);
    EXPECT_FALSE(handle->pending());
  }
  EXPECT_EQ(0u, clock_->impl()->timerCount());
}

TEST_F(SyntheticClockTest, CallbackCancellingItsOwnTimerDoesNothingMore) {
  ClockTimerHandle handle;
  std::atomic<int> calls{0};
  handle = clock_->requestCallbackIn(
      ms(5),
      [&](Clock::Event) {
        ++calls;
        handle->cancel();
      },
      Clock::FireIfFrozen);
  generator_.advanceClock(ms(5));
  waitForDeferredCalls();
  EXPECT_EQ(1, calls.load());
}

TEST_F(SyntheticClockTest, CallbackWhoseOwnerIsGoneIsDroppedSilently) {
  clock_->requestCallbackIn(ms(5), recorder_.callback(1), Clock::FireIfFrozen);
  recorder_.kill();
  generator_.advanceClock(ms(5));
  waitForDeferredCalls();
  EXPECT_EQ(0u, recorder_.size());
  EXPECT_EQ(0u, clock_->impl()->timerCount());
}

TEST_F(SyntheticClockTest, CallbacksMayRequestTimersThatAreDueInTheSamePass) {
  EventRecorder recorder(clock_);
  auto chained = recorder.callback(2);
  clock_->requestCallbackIn(
      ms(10),
      [&, chained](Clock::Event) {
        clock_->requestCallbackIn(ms(0), chained, Clock::FireIfFrozen);
      },
      Clock::FireIfFrozen);
  generator_.advanceClock(ms(10));
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<TimerEvent>{{2, Clock::Normal, ClockTime(0, kStart + ms(10))}}),
            recorder.events());
}

TEST(SyntheticClockGeneratorTest, StartsFrozenAndTheFirstSetTimeRunsInGeneration2) {
  SyntheticClockGenerator generator;
  auto clock = generator.getClock();
  EXPECT_EQ(ClockTime(1, Time()), clock->getNormalizedClockTime());
  EXPECT_TRUE(clock->isFrozen());
  EXPECT_EQ(Time(), clock->getTime());
  generator.setTime(kStart);
  EXPECT_EQ(ClockTime(2, kStart), clock->getNormalizedClockTime());
  EXPECT_FALSE(clock->isFrozen());
}

TEST_F(SyntheticClockTest, BackwardStepsAreIgnoredUnlessAllowedAndLargeEnough) {
  testing::LogCapture capture("clock:3");
  ClockTimerHandle handle =
      clock_->requestCallbackIn(ms(100), recorder_.callback(1), Clock::FireIfFrozen);
  generator_.setTime(kStart - ms(50), false, Duration());
  EXPECT_EQ(ClockTime(0, kStart), clock_->getNormalizedClockTime());
  EXPECT_TRUE(capture.contains("Ignoring backward step in not-frozen synthetic clock "));

  generator_.setTime(kStart - ms(5), true, ms(10));
  EXPECT_EQ(ClockTime(0, kStart), clock_->getNormalizedClockTime());

  generator_.setTime(kStart - ms(50), true, ms(10));
  EXPECT_EQ(ClockTime(2, kStart - ms(50)), clock_->getNormalizedClockTime());
  waitForDeferredCalls();
  // The old generation's timer can never come due there: aborted.
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime(2, kStart - ms(50))}}),
            recorder_.events());

  generator_.setTime(kStart + ms(1));  // forward stays in the generation
  EXPECT_EQ(ClockTime(2, kStart + ms(1)), clock_->getNormalizedClockTime());
}

TEST_F(SyntheticClockTest, FreezingAbortsPendingTimersAndFrozenRequestsFollowTheirBehavior) {
  clock_->requestCallbackIn(ms(100), recorder_.callback(1), Clock::FireIfFrozen);
  generator_.freeze();
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime(1, Time())}}),
            recorder_.events());
  generator_.freeze();  // frozen stays frozen
  EXPECT_EQ(ClockTime(1, Time()), clock_->getNormalizedClockTime());

  clock_->requestCallbackIn(ms(10), recorder_.callback(2), Clock::FireIfFrozen);
  clock_->requestCallbackIn(ms(10), recorder_.callback(3), Clock::WaitUntilUnfrozen);
  waitForDeferredCalls();
  ASSERT_EQ(2u, recorder_.size());
  EXPECT_EQ((TimerEvent{2, Clock::Aborted, ClockTime(1, Time())}), recorder_.events()[1]);

  generator_.setTime(kStart + ms(500));
  waitForDeferredCalls();
  ASSERT_EQ(3u, recorder_.size());
  EXPECT_EQ((TimerEvent{3, Clock::Normal, ClockTime(2, kStart + ms(500))}), recorder_.events()[2]);
}

TEST_F(SyntheticClockTest, AFrozenTimerThatRequestsItselfAgainEndsEachPass) {
  generator_.freeze();
  std::mutex mutex;
  std::vector<std::string> trace;
  std::function<void(Clock::Event)> again = [&](Clock::Event event) {
    EXPECT_EQ(Clock::Aborted, event);
    std::lock_guard lock(mutex);
    trace.push_back("delivery");
    if (trace.size() == 1) {
      scheduleDeferred([&] {
        std::lock_guard inner(mutex);
        trace.push_back("other work");
      });
    }
    if (trace.size() < 4) clock_->requestCallbackIn(ms(1), again, Clock::FireIfFrozen);
  };
  clock_->requestCallbackIn(ms(1), again, Clock::FireIfFrozen);
  waitForDeferredCalls();
  // The re-requested timer is due at once again, but waits for the next
  // pass: other deferred work runs in between instead of a runaway pass.
  std::lock_guard lock(mutex);
  EXPECT_EQ((std::vector<std::string>{"delivery", "other work", "delivery", "delivery"}), trace);
}

TEST_F(SyntheticClockTest, AdvancingAFrozenClockIsACheckAndNegativeAdvanceAnAssertion) {
  testing::LogCapture capture("check:1");
  testing::AssertionCapture assertions;
  generator_.advanceClock(ms(-1));
  EXPECT_EQ((std::vector<std::string>{"Assertion failed: Tried to roll back a synthetic clock."}),
            assertions.messages());
  EXPECT_EQ(ClockTime(0, kStart), clock_->getNormalizedClockTime());
  generator_.freeze();
  generator_.advanceClock(ms(1));
  EXPECT_TRUE(capture.contains("Check failed !now_.isFrozen() Tried to advance a frozen clock"));
}

TEST(GenerateClockStartTimeTest, SuccessiveStartsAreAMillionSecondsApart) {
  Time a = generateClockStartTime();
  Time b = generateClockStartTime();
  EXPECT_EQ(Duration::fromSec(1000000.0), b - a);
  EXPECT_EQ(0, a.toNSec() % Duration::fromSec(1000000.0).toNSec());
}

}  // namespace
}  // namespace dravo::media
