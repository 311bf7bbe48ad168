#include "media_common/trivial_scheduler.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "common/check.h"
#include "common/condition_variable.h"
#include "common/deferred.h"
#include "common/logging.h"

DRAVO_LOGGER("trivial_scheduler");

namespace dravo::media {

namespace {
std::atomic<uint64_t> g_sequence{0};
}  // namespace

class TrivialSchedulerPrivate : public std::enable_shared_from_this<TrivialSchedulerPrivate> {
 public:
  struct QueueElement {
    TaskFunction function;
    Priority priority;
    uint64_t sequence_;
  };
  // Heap order: true when `a` runs after `b`.
  struct RunsAfter {
    bool operator()(QueueElement const& a, QueueElement const& b) const {
      if (a.priority < b.priority) return true;
      if (b.priority < a.priority) return false;
      return a.sequence_ > b.sequence_;
    }
  };

  ~TrivialSchedulerPrivate() { DRAVO_CHECK(!scheduled_); }

  void scheduleNow(QueueElement element) DRAVO_REQUIRES(mutex_) {
    LOGF(5, "scheduleNow");
    idle_ = false;
    queue_.push_back(std::move(element));
    std::push_heap(queue_.begin(), queue_.end(), RunsAfter());
    scheduleMainLoop();
  }

  void scheduleMainLoop() DRAVO_REQUIRES(mutex_) {
    if (shutdown_ || queue_.empty()) {
      LOGF(5, "scheduleMainLoop found we are idle.");
      idle_ = true;
      idle_condition_.notifyAll();
      return;
    }
    if (!scheduled_ && started_) {
      LOGF(5, "mainLoopPass scheduled.");
      main_loop_timer_ = scheduleDeferred([self = shared_from_this()] { self->mainLoopPass(); });
      scheduled_ = true;
      return;
    }
    LOGF(5, "mainLoopPass not scheduled. %i %i %i %i.", scheduled_, started_, shutdown_,
         queue_.empty() ? 1 : 0);
  }

  void mainLoopPass() {
    LOGF(5, "mainLoopPass");
    MutexLock lock(mutex_);
    TimerHandle timer = main_loop_timer_;
    if (shutdown_) return;  // shut down while this pass waited for the lock
    DRAVO_ASSERT(!queue_.empty());
    if (queue_.empty()) return;
    std::pop_heap(queue_.begin(), queue_.end(), RunsAfter());
    QueueElement element = std::move(queue_.back());
    queue_.pop_back();
    lock.unlock();
    element.function();
    lock.relock();
    scheduled_ = false;
    scheduleMainLoop();
    // Releasing the task may run arbitrary code (an event handler's flag
    // holder propagates its event, possibly onto this scheduler): not under
    // our mutex.
    lock.unlock();
  }

  void waitIdle() {
    MutexLock lock(mutex_);
    LOGF(5, "waitIdle");
    while (!idle_) idle_condition_.wait(lock);
  }

  Mutex mutex_;
  ConditionVariable idle_condition_;
  bool shutdown_ DRAVO_GUARDED_BY(mutex_) = false;
  bool idle_ DRAVO_GUARDED_BY(mutex_) = false;
  bool started_ DRAVO_GUARDED_BY(mutex_) = false;
  bool scheduled_ DRAVO_GUARDED_BY(mutex_) = false;
  TimerHandle main_loop_timer_ DRAVO_GUARDED_BY(mutex_);
  // A binary max-heap under RunsAfter: the front runs next.
  std::vector<QueueElement> queue_ DRAVO_GUARDED_BY(mutex_);
};

TrivialScheduler::TrivialScheduler() : impl_(std::make_shared<TrivialSchedulerPrivate>()) {}

TrivialScheduler::~TrivialScheduler() {
  LOGF(5, "Destructing");
  shutdown(true);
  signal_.disconnect_all();
}

void TrivialScheduler::scheduleWithDebug(TaskFunction const& function, Priority const& priority,
                                         std::shared_ptr<TaskInfo const> const&) {
  LOGF(5, "schedule called");
  MutexLock lock(impl_->mutex_);
  impl_->scheduleNow(TrivialSchedulerPrivate::QueueElement{function, priority, g_sequence++});
}

void TrivialScheduler::start() {
  LOGF(5, "start");
  MutexLock lock(impl_->mutex_);
  DRAVO_CHECK(!impl_->started_);
  impl_->started_ = true;
  impl_->scheduleMainLoop();
}

void TrivialScheduler::shutdown(bool wait) {
  TimerHandle timer;
  {
    MutexLock lock(impl_->mutex_);
    impl_->shutdown_ = true;
    LOGF(5, "Scheduler shutting down.");
    timer = impl_->main_loop_timer_;
  }
  timer.cancel();
  {
    MutexLock lock(impl_->mutex_);
    impl_->scheduled_ = false;
    impl_->idle_ = true;
    impl_->idle_condition_.notifyAll();
  }
  if (wait) waitIdle();
}

void TrivialScheduler::waitIdle() { impl_->waitIdle(); }

void TrivialScheduler::getQueuedTasks(std::vector<std::shared_ptr<TaskInfo const>>&) {
  DRAVO_FAIL("Not implemented");
}

std::shared_ptr<Scheduler> createTrivialScheduler() { return std::make_shared<TrivialScheduler>(); }

}  // namespace dravo::media
