// The same timer contract on every clock kind that a test can drive:
// delivery at the target, cancellation, dropped handles, a cancel racing the
// delivery, and destruction. (The system clock has its own tests.)

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "common/deferred.h"
#include "common/property_node.h"
#include "media_common/clock.h"
#include "media_common/clock_private.h"
#include "media_common/property_clock.h"
#include "media_common/scaled_clock.h"
#include "media_common/synthetic_clock.h"
#include "tests/media_common/clock_test_support.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

using testing::EventRecorder;

constexpr Time kStart = Time::fromNSec(6000000000000);
Duration ms(int64_t n) { return Duration::fromMSec(n); }

// Moves one clock forward and delivers what became due.
class Driver {
 public:
  virtual ~Driver() = default;
  virtual std::shared_ptr<Clock> clock() = 0;
  // Moves the clock `d` forward (in its own time); due timers are delivered
  // before this returns.
  virtual void advance(Duration d) = 0;
  // Drops the driver's references, so that the clock dies with the test's.
  virtual void release() = 0;
};

class SyntheticDriver : public Driver {
 public:
  std::shared_ptr<Clock> clock() override { return clock_; }
  void advance(Duration d) override {
    generator_->advanceClock(d);
    waitForDeferredCalls();
  }
  void release() override {
    generator_.reset();
    clock_.reset();
  }

 private:
  std::unique_ptr<SyntheticClockGenerator> generator_ =
      std::make_unique<SyntheticClockGenerator>(false, kStart);
  std::shared_ptr<Clock> clock_ = generator_->getClock();
};

class FastForwardDriver : public Driver {
 public:
  std::shared_ptr<Clock> clock() override { return clock_; }
  void advance(Duration d) override {
    Time target = clock_->getTime() + d;
    // A marker timer makes the clock stop exactly at the target.
    ClockTimerHandle marker = clock_->requestCallbackIn(
        d, [](Clock::Event) {}, Clock::FireIfFrozen);
    while (clock_->getTime() < target && scheduler_->runOne()) {
    }
  }
  void release() override { clock_.reset(); }

 private:
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<Clock> clock_ = getFastForwardClock(scheduler_, kStart);
};

class ScaledDriver : public Driver {
 public:
  std::shared_ptr<Clock> clock() override { return clock_; }
  void advance(Duration d) override {
    master_.advanceClock(d / 2);
    waitForDeferredCalls();
  }
  void release() override {
    generator_.reset();
    clock_.reset();
  }

 private:
  SyntheticClockGenerator master_{false, kStart};
  std::unique_ptr<ScaledClockGenerator> generator_ =
      std::make_unique<ScaledClockGenerator>(master_.getClock(), false, kStart, 2.0);
  std::shared_ptr<Clock> clock_ = generator_->getClock();
};

class PropertyDriver : public Driver {
 public:
  PropertyDriver() { setPropertyClock(*node_, parent_.getClock()); }
  std::shared_ptr<Clock> clock() override { return clock_; }
  void advance(Duration d) override {
    parent_.advanceClock(d);
    waitForDeferredCalls();
  }
  void release() override { clock_.reset(); }

 private:
  SyntheticClockGenerator parent_{false, kStart};
  std::shared_ptr<PropertyNode> node_ = PropertyNode::create("clock");
  std::shared_ptr<Clock> clock_ = getPropertyClock(node_, getFrozenClock());
};

struct Kind {
  const char* name;
  std::function<std::unique_ptr<Driver>()> make;
};

class ClockKindsTest : public ::testing::TestWithParam<Kind> {
 protected:
  std::unique_ptr<Driver> driver_ = GetParam().make();
  std::shared_ptr<Clock> clock_ = driver_->clock();
};

TEST_P(ClockKindsTest, ADueTimerIsDeliveredNormalOnceAtItsTime) {
  EventRecorder recorder(clock_);
  ClockTime target = clock_->getNormalizedClockTime() + ms(40);
  ClockTimerHandle handle = clock_->requestCallbackAt(target, recorder.callback(1));
  driver_->advance(ms(38));
  EXPECT_EQ(0u, recorder.size());
  EXPECT_TRUE(handle->pending());
  driver_->advance(ms(2));
  ASSERT_EQ(1u, recorder.size());
  EXPECT_EQ(Clock::Normal, recorder.events()[0].event);
  EXPECT_EQ(target, recorder.events()[0].reading);
  EXPECT_FALSE(handle->pending());
  driver_->advance(ms(100));
  EXPECT_EQ(1u, recorder.size());
}

TEST_P(ClockKindsTest, CancelledAndAutoHandledTimersGetCancelledDroppedHandlesFire) {
  EventRecorder recorder(clock_);
  ClockTimerHandle cancelled =
      clock_->requestCallbackIn(ms(10), recorder.callback(1), Clock::FireIfFrozen);
  cancelled->cancel();
  {
    AutoHandle<ClockTimerHandleObject> owned(
        clock_->requestCallbackIn(ms(10), recorder.callback(2), Clock::FireIfFrozen));
  }
  clock_->requestCallbackIn(ms(10), recorder.callback(3), Clock::FireIfFrozen);  // handle dropped
  driver_->advance(ms(10));
  ASSERT_EQ((std::vector<int>{1, 2, 3}), recorder.tags());
  EXPECT_EQ(Clock::Cancelled, recorder.events()[0].event);
  EXPECT_EQ(Clock::Cancelled, recorder.events()[1].event);
  EXPECT_EQ(Clock::Normal, recorder.events()[2].event);
}

TEST_P(ClockKindsTest, ACancelRacingTheDeliveryFromAnotherThreadGivesOneEvent) {
  for (int round = 0; round < 50; ++round) {
    EventRecorder recorder;
    ClockTimerHandle handle =
        clock_->requestCallbackIn(ms(1), recorder.callback(round), Clock::FireIfFrozen);
    std::thread canceller([&] { handle->cancel(); });
    driver_->advance(ms(1));
    canceller.join();
    ASSERT_EQ(1u, recorder.size()) << "round " << round;
    EXPECT_NE(Clock::Aborted, recorder.events()[0].event);
  }
  EXPECT_EQ(0u, clock_->impl()->timerCount());
}

TEST_P(ClockKindsTest, DestroyingTheClockAbortsWhatIsPending) {
  EventRecorder recorder;
  clock_->requestCallbackIn(ms(10), recorder.callback(1), Clock::FireIfFrozen);
  clock_->requestCallbackIn(ms(20), recorder.callback(2), Clock::WaitUntilUnfrozen);
  driver_->release();
  clock_.reset();
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<int>{1, 2}), recorder.tags());
  for (auto const& e : recorder.events()) EXPECT_EQ(Clock::Aborted, e.event);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, ClockKindsTest,
    ::testing::Values(
        Kind{"Synthetic", [] { return std::unique_ptr<Driver>(new SyntheticDriver); }},
        Kind{"FastForward", [] { return std::unique_ptr<Driver>(new FastForwardDriver); }},
        Kind{"Scaled", [] { return std::unique_ptr<Driver>(new ScaledDriver); }},
        Kind{"Property", [] { return std::unique_ptr<Driver>(new PropertyDriver); }}),
    [](::testing::TestParamInfo<Kind> const& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dravo::media
