#include "media_common/threaded_scheduler_strand.h"

#include <time.h>

#include <algorithm>
#include <cstdarg>
#include <sstream>
#include <string>

#include "common/diagnostics/scoped_profile.h"
#include "common/logging.h"
#include "common/string_util.h"

DRAVO_LOGGER("threaded_scheduler");

namespace dravo::media {

namespace {

constexpr size_t kOverloadOnTasks = 2000;
constexpr size_t kOverloadOffTasks = 25;
constexpr Duration kLongWait = Duration::fromNSec(1'000'000'000);
constexpr Duration kCollectAfter = Duration::fromNSec(200'000'000);

// A warning let through at most once per interval, the others 4 levels
// finer, like LOGF_FILTERED; but the message is formatted only when it will
// be written. An overloaded strand warns on every push.
class ThrottledWarning {
 public:
  ThrottledWarning(const char* file, int line)
      : filter_(Duration::fromSec(5)),
        passed_(dravo_file_logger__, 3, file, line),
        hidden_(dravo_file_logger__, 7, file, line) {}

  void log(Time now, const char* format, ...) __attribute__((format(printf, 3, 4))) {
    int level = passed_.level();
    std::string hid_note;
    filter_.filterAt(now, &level, &hid_note);
    logging::LogPoint const& point = level == passed_.level() ? passed_ : hidden_;
    if (!point.enabled()) return;
    va_list args;
    va_start(args, format);
    std::string message = vstringPrintf(format, args);
    va_end(args);
    logging::logToLogger(point.logger(), level, point.file(), point.line(), message + hid_note);
  }

 private:
  logging::ThrottledLoggingFilter filter_;
  const logging::LogPoint passed_;
  const logging::LogPoint hidden_;
};

}  // namespace

Time coarseNow() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return Time::fromNSec(int64_t{now.tv_sec} * 1000000000 + now.tv_nsec);
}

void ThreadedTask::trigger() const {
  Time now = coarseNow();
  Duration waited = now - queued;
  if (waited > kLongWait) {
    static ThrottledWarning warning(__FILE__, __LINE__);
    std::ostringstream text;
    text << waited;
    warning.log(now, "Some threaded task was queued for more than one second: %s %s",
                text.str().c_str(), name());
  }
  function();
}

Strand::Strand(std::weak_ptr<void const> owner)
    : owner_(std::move(owner)),
      scheduled_priority_(Priority::lowest()),
      overload_trigger_("threaded scheduler task too full", Duration::fromSec(10)) {}

ThreadedTask Strand::take() {
  ThreadedTask task = tasks_.pop();
  running_ = true;
  if (tasks_.size() < kOverloadOffTasks) overloaded_ = false;
  return task;
}

Strand::PushResult Strand::push(ThreadedTask& task) {
  MutexLock lock(mutex_);
  if (retired_) return PUSH_RETIRED;
  if (tasks_.size() > kOverloadOnTasks) {
    static ThrottledWarning warning(__FILE__, __LINE__);
    warning.log(task.queued,
                "Excessive number of queued tasks in threaded scheduler strand. Tasks: %zu first "
                "task: %s",
                tasks_.size(), tasks_.front().name());
    if (!overloaded_) {
      overloaded_ = true;
      overload_trigger_.trigger();
    }
  }
  bool needs_runner = false;
  if (!scheduled_) {
    scheduled_since_ = task.queued;
    scheduled_priority_ = task.priority;
    scheduled_ = true;
    needs_runner = true;
  } else if (priorityRunsBefore(task.priority, scheduled_priority_) && !running_) {
    // The runner item already in a bin becomes stale: call() will see its
    // level no longer matches, or find the strand busy or empty.
    scheduled_priority_ = task.priority;
    needs_runner = true;
  }
  last_push_ = task.queued;
  tasks_.push(std::move(task));
  return needs_runner ? PUSH_NEEDS_RUNNER : PUSH_QUEUED;
}

Strand::CallStatus Strand::call(int level, StrandWorker& worker, std::optional<RunnerItem>& next) {
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
  ThreadedTask task = take();
  // The last task's info; released unlocked, as it may be the last reference.
  std::shared_ptr<TaskInfo const> info;
  for (;;) {
    lock.unlock();
    info.reset();
    {
      ScopedProfile profile(task.name());
      task.trigger();
    }
    // The function's captures may run arbitrary code when released (a buffer
    // giving back its token, which may schedule more work here): release them
    // before retaking the strand's mutex.
    info = std::move(task.info);
    task = ThreadedTask();
    const char* name = info ? info->getName() : "<no task info>";
    if (!worker.taskDone()) return CALL_STOPPED;

    lock.relock();
    running_ = false;
    if (tasks_.empty()) {
      scheduled_ = false;
      LOGS(5) << "call " << this << " finished priority=" << level << " called: " << name;
      lock.unlock();
      return CALL_FINISHED;
    }
    ThreadedTask const& following = tasks_.front();
    scheduled_priority_ = following.priority;
    LOGS(5) << "call " << this << " reschedule priority=" << level
            << " next_priority=" << following.priority.getLevel() << " called: " << name;
    if (!worker.mayContinue(following.priority)) {
      next = RunnerItem{following.priority, following.sequence, shared_from_this()};
      lock.unlock();
      return CALL_RESCHEDULED;
    }
    // Nothing else waits for this worker: go on without a runner item.
    level = following.priority.getLevel();
    task = take();
  }
}

bool Strand::shouldGC(Time now) {
  MutexLock lock(mutex_);
  if (scheduled_ && now - scheduled_since_ > kLongWait) {
    static ThrottledWarning warning(__FILE__, __LINE__);
    warning.log(now,
                "Some threaded scheduler strand has been non-empty for too long (%.3f seconds).",
                (now - scheduled_since_).toSec());
  }
  if (scheduled_ || now - last_push_ <= kCollectAfter) return false;
  retired_ = true;
  return true;
}

void Strand::appendQueuedTasks(std::vector<std::shared_ptr<TaskInfo const>>& out) {
  MutexLock lock(mutex_);
  std::vector<ThreadedTask const*> order;
  order.reserve(tasks_.size());
  tasks_.forEach([&order](ThreadedTask const& task) { order.push_back(&task); });
  std::sort(order.begin(), order.end(),
            [](ThreadedTask const* a, ThreadedTask const* b) { return a->runsBefore(*b); });
  for (ThreadedTask const* task : order) out.push_back(task->info);
}

}  // namespace dravo::media
