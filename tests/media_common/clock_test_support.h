#pragma once
// Helpers for clock tests: records timer events with the clock reading at
// delivery, from whatever thread delivers them.

#include <mutex>
#include <vector>

#include "common/weak_function.h"
#include "media_common/clock.h"

namespace dravo::testing {

struct TimerEvent {
  int tag;
  media::Clock::Event event;
  media::ClockTime reading;  // the clock's reading when the event arrived
  bool operator==(TimerEvent const&) const = default;
};

class EventRecorder {
 public:
  explicit EventRecorder(std::shared_ptr<media::Clock> clock = nullptr)
      : clock_(std::move(clock)) {}

  // A weak callback that records `tag`; it dies with the recorder.
  WeakFunction<void(media::Clock::Event)> callback(int tag) {
    return WeakFunction<void(media::Clock::Event)>(owner_, [this, tag](media::Clock::Event event) {
      media::ClockTime reading = clock_ ? clock_->getNormalizedClockTime() : media::ClockTime();
      std::lock_guard lock(mutex_);
      events_.push_back({tag, event, reading});
    });
  }
  std::vector<TimerEvent> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<int> tags() const {
    std::vector<int> result;
    for (auto const& e : events()) result.push_back(e.tag);
    return result;
  }

 private:
  std::shared_ptr<media::Clock> clock_;
  mutable std::mutex mutex_;
  std::vector<TimerEvent> events_;
  std::shared_ptr<void const> owner_ = std::make_shared<int>(0);
};

}  // namespace dravo::testing
