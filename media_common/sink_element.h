#pragma once
// Clock-synchronised sinks.
//
// `Sink<T>` holds each arriving buffer in a queue until the sink's clock
// reaches the buffer's start timestamp, then hands it to `onBuffer`. The
// clock follows the element's "clock" property and is frozen by default, and
// a frozen clock passes every buffer through at once. Buffers leave in
// arrival order; one stamped earlier than the first queued buffer flushes the
// queue (delivering everything) before it is queued itself. Destroying the
// sink drops what is still queued.
//
// Threads: arrivals and the sync callbacks are tasks on the element's
// scheduler owned by the element, so they never overlap; the queue needs no
// lock, only the element's sequence (checked in checked builds).

#include <cmath>
#include <deque>
#include <memory>
#include <typeinfo>

#include "common/logging.h"
#include "media_common/clock.h"
#include "media_common/element.h"
#include "media_common/sink_mixin.h"

namespace dravo::media {

namespace sink_internal {
// Running count of scheduled sync callbacks, for the trace lines.
int nextSyncCount();
}  // namespace sink_internal

template <typename T>
class Sink : public Element, public SinkMixin<T> {
 public:
  ~Sink() override {
    task_info_.reset();
    sync_queue_.clear();
    sink_clock_.reset();
  }

 protected:
  void initialize() override {
    Element::initialize();
    SinkMixin<T>::initialize();
    sink_clock_ = initializeClockProperty("clock", getFrozenClock());
    task_info_ = std::make_shared<SimpleTaskInfo>(getFullName() + " sink_buffer");
  }

  void preOnBuffer(std::shared_ptr<T const> const& buffer) override {
    DRAVO_DCHECK_RUN_ON(sequence_checker_);
    if (buffer_trace::isEnabled()) {
      LOGS_TO("buffer_trace", 5) << "Buffer <" << buffer.get() << "> arrived at " << getFullName();
      buffer_trace::track(buffer.get(), getInstInfo());
    }
    if (!sink_clock_->isFrozen()) {
      Time now = sink_clock_->getTime();
      Duration delay = buffer->getStartTimestamp() - now;
      LOGF_TO("sink_element", 5,
              "preOnBuffer called for %p delay will be %f now %f stamp %f scheduled %i",
              static_cast<void*>(this), delay.toSec(), now.toSec(),
              buffer->getStartTimestamp().toSec(), scheduled_);
      if (std::fabs(delay.toSec()) > 5.0)
        LOGF_TO("sink_element", 3,
                "sink_element got buffer that is off by %f. This is probably a sign that "
                "something is wrong somewhere.",
                delay.toSec());
    }
    if (!sync_queue_.empty() &&
        buffer->getStartTimestamp() < sync_queue_.front()->getStartTimestamp()) {
      LOGF_TO("sink_element", 3, "Got out of order timestamp on sink. Flushing queue.");
      flushSyncQueue();
    }
    sync_queue_.push_back(buffer);
    if (!scheduled_) processQueue();
  }

  // Queues a sync callback for the first queued buffer unless one is pending.
  void scheduleSync() {
    DRAVO_DCHECK_RUN_ON(sequence_checker_);
    if (scheduled_ || sync_queue_.empty()) return;
    scheduleSyncAt(sink_clock_->getNormalizedClockTime());
  }

 private:
  void processQueue() DRAVO_REQUIRES(sequence_checker_) {
    if (sink_clock_->isFrozen()) {
      LOGF_TO("sink_element", 5, "sink_clock_ is frozen on sink %s with type %s at %p",
              getFullName().c_str(), typeid(*this).name(), static_cast<void*>(this));
      flushSyncQueue();
      return;
    }
    ClockTime now = sink_clock_->getNormalizedClockTime();
    while (!sync_queue_.empty() && sync_queue_.front()->getStartTimestamp() <= now.time()) {
      LOGS_TO("sink_element", 5) << "sending synced buffer now: " << now
                                 << " stamp: " << sync_queue_.front()->getStartTimestamp().toSec();
      sendSyncedBuffer();
    }
    if (sync_queue_.empty() || scheduled_) {
      LOGF_TO("sink_element", 5, "No need to schedule.");
      return;
    }
    scheduleSyncAt(now);
  }

  void scheduleSyncAt(ClockTime const& now) DRAVO_REQUIRES(sequence_checker_) {
    scheduled_ = true;
    Time first = sync_queue_.front()->getStartTimestamp();
    LOGS_TO("sink_element", 5) << "Scheduled syncCb " << sink_internal::nextSyncCount() << " in "
                               << (first - now.time());
    std::weak_ptr<Element> weak_self = weak_from_this();
    // The handle is dropped at once: the callback is never cancelled and runs
    // for whatever event the clock delivers.
    sink_clock_->scheduleAt(ClockTime(now, first), getScheduler(),
                            Priority(sync_queue_.front()->getPriority(), Time::now()), task_info_,
                            WeakFunction<void(Clock::Event)>(weak_self, [weak_self](Clock::Event) {
                              auto self = weak_self.lock();
                              if (!self) return;
                              ScopedSequence scope(self->sequenceToken());
                              static_cast<Sink<T>*>(self.get())->syncCb();
                            }));
  }

  void syncCb() {
    DRAVO_DCHECK_RUN_ON(sequence_checker_);
    LOGF_TO("sink_element", 5, "syncCb %i", scheduled_);
    scheduled_ = false;
    processQueue();
  }

  void sendSyncedBuffer() DRAVO_REQUIRES(sequence_checker_) {
    LOGF_TO("sink_element", 5, "sendSyncedBuffer on %p", static_cast<void*>(this));
    std::shared_ptr<T const> buffer = sync_queue_.front();
    if (buffer_trace::isEnabled()) {
      LOGS_TO("buffer_trace", 5) << "Buffer <" << buffer.get() << "> departed from "
                                 << getFullName();
      buffer_trace::track(buffer.get(), getInstInfo());
    }
    this->onBuffer(buffer);
    // onBuffer may have flushed or refilled the queue; drop exactly the one sent.
    if (!sync_queue_.empty() && sync_queue_.front() == buffer) sync_queue_.pop_front();
  }

  void flushSyncQueue() DRAVO_REQUIRES(sequence_checker_) {
    LOGF_TO("sink_element", 5, "flushSyncQueue");
    while (!sync_queue_.empty()) sendSyncedBuffer();
    scheduled_ = false;
  }

  std::shared_ptr<Clock> sink_clock_;
  std::deque<std::shared_ptr<T const>> sync_queue_ DRAVO_GUARDED_BY(sequence_checker_);
  bool scheduled_ DRAVO_GUARDED_BY(sequence_checker_) = false;
  std::shared_ptr<SimpleTaskInfo const> task_info_;
};

}  // namespace dravo::media
