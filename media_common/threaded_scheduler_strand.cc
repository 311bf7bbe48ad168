#include "media_common/threaded_scheduler_strand.h"

#include <time.h>

#include <algorithm>
#include <sstream>

#include "common/diagnostics/scoped_profile.h"
#include "common/logging.h"

DRAVO_LOGGER("threaded_scheduler");

namespace dravo::media {

namespace {

constexpr size_t kOverloadOnTasks = 2000;
constexpr size_t kOverloadOffTasks = 25;

// std heap functions keep the "largest" element in front; a task is
// "smaller" when it runs later.
template <typename Entry>
bool taskRunsAfter(Entry const& a, Entry const& b) {
  if (priorityRunsBefore(b.priority, a.priority)) return true;
  if (priorityRunsBefore(a.priority, b.priority)) return false;
  return b.sequence < a.sequence;
}

}  // namespace

Time coarseNow() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return Time::fromNSec(int64_t{now.tv_sec} * 1000000000 + now.tv_nsec);
}

void ThreadedTask::trigger() const {
  Duration waited = coarseNow() - queued;
  if (waited > Duration::fromSec(1)) {
    static logging::ThrottledLoggingFilter filter(Duration::fromSec(5));
    std::ostringstream text;
    text << waited;
    LOGF_FILTERED(filter, 3, "Some threaded task was queued for more than one second: %s %s",
                  text.str().c_str(), name());
  }
  function();
}

Strand::Strand()
    : scheduled_priority_(Priority::lowest()),
      overload_trigger_("threaded scheduler task too full", Duration::fromSec(10)) {}

void Strand::pushHeap(TaskPtr task) {
  Priority priority = task->priority;
  uint64_t sequence = task->sequence;
  tasks_.push_back(QueuedTask{priority, sequence, std::move(task)});
  std::push_heap(tasks_.begin(), tasks_.end(), taskRunsAfter<QueuedTask>);
}

Strand::TaskPtr Strand::popHeap() {
  std::pop_heap(tasks_.begin(), tasks_.end(), taskRunsAfter<QueuedTask>);
  TaskPtr task = std::move(tasks_.back().task);
  tasks_.pop_back();
  return task;
}

bool Strand::push(TaskPtr task) {
  MutexLock lock(mutex_);
  if (tasks_.size() > kOverloadOnTasks) {
    static logging::ThrottledLoggingFilter filter(Duration::fromSec(5));
    LOGF_FILTERED(filter, 3,
                  "Excessive number of queued tasks in threaded scheduler strand. Tasks: %zu first "
                  "task: %s",
                  tasks_.size(), tasks_.front().task->name());
    if (!overloaded_) {
      overloaded_ = true;
      overload_trigger_.trigger();
    }
  }
  bool needs_runner = false;
  if (!scheduled_) {
    scheduled_since_ = task->queued;
    scheduled_priority_ = task->priority;
    scheduled_ = true;
    needs_runner = true;
  } else if (priorityRunsBefore(task->priority, scheduled_priority_) && !running_) {
    // The runner item already in a bin becomes stale: call() will see its
    // level no longer matches, or find the strand busy or empty.
    scheduled_priority_ = task->priority;
    needs_runner = true;
  }
  last_push_ = task->queued;
  pushHeap(std::move(task));
  return needs_runner;
}

Strand::CallStatus Strand::call(int level, std::optional<RunnerItem>& next) {
  MutexLock lock(mutex_);
  if (level != scheduled_priority_.getLevel()) {
    LOGS(5) << "call " << this << " superceded (priority mismatch) priority=" << level
            << " scheduled_priority=" << scheduled_priority_.getLevel();
    return CALL_SUPERSEDED;
  }
  if (running_) {
    LOGS(5) << "call " << this << " superceded priority=" << level;
    return CALL_SUPERSEDED;
  }
  if (tasks_.empty() || !scheduled_) {
    LOGS(5) << "call " << this << " empty queue priority=" << level;
    scheduled_ = false;
    return CALL_EMPTY;
  }
  TaskPtr task = popHeap();
  running_ = true;
  if (tasks_.size() < kOverloadOffTasks) overloaded_ = false;
  lock.unlock();

  {
    ScopedProfile profile(task->name());
    task->trigger();
  }
  // The function's captures may run arbitrary code when released (a buffer
  // giving back its token, which may schedule more work here): release them
  // before retaking the strand's mutex.
  std::shared_ptr<TaskInfo const> info = std::move(task->info);
  task.reset();
  const char* name = info ? info->getName() : "<no task info>";

  lock.relock();
  running_ = false;
  CallStatus status = CALL_FINISHED;
  if (tasks_.empty()) {
    scheduled_ = false;
    LOGS(5) << "call " << this << " finished priority=" << level << " called: " << name;
  } else {
    ThreadedTask const& following = *tasks_.front().task;
    scheduled_priority_ = following.priority;
    next = RunnerItem{following.priority, following.sequence, shared_from_this()};
    LOGS(5) << "call " << this << " reschedule priority=" << level
            << " next_priority=" << following.priority.getLevel() << " called: " << name;
    status = CALL_RESCHEDULED;
  }
  lock.unlock();  // the task info may be the last reference: release it unlocked
  return status;
}

bool Strand::shouldGC(Time now) {
  MutexLock lock(mutex_);
  if (scheduled_ && now - scheduled_since_ > Duration::fromSec(1)) {
    static logging::ThrottledLoggingFilter filter(Duration::fromSec(5));
    LOGF_FILTERED(filter, 3,
                  "Some threaded scheduler strand has been non-empty for too long (%.3f seconds).",
                  (now - scheduled_since_).toSec());
  }
  return !scheduled_ && now - last_push_ > Duration::fromMSec(200);
}

void Strand::appendQueuedTasks(std::vector<std::shared_ptr<TaskInfo const>>& out) {
  MutexLock lock(mutex_);
  std::vector<ThreadedTask const*> order;
  order.reserve(tasks_.size());
  for (QueuedTask const& queued : tasks_) order.push_back(queued.task.get());
  std::sort(order.begin(), order.end(),
            [](ThreadedTask const* a, ThreadedTask const* b) { return a->runsBefore(*b); });
  for (ThreadedTask const* task : order) out.push_back(task->info);
}

}  // namespace dravo::media
