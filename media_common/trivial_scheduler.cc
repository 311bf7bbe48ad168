#include "media_common/trivial_scheduler.h"

#include "common/check.h"
#include "common/condition_variable.h"
#include "common/deferred.h"
#include "common/logging.h"
#include "media_common/scheduler_task_queue.h"

DRAVO_LOGGER("trivial_scheduler");

namespace dravo::media {

class TrivialSchedulerPrivate : public std::enable_shared_from_this<TrivialSchedulerPrivate> {
 public:
  struct QueueElement {
    TaskFunction function;
    Priority priority{0, Time()};
    // Order of queueing on this scheduler; breaks ties between equal
    // priorities, first queued first.
    uint64_t sequence_ = 0;
  };
  struct RunsBefore {
    bool operator()(QueueElement const& a, QueueElement const& b) const {
      if (b.priority < a.priority) return true;
      if (a.priority < b.priority) return false;
      return a.sequence_ < b.sequence_;
    }
  };

  explicit TrivialSchedulerPrivate(TrivialSchedulerPassRunner run_pass)
      : run_pass_(std::move(run_pass)) {}
  ~TrivialSchedulerPrivate() { DRAVO_CHECK(!scheduled_); }

  void scheduleNow(QueueElement element) DRAVO_REQUIRES(mutex_) {
    LOGF(5, "scheduleNow");
    idle_ = false;
    element.sequence_ = next_sequence_++;
    queue_.push(std::move(element));
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
      auto pass = [self = shared_from_this()] { self->mainLoopPass(); };
      if (run_pass_)
        run_pass_(std::move(pass));
      else
        main_loop_timer_ = scheduleDeferred(std::move(pass));
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
    QueueElement element = queue_.pop();
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

  // Empty: passes are deferred calls.
  const TrivialSchedulerPassRunner run_pass_;
  Mutex mutex_;
  ConditionVariable idle_condition_;
  bool shutdown_ DRAVO_GUARDED_BY(mutex_) = false;
  bool idle_ DRAVO_GUARDED_BY(mutex_) = false;
  bool started_ DRAVO_GUARDED_BY(mutex_) = false;
  bool scheduled_ DRAVO_GUARDED_BY(mutex_) = false;
  TimerHandle main_loop_timer_ DRAVO_GUARDED_BY(mutex_);
  uint64_t next_sequence_ DRAVO_GUARDED_BY(mutex_) = 0;
  SchedulerTaskQueue<QueueElement, RunsBefore> queue_ DRAVO_GUARDED_BY(mutex_);
};

TrivialScheduler::TrivialScheduler() : TrivialScheduler(nullptr) {}

TrivialScheduler::TrivialScheduler(TrivialSchedulerPassRunner run_pass)
    : impl_(std::make_shared<TrivialSchedulerPrivate>(std::move(run_pass))) {}

TrivialScheduler::~TrivialScheduler() {
  LOGF(5, "Destructing");
  shutdown(true);
  client_signal_.disconnect_all();
}

void TrivialScheduler::scheduleWithDebug(TaskFunction const& function, Priority const& priority,
                                         std::shared_ptr<TaskInfo const> const&) {
  LOGF(5, "schedule called");
  MutexLock lock(impl_->mutex_);
  impl_->scheduleNow(TrivialSchedulerPrivate::QueueElement{function, priority});
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

std::shared_ptr<Scheduler> createTrivialScheduler(TrivialSchedulerPassRunner run_pass) {
  return std::make_shared<TrivialScheduler>(std::move(run_pass));
}

}  // namespace dravo::media
