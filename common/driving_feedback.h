#pragma once
// Driving feedback: a 64-bit tag that a receiver sends back so the sender can
// match its reaction to the frame that caused it. A plain value.

#include <cstdint>

namespace dravo {

struct DrivingFeedback {
  uint64_t tag = 0;
};

}  // namespace dravo
