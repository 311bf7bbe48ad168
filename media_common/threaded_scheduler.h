#pragma once
// A scheduler that runs tasks on pools of worker threads.
//
// Threads are grouped in bins; a bin serves tasks whose level is at or above
// its minimum priority and below the next bin's, so urgent work can have
// threads of its own. Tasks of one owner (the object whose weak reference
// the task's function holds) never run at the same time and run in priority
// order, first queued first among equals; tasks of different owners run in
// parallel. Tasks without an owner share one such strand.
//
// Idle priorities are refused (an assertion). Overload is reported in the
// log, never refused. Every operation may be called from any thread,
// including from inside a task; `shutdown` called from a task does not join
// the calling worker. After `shutdown` returns no queued task starts;
// queued tasks are released only with the scheduler.
//
// Threads: the workers run tasks; the support library's timer thread runs
// the maintenance pass every 0.1 s. Ownership: `createThreadedScheduler`
// hands the scheduler out with a deleter that destroys it on the deferred
// thread, so a worker that drops the last reference never joins itself.
// Each bin publishes its workers' recent waiting time (seconds of the last
// second) under "bins/<name>/thread<i>" of the given property node.

#include <memory>
#include <string>
#include <vector>

#include "common/property_node.h"
#include "common/thread.h"
#include "media_common/scheduler.h"

namespace dravo::media {

// One pool of worker threads.
struct ThreadedSchedulerBin {
  explicit ThreadedSchedulerBin(std::string name);
  ThreadedSchedulerBin(std::string name, Priority min_priority, unsigned num_threads);
  ThreadedSchedulerBin(std::string name, Priority min_priority, unsigned num_threads,
                       thread_priorities::ThreadPriority thread_priority);

  std::string name;
  Priority min_priority;
  unsigned num_threads;
  thread_priorities::ThreadPriority thread_priority;
};

class ThreadedSchedulerPrivate;

class ThreadedScheduler : public Scheduler {
 public:
  // Prefer `createThreadedScheduler`, which adds the deferred deleter. A
  // null `node` gets a detached tree.
  ThreadedScheduler(std::vector<ThreadedSchedulerBin> const& bins,
                    std::shared_ptr<PropertyNode> node);
  // Shuts down and joins the workers.
  ~ThreadedScheduler() override;

  void schedule(TaskFunction const& function, Priority const& priority,
                std::shared_ptr<TaskInfo const> const& info) override;
  void scheduleWithDebug(TaskFunction const& function, Priority const& priority,
                         std::shared_ptr<TaskInfo const> const& info) override;
  // Starts the workers; a second call is an assertion.
  void start() override;
  // Stops the workers and joins every one but the caller. Tasks already
  // running finish before it returns; queued tasks never run.
  void shutdown(bool wait) override;
  // Returns once every scheduled task has run, or once shut down.
  void waitIdle() override;
  // Per owner (in the order of owner identity), the queued tasks' infos in
  // the order they would run; null for a task without info.
  void getQueuedTasks(std::vector<std::shared_ptr<TaskInfo const>>& tasks) override;

 private:
  std::shared_ptr<ThreadedSchedulerPrivate> impl_;
};

// A scheduler with the given bins, not started. Needs at least one bin.
std::shared_ptr<Scheduler> createThreadedScheduler(std::vector<ThreadedSchedulerBin> const& bins,
                                                   std::shared_ptr<PropertyNode> const& node);
// One bin "default" from the lowest priority up with `num_threads` threads.
std::shared_ptr<Scheduler> createThreadedScheduler(unsigned num_threads,
                                                   std::shared_ptr<PropertyNode> const& node);

}  // namespace dravo::media
