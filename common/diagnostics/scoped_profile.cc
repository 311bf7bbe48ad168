#include "common/diagnostics/scoped_profile.h"

#include "common/logging.h"

DRAVO_LOGGER("profile");

namespace dravo {

namespace {
bool profilingEnabled() {
  static const logging::LogPoint point{"profile", 6, __FILE__, __LINE__};
  return point.enabled();
}
}  // namespace

ScopedProfile::ScopedProfile(const char* label) : label_(label) {
  if (profilingEnabled()) start_ = Time::now();
}

ScopedProfile::~ScopedProfile() {
  if (start_ == Time()) return;
  LOGF(6, "%s took %.3f ms", label_, (Time::now() - start_).toSec() * 1e3);
}

}  // namespace dravo
