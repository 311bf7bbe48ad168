#include "media_common/scaled_clock.h"

#include <cmath>

#include "common/logging.h"
#include "media_common/derived_clock.h"

DRAVO_LOGGER("clock");

namespace dravo::media {

namespace {

// A duration times a rate, in double nanoseconds truncated toward zero.
Duration scale(Duration d, double rate) {
  return Duration::fromNSec(static_cast<int64_t>(static_cast<double>(d.toNSec()) * rate));
}

Duration divide(Duration d, double rate) {
  return Duration::fromNSec(static_cast<int64_t>(static_cast<double>(d.toNSec()) / rate));
}

}  // namespace

// Follows `master_` through the anchor point and rates (see scaled_clock.h).
// Owned by its generator's `Clock`; its state is guarded by the clock mutex.
class ScaledClock : public DerivedClock {
 public:
  ScaledClock(std::shared_ptr<Clock> master, bool frozen, Time start, double scaling)
      : master_(std::move(master)),
        scaling_before_origin_(scaling),
        scaling_after_origin_(scaling),
        master_origin_(master_->getNormalizedClockTime()),
        scaled_origin_(frozen ? ClockTime(1, Time()) : ClockTime(0, start)) {
    DRAVO_ASSERT_MSG(scaling >= 0, "Tried to set clock with negative scaling.");
  }
  ~ScaledClock() override { shutdown(); }

  ClockTime getNormalizedClockTime() override DRAVO_REQUIRES(mutex_) {
    ClockTime master_now = master_->getNormalizedClockTime();
    DRAVO_CHECK_GE(ClockTimePrivate::generation(master_now),
                   ClockTimePrivate::generation(master_origin_));
    return toScaledTime(master_now);
  }

  void setScaling(double scaling) {
    RecursiveMutexLock lock(mutex_);
    DRAVO_ASSERT_MSG(scaling >= 0, "Tried to set clock with negative scaling.");
    if (scaling < 0) return;
    ClockTime master_now = master_->getNormalizedClockTime();
    if (master_now.isFrozen() || scaled_origin_.isFrozen()) return;
    scaled_origin_ = toScaledTime(master_now);
    master_origin_ = master_now;
    scaling_before_origin_ = scaling_after_origin_ = scaling;
    redoSchedulingAfterClockingChange();
  }

  void setTimeAndScaling(Time t, double scaling) {
    RecursiveMutexLock lock(mutex_);
    setTimeAndScalingLocked(t, scaling);
  }

  void setTimeAndScalingSoftly(Time new_time_min, Time new_time_max, double new_scaling) {
    RecursiveMutexLock lock(mutex_);
    DRAVO_ASSERT_MSG(new_scaling >= 0, "Tried to set clock with negative scaling.");
    if (new_scaling < 0) return;
    DRAVO_CHECK(new_time_max >= new_time_min);
    ClockTime master_now = master_->getNormalizedClockTime();
    ClockTime now = toScaledTime(master_now);
    if (now.isFrozen()) {
      setTimeAndScalingLocked(new_time_min, new_scaling);
      return;
    }
    scaling_before_origin_ = scaling_after_origin_ = new_scaling;
    Duration const large_jump = Duration::fromSec(5.0);
    if (new_time_min - now.time() > large_jump || now.time() - new_time_max > large_jump) {
      LOGS(3) << "setTimeAndScalingSoftly doing a large jump, is this intentional? now: " << now
              << " new_time_min: " << new_time_min << " new_time_max: " << new_time_max;
    }
    Duration ahead = now.time() - new_time_max;
    if (ahead > Duration()) {
      if (new_scaling == 0) {
        LOGF(3,
             "setTimeAndScalingSoftly knows how to handle new_scaling == 0, but is this really "
             "what you want? If you have a use case, kill this message.");
        master_origin_ = master_now;
        scaled_origin_ = now;
      } else {
        // Stand still until the target timeline catches up, then run.
        scaling_before_origin_ = 0;
        master_origin_ = master_now + divide(ahead, new_scaling);
        scaled_origin_ = now;
      }
    } else if (now.time() < new_time_min) {
      scaled_origin_ = ClockTime(now, new_time_min);
      master_origin_ = master_now;
    } else {
      // Inside the window: re-anchor at the current reading so that the new
      // rate applies from here on and the reading never steps.
      master_origin_ = master_now;
      scaled_origin_ = now;
    }
    redoSchedulingAfterClockingChange();
  }

  void slewClock(Duration min_offset, Duration max_offset, double min_scaling, double max_scaling,
                 Duration jump_threshold, double target_scaling) {
    RecursiveMutexLock lock(mutex_);
    slewClockLocked(master_->getNormalizedClockTime(), min_offset, max_offset, target_scaling,
                    min_scaling, max_scaling, jump_threshold);
  }

  void slewClock(Time min_target_now, Time max_target_now, double min_scaling, double max_scaling,
                 Duration jump_threshold, double target_scaling) {
    RecursiveMutexLock lock(mutex_);
    ClockTime master_now = master_->getNormalizedClockTime();
    ClockTime now = toScaledTime(master_now);
    if (now.sameGeneration(scaled_origin_)) {
      DRAVO_CHECK(min_target_now <= max_target_now);
      slewClockLocked(master_now, min_target_now - now.time(), max_target_now - now.time(),
                      target_scaling, min_scaling, max_scaling, jump_threshold);
    } else {
      setTimeAndScalingLocked(min_target_now + (max_target_now - min_target_now) / 2,
                              target_scaling);
    }
  }

  void freeze() {
    RecursiveMutexLock lock(mutex_);
    freezeLocked(master_->getNormalizedClockTime());
  }

 private:
  ClockTime toScaledTime(ClockTime const& master_now) DRAVO_REQUIRES(mutex_) {
    LOGS(5) << "toScaledTime real: " << master_now << " master_origin: " << master_origin_
            << " scaled_origin: " << scaled_origin_;
    if (scaled_origin_.isFrozen()) return scaled_origin_;
    int generation_order = master_now.compareGeneration(master_origin_);
    if (generation_order > 0) return scaled_origin_.whenFrozen();
    if (generation_order < 0) {
      DRAVO_CHECK(false);
      return ClockTime();
    }
    return scaled_origin_ + scale(master_now - master_origin_, rateAt(master_now.time()));
  }

  double rateAt(Time master_time) const DRAVO_REQUIRES(mutex_) {
    return master_time > master_origin_.time() ? scaling_after_origin_ : scaling_before_origin_;
  }

  // The master time after the origin at which this clock has moved `d` from
  // its origin at `rate`.
  Duration toRealTime(Duration d, double rate) const {
    DRAVO_ASSERT_MSG(rate != 0, "toRealTime should not be called when scaling is zero!");
    if (rate == 0) return Duration::max();
    // Rounded up and corrected so that the scaled reading at the result is
    // never short of the target: a wake-up that came early would re-arm at
    // the same master time again and again.
    Duration real =
        Duration::fromNSec(static_cast<int64_t>(std::ceil(static_cast<double>(d.toNSec()) / rate)));
    while (scale(real, rate) < d) real += Duration::fromNSec(1);
    return real;
  }

  std::pair<std::shared_ptr<Clock>, ClockTime> toParent(ClockTime const& t) override
      DRAVO_REQUIRES(mutex_) {
    int generation_order = t.compareGeneration(scaled_origin_);
    if (generation_order > 0) return {master_, master_origin_.nextFrozen()};
    if (t == scaled_origin_) return {master_, master_origin_};
    if (generation_order < 0) return {master_, ClockTime(master_origin_, Time())};
    double rate = t.time() > scaled_origin_.time() ? scaling_after_origin_ : scaling_before_origin_;
    // At rate 0 this stretch never reaches `t`; a change of rate re-aims.
    if (rate == 0) return {master_, master_origin_.nextFrozen()};
    return {master_, master_origin_ + toRealTime(t - scaled_origin_, rate)};
  }

  void freezeLocked(ClockTime const& master_now) DRAVO_REQUIRES(mutex_) {
    LOGS(5) << "freezeLocked scaled_origin_:" << scaled_origin_ << " master_now: " << master_now;
    scaled_origin_ = scaled_origin_.whenFrozen();
    redoSchedulingAfterClockingChange();
  }

  void setTimeAndScalingLocked(Time t, double scaling) DRAVO_REQUIRES(mutex_) {
    DRAVO_ASSERT_MSG(scaling >= 0, "Tried to set clock with negative scaling.");
    if (scaling < 0) return;
    ClockTime master_now = master_->getNormalizedClockTime();
    freezeLocked(master_now);
    if (master_now.isFrozen()) return;
    scaled_origin_ = ClockTime(scaled_origin_.whenUnfrozen(), t);
    scaling_before_origin_ = scaling_after_origin_ = scaling;
    master_origin_ = master_now;
    redoSchedulingAfterClockingChange();
  }

  void slewClockLocked(ClockTime const& master_now, Duration min_offset, Duration max_offset,
                       double target_scaling, double min_scaling, double max_scaling,
                       Duration jump_threshold) DRAVO_REQUIRES(mutex_) {
    DRAVO_CHECK(max_scaling > target_scaling);
    DRAVO_CHECK(min_scaling < target_scaling);
    DRAVO_CHECK(min_scaling >= 0);
    DRAVO_CHECK(max_offset >= min_offset);
    ClockTime now = toScaledTime(master_now);
    bool behind = min_offset > Duration();
    Duration offset = behind ? min_offset : max_offset;
    if (offset.abs() > jump_threshold || now.isFrozen()) {
      setTimeAndScalingLocked(now.time() + offset, target_scaling);
      return;
    }
    if (!behind && max_offset >= Duration()) return;  // 0 lies inside the window
    double rate = behind ? max_scaling : min_scaling;
    scaling_before_origin_ = rate;
    scaling_after_origin_ = target_scaling;
    // Master time needed to absorb the offset at `rate`.
    Duration absorb = divide(offset, rate - target_scaling);
    master_origin_ = master_now + absorb;
    scaled_origin_ = now + scale(absorb, rate);
    redoSchedulingAfterClockingChange();
  }

  std::shared_ptr<Clock> const master_;
  double scaling_before_origin_ DRAVO_GUARDED_BY(mutex_);
  double scaling_after_origin_ DRAVO_GUARDED_BY(mutex_);
  ClockTime master_origin_ DRAVO_GUARDED_BY(mutex_);
  ClockTime scaled_origin_ DRAVO_GUARDED_BY(mutex_);
};

ScaledClockGenerator::ScaledClockGenerator(std::shared_ptr<Clock> master, bool frozen, Time start,
                                           double scaling)
    : clock_impl_(new ScaledClock(std::move(master), frozen, start, scaling)),
      clock_(std::make_shared<Clock>(clock_impl_)) {}

void ScaledClockGenerator::setScaling(double scaling) { clock_impl_->setScaling(scaling); }

void ScaledClockGenerator::setTimeAndScaling(Time t, double scaling) {
  clock_impl_->setTimeAndScaling(t, scaling);
}

void ScaledClockGenerator::setTimeAndScalingSoftly(Time new_time_min, Time new_time_max,
                                                   double new_scaling) {
  clock_impl_->setTimeAndScalingSoftly(new_time_min, new_time_max, new_scaling);
}

void ScaledClockGenerator::slewClock(Duration min_offset, Duration max_offset, double min_scaling,
                                     double max_scaling, Duration jump_threshold,
                                     double target_scaling) {
  clock_impl_->slewClock(min_offset, max_offset, min_scaling, max_scaling, jump_threshold,
                         target_scaling);
}

void ScaledClockGenerator::slewClock(Time min_target_now, Time max_target_now, double min_scaling,
                                     double max_scaling, Duration jump_threshold,
                                     double target_scaling) {
  clock_impl_->slewClock(min_target_now, max_target_now, min_scaling, max_scaling, jump_threshold,
                         target_scaling);
}

void ScaledClockGenerator::freeze() { clock_impl_->freeze(); }

std::shared_ptr<Clock> getScaledClock(std::shared_ptr<Clock> master, double scaling, Time start) {
  return ScaledClockGenerator(std::move(master), false, start, scaling).getClock();
}

}  // namespace dravo::media
