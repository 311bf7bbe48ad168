#pragma once
// The per-owner queue of the threaded scheduler (internal).
//
// A `Strand` holds the queued tasks of one owner and makes sure at most one
// of them runs at a time, highest priority first. It is driven by runner
// items: a runner item sits in a bin's heap at the priority of the strand's
// next task; the worker that pops it calls `Strand::call`, which runs one
// task and hands back the runner item for the following one. A runner item
// that was overtaken (a higher-priority push made a new one, or it was
// popped while another runs the strand) finds nothing to do and is dropped.
//
// Ownership: strands are shared by the scheduler's owner map and by the
// runner items that point at them. Threads: `push` is called by schedulers
// (under the scheduler's strands mutex), `call` by workers, `shouldGC` by the
// maintenance timer; all state is guarded by the strand's own mutex, which is
// never held while a task runs or is destroyed.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "common/diagnostics/history_dump_trigger.h"
#include "common/mutex.h"
#include "common/time.h"
#include "media_common/scheduler.h"

namespace dravo::media {

class Strand;

// True when `a` runs before `b`: the order of `Priority`, compared inline
// because it is on the path of every task.
inline bool priorityRunsBefore(Priority const& a, Priority const& b) {
  if (a.isIdle() != b.isIdle()) return b.isIdle();
  if (a.getLevel() != b.getLevel()) return a.getLevel() > b.getLevel();
  return a.getStamp() < b.getStamp();
}

// `Time::now()` at the resolution of the kernel's tick (a few milliseconds),
// at a fraction of its cost. Used for the queue times behind the overload
// reports and the strand collection, which deal in tenths of seconds.
Time coarseNow();

// One queued task.
struct ThreadedTask {
  TaskFunction function;
  Priority priority;
  std::shared_ptr<TaskInfo const> info;  // may be null
  uint64_t sequence;
  Time queued;

  const char* name() const { return info ? info->getName() : "<no task info>"; }
  // Warns when the task waited over a second, then calls the function if
  // its owner still lives.
  void trigger() const;
  // True when this task runs before `other`.
  bool runsBefore(ThreadedTask const& other) const {
    if (priorityRunsBefore(priority, other.priority)) return true;
    if (priorityRunsBefore(other.priority, priority)) return false;
    return sequence < other.sequence;
  }
};

// One entry in a bin's heap.
struct RunnerItem {
  Priority priority;
  uint64_t sequence;
  std::shared_ptr<Strand> strand;

  bool runsBefore(RunnerItem const& other) const {
    if (priorityRunsBefore(priority, other.priority)) return true;
    if (priorityRunsBefore(other.priority, priority)) return false;
    return sequence < other.sequence;
  }
  // For the std heap functions, which keep the greatest element in front.
  static bool heapLess(RunnerItem const& a, RunnerItem const& b) { return b.runsBefore(a); }
};

class Strand : public std::enable_shared_from_this<Strand> {
 public:
  enum CallStatus { CALL_SUPERSEDED = 0, CALL_EMPTY = 1, CALL_FINISHED = 2, CALL_RESCHEDULED = 3 };

  Strand();

  // Queues `task`; true when the caller must put a runner item for it
  // (its priority and sequence) into a bin.
  bool push(std::unique_ptr<ThreadedTask> task) DRAVO_EXCLUDES(mutex_);
  // Runs the next task if a runner item at `level` is the one expected. On
  // CALL_RESCHEDULED, `next` is the runner item for the following task.
  CallStatus call(int level, std::optional<RunnerItem>& next) DRAVO_EXCLUDES(mutex_);
  // True when the strand is empty and saw no push for 0.2 s; warns about a
  // strand that stayed scheduled for more than a second.
  bool shouldGC(Time now) DRAVO_EXCLUDES(mutex_);
  // Appends the infos of the queued tasks in the order they would run.
  void appendQueuedTasks(std::vector<std::shared_ptr<TaskInfo const>>& out) DRAVO_EXCLUDES(mutex_);

 private:
  using TaskPtr = std::unique_ptr<ThreadedTask>;
  // The task's order is kept next to the pointer, so heap operations never
  // touch the tasks themselves.
  struct QueuedTask {
    Priority priority;
    uint64_t sequence;
    TaskPtr task;
  };

  void pushHeap(TaskPtr task) DRAVO_REQUIRES(mutex_);
  TaskPtr popHeap() DRAVO_REQUIRES(mutex_);

  Mutex mutex_;
  // A heap by `ThreadedTask::runsBefore`: the front runs next.
  std::vector<QueuedTask> tasks_ DRAVO_GUARDED_BY(mutex_);
  bool running_ DRAVO_GUARDED_BY(mutex_) = false;
  bool scheduled_ DRAVO_GUARDED_BY(mutex_) = false;
  Priority scheduled_priority_ DRAVO_GUARDED_BY(mutex_);
  Time last_push_ DRAVO_GUARDED_BY(mutex_);
  Time scheduled_since_ DRAVO_GUARDED_BY(mutex_);
  bool overloaded_ DRAVO_GUARDED_BY(mutex_) = false;
  HistoryDumpTrigger overload_trigger_;
};

}  // namespace dravo::media
