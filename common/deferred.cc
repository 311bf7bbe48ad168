#include "common/deferred.h"

#include <vector>

#include "common/check.h"
#include "common/condition_variable.h"
#include "common/deferred_registration.h"
#include "common/logging.h"
#include "common/mutex.h"
#include "common/never_destroyed.h"
#include "common/thread.h"

DRAVO_LOGGER("deferred");

namespace dravo {

using deferred_internal::Registration;
using RegistrationPtr = std::shared_ptr<Registration>;

namespace {

// The process-wide FIFO of deferred calls and the thread that runs them
// (a `serviceInstance`: calls may arrive during static destruction). Any
// thread queues; only the deferred thread runs and discards registrations.
class DeferredQueue : NonCopyable {
 public:
  DeferredQueue() {
    thread_.setName("dravo_deferred");
    thread_.start([this] { run(); });
  }

  void push(RegistrationPtr registration) {
    MutexLock lock(mutex_);
    if (stopping_.load(std::memory_order_relaxed)) return;
    outstanding_.fetch_add(1, std::memory_order_relaxed);
    queue_.push_back(std::move(registration));
    if (worker_idle_) {
      worker_idle_ = false;
      wake_.notify();
    }
  }

  size_t outstanding() const { return outstanding_.load(std::memory_order_acquire); }

  void waitUntilDrained() {
    if (thread_.isCurrent()) {
      DRAVO_FAIL("waitForDeferredCalls called on the deferred thread");
      return;
    }
    MutexLock lock(mutex_);
    while (outstanding_.load(std::memory_order_acquire) != 0 &&
           !stopping_.load(std::memory_order_relaxed))
      drained_.wait(lock);
  }

  void stop() {
    {
      MutexLock lock(mutex_);
      stopping_.store(true, std::memory_order_relaxed);
      wake_.notify();
      drained_.notifyAll();
    }
    // exit() called from a deferred call cannot wait for itself.
    if (!thread_.isCurrent()) thread_.join();
  }

 private:
  void run() {
    // The queue is taken over in batches: one lock round trip per batch, and
    // the two vectors trade places so steady state allocates nothing.
    std::vector<RegistrationPtr> batch;
    MutexLock lock(mutex_);
    while (!stopping_.load(std::memory_order_relaxed)) {
      if (queue_.empty()) {
        worker_idle_ = true;
        wake_.wait(lock);
        continue;
      }
      batch.swap(queue_);
      lock.unlock();
      for (RegistrationPtr& registration : batch) {
        if (stopping_.load(std::memory_order_relaxed)) break;
        runOne(std::move(registration));
      }
      batch.clear();
      lock.relock();
    }
  }

  void runOne(RegistrationPtr registration) {
    std::function<void()> function = std::move(registration->function);
    registration->function = nullptr;
    if (registration->tryStart()) {
      function();
      registration->tryFinish(Registration::kDone);
    }
    // Captures die before the call counts as finished, so a waiter sees their
    // side effects too.
    function = nullptr;
    registration.reset();
    if (outstanding_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      MutexLock lock(mutex_);
      drained_.notifyAll();
    }
  }

  Mutex mutex_;
  ConditionVariable wake_;
  ConditionVariable drained_;
  std::vector<RegistrationPtr> queue_ DRAVO_GUARDED_BY(mutex_);
  bool worker_idle_ DRAVO_GUARDED_BY(mutex_) = false;
  std::atomic<bool> stopping_{false};
  // Queued plus running; decremented only after a call and its captures are gone.
  std::atomic<size_t> outstanding_{0};
  Thread thread_;
};

}  // namespace

void TimerHandle::cancel() const {
  if (!registration_) return;
  Registration& registration = *registration_;
  int state = registration.state.load(std::memory_order_acquire);
  while (state == Registration::kPending || state == Registration::kRunning) {
    if (registration.state.compare_exchange_weak(state, Registration::kCancelled,
                                                 std::memory_order_acq_rel)) {
      if (state == Registration::kPending && registration.kind == Registration::kTimer)
        deferred_internal::noteTimerCancelled();
      return;
    }
  }
}

TimerHandle scheduleDeferred(std::function<void()> function) {
  auto registration = std::make_shared<Registration>(Registration::kDeferred, std::move(function));
  serviceInstance<DeferredQueue>().push(registration);
  return TimerHandle(std::move(registration));
}

size_t getDeferredCallCount() { return serviceInstance<DeferredQueue>().outstanding(); }

void waitForDeferredCalls() { serviceInstance<DeferredQueue>().waitUntilDrained(); }

void deferredDeleteImpl(std::function<void()> destroy) { scheduleDeferred(std::move(destroy)); }

void deferredResetImpl(std::shared_ptr<void const> pointer) {
  if (!pointer) return;
  scheduleDeferred([pointer = std::move(pointer)]() mutable { pointer.reset(); });
}

}  // namespace dravo
