#pragma once
// The wall-clock moment a buffer was produced, attached to it as metadata.
// A local event (type id 0): it is never serialised.
// Same ownership and threading as every `Event`.

#include "common/time.h"
#include "media_common/event.h"

namespace dravo::media {

class HardwareTimestampEvent : public Event {
 public:
  HardwareTimestampEvent() = default;
  explicit HardwareTimestampEvent(Time const& timestamp) : timestamp_(timestamp) {}

  Time const& getTimestamp() const { return timestamp_; }

 private:
  Time timestamp_;
};

}  // namespace dravo::media
