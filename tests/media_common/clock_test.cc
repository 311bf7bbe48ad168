// Every clock kind: the timer contract each drivable kind keeps, then what
// the synthetic, system, scaled and property clocks, repeating timers and
// the scheduler blocker do alone. Wall-clock timings are checked only in the
// direction that cannot flake: never before the target.

#include "media_common/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "common/deferred.h"
#include "common/property_node.h"
#include "media_common/clock_private.h"
#include "media_common/property_clock.h"
#include "media_common/repeating_timer.h"
#include "media_common/scaled_clock.h"
#include "media_common/scheduler_blocker.h"
#include "media_common/synthetic_clock.h"
#include "media_common/trivial_scheduler.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

constexpr Time kStart = Time::fromNSec(5000000000000);
Duration ms(int64_t n) { return Duration::fromMSec(n); }
Duration sec(double s) { return Duration::fromSec(s); }
ClockTime at(int64_t milliseconds, unsigned generation = 0) {
  return ClockTime(generation, kStart + ms(milliseconds));
}

// One timer event as a recorder saw it.
struct TimerEvent {
  int tag;
  Clock::Event event;
  ClockTime reading;  // the clock's reading when the event arrived
  bool operator==(TimerEvent const&) const = default;
};

// Records timer events with the clock reading at delivery, from whatever
// thread delivers them.
class EventRecorder {
 public:
  explicit EventRecorder(std::shared_ptr<Clock> clock = nullptr) : clock_(std::move(clock)) {}
  // A weak callback that records `tag`; it dies with the recorder.
  WeakFunction<void(Clock::Event)> callback(int tag) {
    return WeakFunction<void(Clock::Event)>(owner_, [this, tag](Clock::Event event) {
      ClockTime reading = clock_ ? clock_->getNormalizedClockTime() : ClockTime();
      std::lock_guard lock(mutex_);
      events_.push_back({tag, event, reading});
    });
  }
  std::vector<TimerEvent> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<int> tags() const {
    std::vector<int> result;
    for (auto const& e : events()) result.push_back(e.tag);
    return result;
  }

 private:
  std::shared_ptr<Clock> clock_;
  mutable std::mutex mutex_;
  std::vector<TimerEvent> events_;
  std::shared_ptr<void const> owner_ = std::make_shared<int>(0);
};

enum Kind { kSynthetic, kFastForward, kScaled, kProperty };

// Owns one clock of the kind under test and whatever drives it.
struct Driver {
  explicit Driver(int kind) : kind(kind) {
    if (kind == kFastForward) clock = getFastForwardClock(scheduler, kStart);
    if (kind == kScaled) clock = scaled.getClock();
    if (kind == kProperty) {
      setPropertyClock(*node, synthetic.getClock());
      clock = getPropertyClock(node, getFrozenClock());
    }
  }
  // Moves the clock `d` forward in its own time; due timers are delivered
  // before this returns.
  void advance(Duration d) {
    if (kind != kFastForward) {
      synthetic.advanceClock(kind == kScaled ? d / 2 : d);
      return waitForDeferredCalls();
    }
    Time target = clock->getTime() + d;
    // A marker timer makes the clock, which leaps when idle, stop exactly there.
    ClockTimerHandle marker = clock->requestCallbackIn(
        d, [](Clock::Event) {}, Clock::FireIfFrozen);
    while (clock->getTime() < target && scheduler->runOne()) {
    }
  }
  int kind;
  std::shared_ptr<testing::ManualScheduler> scheduler =
      std::make_shared<testing::ManualScheduler>();
  SyntheticClockGenerator synthetic{false, kStart};
  ScaledClockGenerator scaled{synthetic.getClock(), false, kStart, 2.0};
  std::shared_ptr<PropertyNode> node = PropertyNode::create("clock");
  std::shared_ptr<Clock> clock = synthetic.getClock();
};

// A clock of the kind the parameter names, with its driver.
class ClockKindsTest : public ::testing::TestWithParam<int> {
 protected:
  std::unique_ptr<Driver> driver_ = std::make_unique<Driver>(GetParam());
  std::shared_ptr<Clock> clock_ = driver_->clock;
};

TEST_P(ClockKindsTest, TimersFireOnceAtTheirTimeUnlessCancelled) {
  EventRecorder recorder(clock_);
  ClockTime target = clock_->getNormalizedClockTime() + ms(40);
  ClockTimerHandle due = clock_->requestCallbackAt(target, recorder.callback(1));
  clock_->requestCallbackIn(ms(10), recorder.callback(2), Clock::FireIfFrozen)->cancel();
  AutoHandle<ClockTimerHandleObject>(
      clock_->requestCallbackIn(ms(10), recorder.callback(3), Clock::FireIfFrozen));
  clock_->requestCallbackIn(ms(10), recorder.callback(4), Clock::FireIfFrozen);  // handle dropped
  driver_->advance(ms(39));
  ASSERT_EQ((std::vector<int>{2, 3, 4}), recorder.tags());
  for (int i : {0, 1}) EXPECT_EQ(Clock::Cancelled, recorder.events()[i].event);
  EXPECT_EQ(Clock::Normal, recorder.events()[2].event);
  driver_->advance(ms(1));
  ASSERT_EQ(4u, recorder.events().size());
  EXPECT_EQ((TimerEvent{1, Clock::Normal, target}), recorder.events()[3]);
  EXPECT_FALSE(due->pending());
  driver_->advance(ms(100));
  EXPECT_EQ(4u, recorder.events().size());
}

TEST_P(ClockKindsTest, DestroyingTheClockAbortsWhatIsPendingOnTheDestroyingThread) {
  EventRecorder recorder;
  std::thread::id delivered_on;
  clock_->requestCallbackIn(ms(10), recorder.callback(1), Clock::FireIfFrozen);
  clock_->requestCallbackIn(ms(20), recorder.callback(2), Clock::WaitUntilUnfrozen);
  clock_->requestCallbackIn(
      ms(30), [&](Clock::Event) { delivered_on = std::this_thread::get_id(); },
      Clock::FireIfFrozen);
  clock_.reset();
  driver_.reset();  // a generator holds its clock too
  EXPECT_EQ(std::this_thread::get_id(), delivered_on);
  EXPECT_EQ(
      (std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime()}, {2, Clock::Aborted, ClockTime()}}),
      recorder.events());
}

INSTANTIATE_TEST_SUITE_P(AllKinds, ClockKindsTest, ::testing::Range(0, 4),
                         [](::testing::TestParamInfo<int> const& info) {
                           return std::string((char const*[]){"Synthetic", "FastForward", "Scaled",
                                                              "Property"}[info.param]);
                         });

// A running synthetic clock at kStart and a recorder that reads it.
class SyntheticClockTest : public ::testing::Test {
 protected:
  void advance(Duration d) {
    generator_.advanceClock(d);
    waitForDeferredCalls();
  }

  SyntheticClockGenerator generator_{false, kStart};
  std::shared_ptr<Clock> clock_ = generator_.getClock();
  EventRecorder recorder_{clock_};
};

TEST_F(SyntheticClockTest, AdvancingDeliversDueTimersInTimeOrderInOnePass) {
  // Requested out of order; two share a time and keep their request order.
  for (int tag : {30, 10, 21, 22})
    clock_->requestCallbackAt(at(tag / 10 * 10), recorder_.callback(tag));
  // A callback that requests one due in the same pass.
  auto chained = recorder_.callback(5);
  clock_->requestCallbackIn(
      ms(5),
      [&, chained](Clock::Event) {
        clock_->requestCallbackIn(ms(0), chained, Clock::FireIfFrozen);
      },
      Clock::FireIfFrozen);
  advance(ms(35));
  EXPECT_EQ((std::vector<int>{10, 21, 22, 30, 5}), recorder_.tags());
  for (TimerEvent const& e : recorder_.events())
    EXPECT_EQ((TimerEvent{e.tag, Clock::Normal, at(35)}), e);
}

TEST(SyntheticClockGeneratorTest, FreezingAbortsTimersAndFrozenRequestsFollowTheirBehavior) {
  SyntheticClockGenerator generator;  // starts frozen
  auto clock = generator.getClock();
  EventRecorder recorder(clock);
  // (1, t) is normalized to (1, 0): due on the frozen clock at once.
  clock->requestCallbackAt(ClockTime(1, kStart), recorder.callback(1));
  waitForDeferredCalls();
  generator.setTime(kStart);
  clock->requestCallbackIn(ms(100), recorder.callback(2), Clock::FireIfFrozen);
  generator.freeze();
  clock->requestCallbackIn(ms(10), recorder.callback(3), Clock::FireIfFrozen);
  clock->requestCallbackIn(ms(10), recorder.callback(4), Clock::WaitUntilUnfrozen);
  waitForDeferredCalls();
  generator.setTime(kStart + ms(500));
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime(1, Time())},
                                     {2, Clock::Aborted, ClockTime(3, Time())},
                                     {3, Clock::Aborted, ClockTime(3, Time())},
                                     {4, Clock::Normal, at(500, 4)}}),
            recorder.events());
}

TEST_F(SyntheticClockTest, CancelWaitsForACallbackRunningElsewhereButNotInsideIt) {
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> calls{0};
  std::atomic<bool> finished{false};
  ClockTimerHandle handle;
  handle = clock_->requestCallbackIn(
      ms(10),
      [&](Clock::Event) {
        ++calls;
        handle->cancel();  // its own timer: must not wait for itself
        entered.set_value();
        released.wait();
        finished = true;
      },
      Clock::FireIfFrozen);
  generator_.advanceClock(ms(10));
  ASSERT_EQ(std::future_status::ready, entered.get_future().wait_for(std::chrono::seconds(30)));
  std::promise<bool> finished_when_cancel_returned;
  std::future<bool> cancel_returned = finished_when_cancel_returned.get_future();
  std::thread canceller([&] {
    handle->cancel();
    finished_when_cancel_returned.set_value(finished);
  });
  // Time for a cancel that does not wait to return while the callback runs.
  cancel_returned.wait_for(std::chrono::milliseconds(100));
  release.set_value();
  EXPECT_TRUE(cancel_returned.get());
  canceller.join();
  EXPECT_EQ(1, calls.load());
}

TEST_F(SyntheticClockTest, SleepIsTrueWhenReachedFalseWhenAbortedOrDestroyed) {
  ClockPrivate* impl = clock_->impl().get();
  // `sleep`'s result on another thread when `then` runs once it waits.
  auto sleepOnAnotherThread = [&](std::function<bool()> sleep, std::function<void()> then) {
    std::atomic<int> result{-1};
    std::thread sleeper([&] { result = sleep(); });
    while (impl->timerCount() == 0) std::this_thread::yield();
    then();
    sleeper.join();
    EXPECT_EQ(0u, impl->timerCount());
    return result.load();
  };
  EXPECT_EQ(1, sleepOnAnotherThread([&] { return clock_->sleep(ms(30), Clock::FireIfFrozen); },
                                    [&] { generator_.advanceClock(ms(30)); }));
  EXPECT_EQ(0, sleepOnAnotherThread([&] { return clock_->sleepUntil(at(100)); },
                                    [&] { generator_.freeze(); }));
  // The sleeper's copy keeps the clock alive; finalize aborts as the last
  // owner's release would.
  Clock copy = *clock_;
  EXPECT_EQ(0, sleepOnAnotherThread([&] { return copy.sleep(ms(30), Clock::WaitUntilUnfrozen); },
                                    [&] { impl->finalize(); }));
}

TEST(SystemClockTest, TimersFireNotBeforeTheirTargetInTimeOrderAndOtherGenerationsAtDestruction) {
  auto clock = getSystemClock();
  EventRecorder never;  // queued first, but can never come due
  clock->requestCallbackAt(ClockTime(2, Time()), never.callback(1));
  auto recorder = std::make_unique<EventRecorder>(clock);  // holds the clock
  ClockTime start = clock->getNormalizedClockTime();
  // Requested latest first: each earlier one re-arms the wake-up.
  for (int tag : {30, 20, 10}) clock->requestCallbackAt(start + ms(tag), recorder->callback(tag));
  clock->requestCallbackAt(ClockTime(0, Time()), recorder->callback(0));  // past: at once
  while (recorder->events().size() < 4) std::this_thread::yield();
  EXPECT_EQ((std::vector<int>{0, 10, 20, 30}), recorder->tags());
  for (auto const& e : recorder->events()) EXPECT_GE(e.reading, start + ms(e.tag));
  EXPECT_EQ(0u, never.events().size());
  recorder.reset();
  clock.reset();  // the clock dies on whichever thread lets go last
  while (never.events().size() < 1) std::this_thread::yield();
  EXPECT_EQ(Clock::Aborted, never.events()[0].event);
}

TEST_F(SyntheticClockTest, ARepeatingTimerKeepsItsCadenceAcrossLateCallsJumpsFreezesAndChanges) {
  auto owner = std::make_shared<int>(0);
  RepeatingTimer timer(
      clock_,
      WeakFunction<void()>(owner, [record = recorder_.callback(0)] { record(Clock::Normal); }),
      ms(40));
  // '+' advances, 'j' jumps back to, 's' sets the frozen clock running at,
  // 'f' freezes, 'i' sets the interval (ms); then the calls so far and the last.
  struct Step {
    char action;
    int64_t arg;
    size_t calls;
    ClockTime last;
  } const steps[] = {
      {'+', 100, 2, at(100)},                            // targets 40 and 80, in one pass
      {'+', 65, 4, at(165)},                             // 120, then 5 ms late
      {'+', 34, 4, at(165)},      {'+', 1, 5, at(200)},  // 200, not 205
      {'j', 160, 5, at(200)},                            // generation 2: the due call is skipped
      {'+', 40, 6, at(200, 2)},   {'f', 0, 6, at(200, 2)},
      {'s', 1000, 6, at(200, 2)},  // generation 4
      {'+', 40, 7, at(1040, 4)},  {'i', 0, 7, at(1040, 4)},
      {'+', 200, 7, at(1040, 4)}, {'i', 50, 7, at(1040, 4)},  // restarts from now
      {'+', 49, 7, at(1040, 4)},  {'+', 1, 8, at(1290, 4)},
      {'+', 19, 8, at(1290, 4)},  {'i', 5, 9, at(1309, 4)},  // 1295 is past: now
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    Step const& step = steps[i];
    SCOPED_TRACE(::testing::Message() << "step " << i << " " << step.action << step.arg);
    if (step.action == '+') generator_.advanceClock(ms(step.arg));
    if (step.action == 'j') generator_.setTime(kStart + ms(step.arg), true, Duration());
    if (step.action == 's') generator_.setTime(kStart + ms(step.arg));
    if (step.action == 'f') generator_.freeze();
    if (step.action == 'i') timer.setInterval(ms(step.arg));
    waitForDeferredCalls();
    // Frozen: waiting, not spinning. Interval 0: nothing left.
    if (step.action == 'f' || (step.action == 'i' && step.arg == 0)) {
      EXPECT_EQ(step.action == 'f' ? 1u : 0u, clock_->impl()->timerCount());
    }
    auto const seen = recorder_.events();
    ASSERT_EQ(step.calls, seen.size());
    EXPECT_EQ(step.last, seen.back().reading);
  }
}

TEST_F(SyntheticClockTest, ARepeatingTimerStopsWithItsLastCopyFromItsOwnFunctionOrWithItsOwner) {
  auto owner = std::make_shared<int>(0);
  WeakFunction<void()> record(owner, [r = recorder_.callback(1)] { r(Clock::Normal); });
  {
    RepeatingTimer timer(clock_, record, ms(40));
    RepeatingTimer copy = timer;
    { RepeatingTimer moved = std::move(copy); }
    EXPECT_EQ(1u, clock_->impl()->timerCount());
  }
  EXPECT_EQ(0u, clock_->impl()->timerCount());
  RepeatingTimer* self = nullptr;
  int count = 0;
  RepeatingTimer stopping(clock_,
                          WeakFunction<void()>(owner,
                                               [&] {
                                                 if (++count == 2) self->setInterval(Duration());
                                               }),
                          ms(10));
  self = &stopping;
  RepeatingTimer timer(clock_, record, ms(40));
  advance(ms(40));
  EXPECT_EQ(2, count);
  EXPECT_EQ(1u, clock_->impl()->timerCount());
  owner.reset();
  advance(ms(200));
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Normal, at(40)}}), recorder_.events());
}

TEST_F(SyntheticClockTest, AScaledClockOverItFiresTimersAtTheScaledTimeNeverEarly) {
  ScaledClockGenerator generator(clock_, false, kStart, 0.5);
  auto scaled = generator.getClock();
  EventRecorder recorder(scaled);
  // Odd nanoseconds: the inverse mapping must round up, not re-arm forever.
  scaled->requestCallbackAt(ClockTime(0, kStart + sec(1.0) + Duration::fromNSec(1)),
                            recorder.callback(1));
  advance(sec(2.0) + Duration::fromNSec(1));
  EXPECT_EQ(at(1000), scaled->getNormalizedClockTime());  // truncated
  EXPECT_EQ(0u, recorder.events().size());
  advance(Duration::fromNSec(1));
  EXPECT_EQ(1u, recorder.events().size());
  // At rate zero timers wait until the rate changes.
  generator.setScaling(0.0);
  scaled->requestCallbackIn(ms(100), recorder.callback(2), Clock::FireIfFrozen);
  advance(sec(10.0));
  EXPECT_EQ(1u, recorder.events().size());
  generator.setScaling(2.0);
  advance(ms(50));
  EXPECT_EQ(2u, recorder.events().size());
}

TEST_F(SyntheticClockTest, AScaledClocksRateChangesKeepTheReadingAndHardSetsAndFreezesAbort) {
  testing::AssertionCapture assertions;
  ScaledClockGenerator generator(clock_, false, kStart, 1.0);
  auto scaled = generator.getClock();
  EventRecorder recorder(scaled);
  scaled->requestCallbackIn(sec(100.0), recorder.callback(1), Clock::FireIfFrozen);
  advance(sec(1.0));
  generator.setScaling(-1.0);
  EXPECT_EQ(std::vector<std::string>{"Assertion failed: Tried to set clock with negative scaling."},
            assertions.messages());
  generator.setScaling(3.0);  // from the current reading on
  advance(sec(1.0));
  EXPECT_EQ(at(4000), scaled->getNormalizedClockTime());
  generator.freeze();
  generator.setScaling(5.0);  // ignored
  advance(sec(1.0));
  EXPECT_EQ(ClockTime(1, Time()), scaled->getNormalizedClockTime());
  // On a frozen clock a soft set is a hard one.
  generator.setTimeAndScalingSoftly(kStart + sec(7.0), 1.0);
  EXPECT_EQ(at(7000, 2), scaled->getNormalizedClockTime());
  // A hard set passes through a frozen generation.
  scaled->requestCallbackIn(sec(100.0), recorder.callback(2), Clock::FireIfFrozen);
  generator.setTimeAndScaling(kStart + sec(50.0), 2.0);
  waitForDeferredCalls();
  // A master in a later generation makes it read frozen, until set.
  scaled->requestCallbackIn(sec(100.0), recorder.callback(3), Clock::FireIfFrozen);
  generator_.setTime(kStart - sec(100.0), true, Duration());
  waitForDeferredCalls();
  EXPECT_EQ(ClockTime(5, Time()), scaled->getNormalizedClockTime());
  generator.setTimeAndScaling(kStart, 0.5);
  advance(sec(1.0));
  EXPECT_EQ(at(500, 6), scaled->getNormalizedClockTime());
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime(1, Time())},
                                     {2, Clock::Aborted, at(50000, 4)},
                                     {3, Clock::Aborted, ClockTime(5, Time())}}),
            recorder.events());
}

TEST_F(SyntheticClockTest, AScaledClockSoftSetAheadOfTheWindowStandsStillBehindJumpsInsideRates) {
  ScaledClockGenerator generator(clock_, false, kStart, 1.0);
  auto scaled = generator.getClock();
  EventRecorder recorder(scaled);
  for (int tag : {1, 2}) scaled->requestCallbackAt(at(tag * 1000), recorder.callback(tag));
  // The target timeline 3 s behind: still for 3 s, then running.
  generator.setTimeAndScalingSoftly(kStart - sec(3.0), 1.0);
  advance(sec(3.0));
  EXPECT_EQ(at(0), scaled->getNormalizedClockTime());
  advance(sec(1.0));
  // Behind the window: a jump forward, and timers passed over are Normal.
  generator.setTimeAndScalingSoftly(kStart + sec(3.0), kStart + sec(4.0), 1.0);
  waitForDeferredCalls();
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Normal, at(1000)}, {2, Clock::Normal, at(3000)}}),
            recorder.events());
  // Inside the window only the rate changes: an earlier pause leaves a zero
  // rate before the anchor, and the reading must not step.
  generator.setTimeAndScalingSoftly(kStart + sec(2.5), 1.0);
  advance(ms(200));
  EXPECT_EQ(at(3000), scaled->getNormalizedClockTime());
  generator.setTimeAndScalingSoftly(kStart + sec(2.0), kStart + sec(4.0), 2.0);
  EXPECT_EQ(at(3000), scaled->getNormalizedClockTime());
  advance(ms(100));
  EXPECT_EQ(at(3200), scaled->getNormalizedClockTime());
}

TEST_F(SyntheticClockTest, AScaledClockSlewsFastOrSlowUntilTheOffsetIsAbsorbedWithoutStepping) {
  struct Case {
    int64_t offset_ms;
    double min, max;
    int64_t after_2s_ns;  // the reading after 2 s of the master
  } const cases[] = {
      // 1.1 for 999,999,999 ns (the offset over the rate difference,
      // truncated), then 1.0 for 1,000,000,001 ns.
      {100, 0.9, 1.1, 1099999998 + 1000000001},
      {-100, 0.5, 1.5, 1900000000},  // absorbed at 0.5 over 200 ms
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.offset_ms);
    ScaledClockGenerator generator(clock_, false, kStart, 1.0);
    auto scaled = generator.getClock();
    EventRecorder recorder(scaled);
    scaled->requestCallbackIn(ms(500), recorder.callback(1), Clock::FireIfFrozen);
    generator.slewClock(ms(c.offset_ms), c.min, c.max, sec(1.0), 1.0);
    Time previous = kStart;
    for (int step = 0; step < 20; ++step) {
      advance(ms(100));
      EXPECT_GE(scaled->getTime(), previous) << "step " << step;
      previous = scaled->getTime();
    }
    EXPECT_EQ(kStart + Duration::fromNSec(c.after_2s_ns), previous);
    ASSERT_EQ(1u, recorder.events().size());
    EXPECT_EQ(Clock::Normal, recorder.events()[0].event);  // a slew aborts nothing
    // Beyond the threshold a slew is a hard set.
    generator.slewClock(ms(c.offset_ms * 50), c.min, c.max, sec(1.0), 1.0);
    EXPECT_EQ(ClockTime(2, previous + ms(c.offset_ms * 50)), scaled->getNormalizedClockTime());
  }
}

TEST(ScaledClockOnAFrozenMasterTest, TimersWaitWithoutSpinningUntilTheMasterRuns) {
  SyntheticClockGenerator master;  // frozen
  ScaledClockGenerator generator(master.getClock(), false, kStart, 1.0);
  auto clock = generator.getClock();  // running, but standing still
  EventRecorder recorder(clock);
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
  master.setTime(kStart, false, Duration());
  waitForDeferredCalls();
  waiter.join();
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime(1, Time())}}),
            recorder.events());
}

constexpr Time kTimeB = Time::fromNSec(2000000000000);

// A property clock's node, and two running synthetic clocks to put in it.
class PropertyClockTest : public ::testing::Test {
 protected:
  std::shared_ptr<PropertyNode> node_ = PropertyNode::create("clock");
  SyntheticClockGenerator a_{false, kStart};
  SyntheticClockGenerator b_{false, kTimeB};
};

TEST_F(PropertyClockTest, GenerationsIncreaseAcrossSwitchesAndTheParentsOwnChangesAndAbortTimers) {
  auto c = std::make_unique<SyntheticClockGenerator>(false, kTimeB);
  setPropertyClock(*node_, a_.getClock());
  auto clock = getPropertyClock(node_, getFrozenClock());
  EventRecorder recorder(clock);
  clock->requestCallbackIn(ms(100), recorder.callback(1), Clock::FireIfFrozen);
  struct Step {
    char const* what;
    std::function<void()> act;
    ClockTime expected;
  } const steps[] = {
      {"on A", [] {}, at(0, 2)},
      {"the frozen default", [&] { setPropertyClock(*node_, nullptr); }, ClockTime(3, Time())},
      {"A again", [&] { setPropertyClock(*node_, a_.getClock()); }, at(0, 4)},
      {"B", [&] { setPropertyClock(*node_, b_.getClock()); }, ClockTime(6, kTimeB)},
      {"B freezes", [&] { b_.freeze(); }, ClockTime(7, Time())},
      {"B runs again", [&] { b_.setTime(kTimeB); }, ClockTime(8, kTimeB)},
      {"a switch after changes nobody read",
       [&] {
         b_.freeze();
         b_.setTime(kTimeB + ms(1));
         setPropertyClock(*node_, a_.getClock());
       },
       at(0, 12)},
      {"C, which dies: the node held it weakly",
       [&] {
         setPropertyClock(*node_, c->getClock());
         c.reset();
       },
       ClockTime(15, Time())},
  };
  for (Step const& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    waitForDeferredCalls();
    EXPECT_EQ(step.expected, clock->getNormalizedClockTime());
  }
  // Promptly, at the first switch.
  EXPECT_EQ((std::vector<TimerEvent>{{1, Clock::Aborted, ClockTime(3, Time())}}),
            recorder.events());
}

// A started trivial scheduler (tasks on the deferred thread) to block.
class SchedulerBlockerTest : public ::testing::Test {
 protected:
  SchedulerBlockerTest() { scheduler_->start(); }
  ~SchedulerBlockerTest() override { scheduler_->shutdown(true); }
  // Queues a task that bumps `counter`.
  void post(std::atomic<int>& counter, Priority priority = Priority(0, false)) {
    scheduler_->schedule(TaskFunction(owner_, [&counter] { ++counter; }), priority, nullptr);
  }

  std::shared_ptr<Scheduler> scheduler_ = createTrivialScheduler();
  std::shared_ptr<int> owner_ = std::make_shared<int>(0);
};

TEST_F(SchedulerBlockerTest, SleepOnAFastForwardClockAdvancesItExactly) {
  auto clock = getFastForwardClock(scheduler_, kStart);
  // Blocked before the clock has anything to leap to: set-up cannot race it.
  SchedulerBlocker blocker(scheduler_);
  std::atomic<int> ticks{0};
  // Work the clock itself drives, every 300 ms of simulated time.
  std::function<void()> tick = [&] {
    ++ticks;
    clock->scheduleInNormalOnly(ms(300), scheduler_, Priority(0, false), nullptr,
                                WeakFunction<void()>(owner_, tick), Clock::FireIfFrozen);
  };
  tick();
  EXPECT_TRUE(blocker.sleep(*clock, sec(10.0), Clock::FireIfFrozen));
  EXPECT_EQ(at(10000), clock->getNormalizedClockTime());
  EXPECT_EQ(1 + 33, ticks.load());
  owner_.reset();  // stop the chain before the blocker lets go
}

TEST_F(SchedulerBlockerTest, BlocksAfterQueuedWorkSleepsOnASyntheticClockAndReleasesHeldWork) {
  testing::LogCapture capture("scheduler_blocker:3");
  SyntheticClockGenerator generator(false, kStart);
  auto clock = generator.getClock();
  std::atomic<int> chained{0}, work{0};  // outlive the blocker, which runs the last task
  // Each task queues the next: the work still grows while the blocker is set up.
  std::function<void()> chain = [&] {
    if (++chained < 100)
      scheduler_->schedule(TaskFunction(owner_, chain), Priority(0, false), nullptr);
  };
  chain();
  clock->scheduleInNormalOnly(ms(40), scheduler_, Priority(0, false), nullptr,
                              WeakFunction<void()>(owner_, [&] { ++work; }), Clock::FireIfFrozen);
  {
    SchedulerBlocker blocker(scheduler_);
    EXPECT_EQ(100, chained.load());
    std::atomic<bool> first_sleep_done{false};
    std::thread driver([&] {
      // Two timers: the work's and, once the blocker sleeps, the blocker's.
      while (clock->impl()->timerCount() < 2) std::this_thread::yield();
      generator.advanceClock(ms(40));
      while (!first_sleep_done || clock->impl()->timerCount() < 1) std::this_thread::yield();
      generator.freeze();
    });
    EXPECT_TRUE(blocker.sleep(*clock, ms(40), Clock::FireIfFrozen));
    EXPECT_EQ(1, work.load());  // the scheduler ran what became due
    first_sleep_done = true;
    EXPECT_FALSE(blocker.sleep(*clock, sec(1.0), Clock::FireIfFrozen));
    driver.join();
    EXPECT_TRUE(capture.contains("SchedulerBlocker sleep terminated abnormally."));
    post(work);  // still blocked: a queued task waits
    EXPECT_EQ(1, work.load());
  }
  EXPECT_EQ(2, work.load());
}

TEST_F(SchedulerBlockerTest, SleepOnTheSystemClockIsTrueWhenTheTimerBeatsTheRequestBack) {
  // Due at once: the timer thread delivers while `sleep` is still on its way
  // back from the request.
  auto clock = getSystemClock();
  SchedulerBlocker blocker(scheduler_);
  for (int i = 0; i < 200; ++i)
    ASSERT_TRUE(blocker.sleep(*clock, Duration(), Clock::FireIfFrozen)) << "sleep " << i;
}

}  // namespace
}  // namespace dravo::media
