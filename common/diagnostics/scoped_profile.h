#pragma once
// Marks a scope for profiling: `ScopedProfile profile("mainLoopPass");`.
//
// When the logger "profile" is enabled at level 6, the scope's duration is
// logged there on exit; otherwise it costs one cached log-level check. Lives
// on the stack of the thread that made it.

#include "common/non_copyable.h"
#include "common/time.h"

namespace dravo {

class ScopedProfile : NonCopyable {
 public:
  // `label` must outlive the scope (a string literal).
  explicit ScopedProfile(const char* label);
  ~ScopedProfile();

 private:
  const char* label_;
  Time start_;  // Time() when profiling is off
};

}  // namespace dravo
