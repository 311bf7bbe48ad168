#include "common/time.h"

#include <time.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace dravo {

Duration Duration::fromSec(double seconds) {
  return Duration(static_cast<int64_t>(std::llround(seconds * 1e9)));
}

Time Time::now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return Time(int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec);
}

namespace {
void printSeconds(std::ostream& os, int64_t ns) {
  char text[40];
  uint64_t magnitude = ns < 0 ? 0 - static_cast<uint64_t>(ns) : static_cast<uint64_t>(ns);
  snprintf(text, sizeof text, "%s%" PRIu64 ".%09" PRIu64, ns < 0 ? "-" : "", magnitude / 1000000000,
           magnitude % 1000000000);
  os << text;
}
}  // namespace

std::ostream& operator<<(std::ostream& os, Duration d) {
  printSeconds(os, d.toNSec());
  return os << 's';
}

std::ostream& operator<<(std::ostream& os, Time t) {
  printSeconds(os, t.toNSec());
  return os;
}

}  // namespace dravo
