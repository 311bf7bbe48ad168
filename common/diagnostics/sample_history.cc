#include "common/diagnostics/sample_history.h"

#include <algorithm>

namespace dravo {

SampleHistory::SampleHistory(size_t capacity, Duration resolution)
    : capacity_(std::max<size_t>(capacity, 1)),
      resolution_(resolution > Duration() ? resolution : Duration::fromNSec(1)) {}

void SampleHistory::addAt(Time when, double value) {
  // Bucket starts are multiples of the resolution on the Time line.
  int64_t step = resolution_.toNSec();
  int64_t ns = when.toNSec();
  Time start = Time::fromNSec(ns - ((ns % step) + step) % step);
  MutexLock lock(mutex_);
  if (buckets_.empty() || buckets_.back().start < start) {
    buckets_.push_back(Bucket{start, 0, 0, value, value});
    if (buckets_.size() > capacity_) buckets_.pop_front();
  }
  Bucket& bucket = buckets_.back();
  ++bucket.count;
  bucket.sum += value;
  bucket.min = std::min(bucket.min, value);
  bucket.max = std::max(bucket.max, value);
}

std::vector<SampleHistory::Bucket> SampleHistory::buckets() const {
  MutexLock lock(mutex_);
  return {buckets_.begin(), buckets_.end()};
}

}  // namespace dravo
