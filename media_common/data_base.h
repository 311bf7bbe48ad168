#pragma once
// The common part of everything that travels along a link between two pads.
//
// A `DataBase` is either a `Buffer` (payload plus metadata) or an `Event`
// (control information). Every delivery of one to a pad is a scheduler task
// ordered by `Priority(data)`: the object's priority level, stamped with its
// creation time.
//
// Owner: whoever made the object; once sent it is shared between threads as a
// pointer to const and never changed again. Not thread-safe while mutable.

#include <cstdint>

#include "common/time.h"

namespace dravo::media {

class DataBase {
 public:
  // Created now, priority 0, start timestamp zero.
  DataBase();
  virtual ~DataBase();
  DataBase(DataBase const&) = default;
  DataBase& operator=(DataBase const&) = default;

  Time const& getCreationTime() const { return creation_time_; }
  void resetCreationTime();

  // The media time at which the payload starts.
  Time const& getStartTimestamp() const { return start_timestamp_; }
  void setStartTimestamp(Time const& timestamp) { start_timestamp_ = timestamp; }

  // Scheduling level of every task that delivers this object; larger runs
  // first. Buffers must carry a non-zero level before they are sent.
  int getPriority() const { return priority_; }
  void setPriority(int priority) { priority_ = priority; }

 private:
  friend class Buffer;  // merges min_merged_
  friend class DataBaseTestPeer;

  Time creation_time_;
  // Carried along; merging keeps the smaller value. Nothing else reads it.
  uint16_t min_merged_ = 100;
  Time start_timestamp_;
  int32_t priority_ = 0;
};

}  // namespace dravo::media
