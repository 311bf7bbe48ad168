#pragma once
// The per-owner queue of the threaded scheduler (internal).
//
// A `Strand` holds the queued tasks of one owner and makes sure at most one
// of them runs at a time, highest priority first. It is driven by runner
// items: a runner item sits in a bin's queue at the priority of the strand's
// next task; the worker that pops it calls `Strand::call`, which runs the
// next task and hands back the runner item for the following one. A worker
// whose bin has nothing else waiting goes on with the strand's following
// tasks itself, without a round trip through the bin. A runner item that was
// overtaken (a higher-priority push made a new one, or it was popped while
// another runs the strand) finds nothing to do and is dropped.
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
#include "media_common/scheduler_task_queue.h"

namespace dravo::media {

class Strand;

// True when `a` runs before `b` in the order of `Priority`.
inline bool priorityRunsBefore(Priority const& a, Priority const& b) { return b < a; }

// `Time::now()` at the resolution of the kernel's tick (a few milliseconds),
// at a fraction of its cost. Used for the queue times behind the overload
// reports and the strand collection, which deal in tenths of seconds.
Time coarseNow();

// One queued task.
struct ThreadedTask {
  TaskFunction function;
  Priority priority{0, Time()};
  std::shared_ptr<TaskInfo const> info;  // may be null
  uint64_t sequence = 0;
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

// One entry in a bin's queue.
struct RunnerItem {
  Priority priority{0, Time()};
  uint64_t sequence = 0;
  std::shared_ptr<Strand> strand;

  bool runsBefore(RunnerItem const& other) const {
    if (priorityRunsBefore(priority, other.priority)) return true;
    if (priorityRunsBefore(other.priority, priority)) return false;
    return sequence < other.sequence;
  }
  struct RunsBefore {
    bool operator()(RunnerItem const& a, RunnerItem const& b) const { return a.runsBefore(b); }
  };
};

// What a worker tells a strand between two of its tasks.
class StrandWorker {
 public:
  // After each task, with no lock held and its captures released: notes it
  // as run. False when the worker must stop at once (the scheduler shuts
  // down).
  virtual bool taskDone() = 0;
  // Under the strand's mutex: true when the worker may run a following task
  // of `priority` at once, because nothing in its bin would run first.
  virtual bool mayContinue(Priority const& priority) = 0;

 protected:
  ~StrandWorker() = default;
};

class Strand : public std::enable_shared_from_this<Strand> {
 public:
  enum CallStatus {
    CALL_SUPERSEDED = 0,
    CALL_EMPTY = 1,
    CALL_FINISHED = 2,
    CALL_RESCHEDULED = 3,
    CALL_STOPPED = 4,  // the worker said stop; the strand is left as it is
  };

  enum PushResult {
    PUSH_QUEUED = 0,
    PUSH_NEEDS_RUNNER = 1,  // the caller must put a runner item for it into a bin
    PUSH_RETIRED = 2,       // collected: the task was not taken
  };

  explicit Strand(std::weak_ptr<void const> owner);

  // The owner whose tasks this strand runs (empty for tasks without one).
  std::weak_ptr<void const> const& owner() const { return owner_; }

  // Queues `task` (moving from it unless the strand was retired).
  PushResult push(ThreadedTask& task) DRAVO_EXCLUDES(mutex_);
  // Runs the next task if a runner item at `level` is the one expected, and
  // the following ones while `worker` may continue. On CALL_RESCHEDULED,
  // `next` is the runner item for the following task.
  CallStatus call(int level, StrandWorker& worker, std::optional<RunnerItem>& next)
      DRAVO_EXCLUDES(mutex_);
  // True when the strand is empty and saw no push for 0.2 s, and then
  // retires it: later pushes are refused, so that its owner's next task
  // makes a new strand. Warns about a strand that stayed scheduled for more
  // than a second.
  bool shouldGC(Time now) DRAVO_EXCLUDES(mutex_);
  // Appends the infos of the queued tasks in the order they would run.
  void appendQueuedTasks(std::vector<std::shared_ptr<TaskInfo const>>& out) DRAVO_EXCLUDES(mutex_);

 private:
  struct RunsBefore {
    bool operator()(ThreadedTask const& a, ThreadedTask const& b) const { return a.runsBefore(b); }
  };

  // Pops the next task and marks the strand running.
  ThreadedTask take() DRAVO_REQUIRES(mutex_);

  const std::weak_ptr<void const> owner_;
  Mutex mutex_;
  SchedulerTaskQueue<ThreadedTask, RunsBefore> tasks_ DRAVO_GUARDED_BY(mutex_);
  bool running_ DRAVO_GUARDED_BY(mutex_) = false;
  bool scheduled_ DRAVO_GUARDED_BY(mutex_) = false;
  Priority scheduled_priority_ DRAVO_GUARDED_BY(mutex_);
  Time last_push_ DRAVO_GUARDED_BY(mutex_);
  Time scheduled_since_ DRAVO_GUARDED_BY(mutex_);
  bool overloaded_ DRAVO_GUARDED_BY(mutex_) = false;
  bool retired_ DRAVO_GUARDED_BY(mutex_) = false;
  HistoryDumpTrigger overload_trigger_;
};

}  // namespace dravo::media
