#pragma once
// Recent samples of one measurement (queue depths, task latencies, frame
// rates), kept for diagnostics.
//
// Time is cut into buckets `resolution` wide; samples falling into the same
// bucket are combined (count, sum, minimum, maximum), and only the newest
// `capacity` buckets are kept. Memory is bounded by `capacity`. Thread-safe.

#include <cstddef>
#include <deque>
#include <vector>

#include "common/mutex.h"
#include "common/non_copyable.h"
#include "common/time.h"

namespace dravo {

class SampleHistory : NonCopyable {
 public:
  struct Bucket {
    Time start;
    size_t count = 0;
    double sum = 0;
    double min = 0;
    double max = 0;
    double mean() const { return count ? sum / static_cast<double>(count) : 0; }
  };

  // A zero `capacity` keeps one bucket; a non-positive `resolution` one
  // nanosecond.
  SampleHistory(size_t capacity, Duration resolution);

  void add(double value) { addAt(Time::now(), value); }
  // Samples older than the newest bucket are counted in the newest bucket.
  void addAt(Time when, double value);

  // Oldest first.
  std::vector<Bucket> buckets() const;
  size_t capacity() const { return capacity_; }
  Duration resolution() const { return resolution_; }

 private:
  const size_t capacity_;
  const Duration resolution_;
  mutable Mutex mutex_;
  std::deque<Bucket> buckets_ DRAVO_GUARDED_BY(mutex_);
};

}  // namespace dravo
