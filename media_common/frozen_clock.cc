// A clock that is frozen forever.

#include "common/logging.h"
#include "media_common/clock_private.h"

DRAVO_LOGGER("clock");

namespace dravo::media {

namespace {

// Reads (1, zero time) forever. Its timers are registered but never queued:
// they are delivered only by finalize, `Aborted`.
class FrozenClock : public ClockPrivateUsingTime {
 public:
  ~FrozenClock() override { finalize(); }

  ClockTimerHandle requestCallbackAt(ClockTime const&, Clock::Callback callback) override
      DRAVO_REQUIRES(mutex_) {
    LOGF(5, "Ignoring call to FrozenClock::requestCallbackAt");
    return createTimer(std::move(callback), nullptr);
  }

  ClockTime getNormalizedClockTime() override DRAVO_REQUIRES(mutex_) {
    return ClockTime(1, Time());
  }
};

}  // namespace

std::shared_ptr<Clock> getFrozenClock() { return std::make_shared<Clock>(new FrozenClock); }

}  // namespace dravo::media
