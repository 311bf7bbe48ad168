#include "media_common/property_clock.h"

#include <sstream>
#include <thread>

#include "common/logging.h"
#include "common/sigslot.h"
#include "media_common/derived_clock.h"

DRAVO_LOGGER("clock");

namespace dravo::media {

namespace {

// Follows the clock held in `node_` (see property_clock.h). Owned by its
// `Clock`; node notifications arrive on the setter's thread, parent timers on
// the parent's delivering thread; all state is guarded by the clock mutex.
class PropertyClock : public DerivedClock,
                      public sigslot::has_slots<sigslot::multi_threaded_local> {
 public:
  PropertyClock(std::shared_ptr<PropertyNode> node, std::shared_ptr<Clock> default_clock)
      : node_(std::move(node)), default_clock_(std::move(default_clock)) {}
  ~PropertyClock() override {
    disconnect_all();
    shutdown();
  }

  // Starts following the node; delivers the first notification at once.
  void connect() { node_->connectChanged(this, &PropertyClock::onPropertyChange); }

  ClockTime getNormalizedClockTime() override DRAVO_REQUIRES(mutex_) {
    std::shared_ptr<Clock> parent = getClock();
    ClockTime parent_now = parent->getNormalizedClockTime();
    LOGS(5) << "getNormalizedClockTime orig gen " << generation_ << " parent now " << parent_now;
    generation_ = ClockTimePrivate::generation(parent_now) + generation_offset_;
    ClockTime out = (generation_ & 1u) == 0 ? ClockTime(generation_, parent_now.time())
                                            : ClockTime(generation_, Time());
    LOGS(5) << "getNormalizedClockTime final gen " << generation_ << " out " << out;
    return out;
  }

 private:
  void onPropertyChange(PropertyChangedArgs const&) {
    LOGF(5, "%p PropertyClock::onPropertyChange called", static_cast<void*>(this));
    RecursiveMutexLock lock(mutex_);
    setCurrentClock(getClockFromPropertyValue(node_->getValue()));
  }

  std::shared_ptr<Clock> getClock() DRAVO_REQUIRES(mutex_) {
    std::shared_ptr<Clock> clock = current_clock_.lock();
    if (!clock) clock = setCurrentClock(default_clock_);
    LOGF(6, "getClock returning %s.", clock->getTypeName());
    return clock;
  }

  std::shared_ptr<Clock> setCurrentClock(std::shared_ptr<Clock> clock) DRAVO_REQUIRES(mutex_) {
    LOGS(5) << " setCurrentClock called in thread " << std::this_thread::get_id();
    if (!clock) {
      LOGF(5, "%p setCurrentClock with null clock. Using default.", static_cast<void*>(this));
      clock = default_clock_;
    }
    std::shared_ptr<Clock> previous = current_clock_.lock();
    if (clock != previous) {
      // Start from the generation the old parent has reached by now, even if
      // nobody read it since: generations must keep increasing.
      if (previous)
        generation_ =
            ClockTimePrivate::generation(previous->getNormalizedClockTime()) + generation_offset_;
      ClockTime parent_now = clock->getNormalizedClockTime();
      LOGF(5, "%p setCurrentClock actually changing clock. New frozen %i. Type %s.",
           static_cast<void*>(this), parent_now.isFrozen() ? 1 : 0, clock->getTypeName());
      current_clock_ = clock;
      generation_ = ClockTimePrivate::setFrozenState(generation_, true);
      generation_ = ClockTimePrivate::setFrozenState(generation_, parent_now.isFrozen());
      generation_offset_ = generation_ - ClockTimePrivate::generation(parent_now);
      first_generation_ = generation_;
      LOGS(5) << " New generation offset: " << generation_ << " - "
              << ClockTimePrivate::generation(parent_now) << " = " << generation_offset_;
      redoSchedulingAfterClockingChange();
    }
    LOGF(5, "setCurrentClock done");
    return clock;
  }

  std::pair<std::shared_ptr<Clock>, ClockTime> toParent(ClockTime const& t) override
      DRAVO_REQUIRES(mutex_) {
    std::shared_ptr<Clock> parent = getClock();
    // A reading from before the last switch belongs to an earlier parent:
    // aim at the start of the new parent's time, which is due at once.
    if (ClockTimePrivate::generation(t) < first_generation_) return {parent, ClockTime(0, Time())};
    return {parent, ClockTime(ClockTimePrivate::generation(t) - generation_offset_, t.time())};
  }

  std::shared_ptr<PropertyNode> const node_;
  std::shared_ptr<Clock> const default_clock_;
  std::weak_ptr<Clock> current_clock_ DRAVO_GUARDED_BY(mutex_);
  uint32_t generation_ DRAVO_GUARDED_BY(mutex_) = 0;
  uint32_t generation_offset_ DRAVO_GUARDED_BY(mutex_) = 0;
  // This clock's generation when it switched to the current parent.
  uint32_t first_generation_ DRAVO_GUARDED_BY(mutex_) = 0;
};

}  // namespace

void setPropertyClock(PropertyNode& node, std::shared_ptr<Clock> const& clock) {
  if (clock)
    node.setValue(PropertyValue(std::weak_ptr<Clock>(clock)));
  else
    node.setValue(PropertyValue());
}

std::shared_ptr<Clock> getClockFromPropertyValue(PropertyValue const& value) {
  return value.getObject<Clock>();
}

std::shared_ptr<Clock> getPropertyClock(std::shared_ptr<PropertyNode> node,
                                        std::shared_ptr<Clock> default_clock) {
  DRAVO_ASSERT(node);
  if (!default_clock) {
    DRAVO_FAIL("getPropertyClock needs a default clock");
    default_clock = getFrozenClock();
  }
  auto impl = std::make_shared<PropertyClock>(std::move(node), std::move(default_clock));
  auto clock = std::make_shared<Clock>(impl);
  impl->connect();
  return clock;
}

}  // namespace dravo::media
