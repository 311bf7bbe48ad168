#include "media_common/clock_time.h"

#include <ostream>
#include <sstream>

#include "common/check.h"
#include "common/logging.h"

DRAVO_LOGGER("clock");

namespace dravo::media {

Duration ClockTime::operator-(ClockTime const& rhs) const {
  DRAVO_CHECK(sameGeneration(rhs));
  return time_ - rhs.time_;
}

ClockTime ClockTime::nextFrozen() const { return ClockTime((generation_ + 1) | 1u, Time::min()); }

ClockTime ClockTime::nextUnfrozen() const {
  return ClockTime((generation_ + 2) & ~1u, Time::min());
}

ClockTime ClockTime::whenFrozen() const { return ClockTime(generation_ | 1u, Time::min()); }

ClockTime ClockTime::whenUnfrozen() const {
  if (!isFrozen()) return *this;
  return ClockTime(generation_ + 1, Time::min());
}

std::string ClockTime::prettyPrintDifference(ClockTime const& other) const {
  std::ostringstream text;
  if (sameGeneration(other))
    text << "dt=" << (time_ - other.time_);
  else
    text << "dgen=" << static_cast<uint32_t>(generation_ - other.generation_);
  return text.str();
}

std::ostream& operator<<(std::ostream& os, ClockTime const& value) {
  if (!value.isInitialized()) return os << "ClockTime(uninitialized)";
  return os << "ClockTime(" << ClockTimePrivate::generation(value) << ", " << value.time() << ")";
}

}  // namespace dravo::media
