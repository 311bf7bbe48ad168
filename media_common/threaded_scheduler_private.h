#pragma once
// The state behind a `ThreadedScheduler` (internal).
//
// Ownership: the public scheduler holds this object; each worker thread
// holds it too while it runs, and the maintenance timer holds it weakly. The
// public destructor shuts down and joins the workers before letting go.
//
// Threads: `scheduleWithDebug`, `start`, `shutdown`, `waitIdle` and
// `getQueuedTasks` come from any thread; `workerLoop` runs on the workers;
// `maintain` on the support library's timer thread.
//
// Lock order: `mutex_` first; then `strands_mutex_`, a bin's mutex or a
// strand's mutex; `strands_mutex_` before a strand's mutex. A bin's mutex
// and a strand's mutex are leaves. Tasks run, and are released, with no
// lock of this scheduler held. Scheduling a task takes `mutex_` only when
// it ends an idle spell.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/condition_variable.h"
#include "common/deferred.h"
#include "common/mutex.h"
#include "common/property_node.h"
#include "common/thread.h"
#include "media_common/threaded_scheduler.h"
#include "media_common/threaded_scheduler_strand.h"

namespace dravo::media {

class WorkerDiagnostics;

class ThreadedSchedulerPrivate : public std::enable_shared_from_this<ThreadedSchedulerPrivate> {
 public:
  // One pool of workers and the runner items waiting for them.
  struct Bin {
    Bin(ThreadedSchedulerBin const& config, std::shared_ptr<PropertyNode> node);

    const std::shared_ptr<PropertyNode> node;
    const std::string name;
    const Priority min_priority;
    const thread_priorities::ThreadPriority thread_priority;
    const unsigned num_threads;

    Mutex mutex;
    // By `RunnerItem::runsBefore`: the front runs next.
    SchedulerTaskQueue<RunnerItem, RunnerItem::RunsBefore> runners DRAVO_GUARDED_BY(mutex);
    // The number of runner items, for a worker deciding without the lock
    // whether to go on with its strand; written under `mutex`.
    std::atomic<size_t> waiting{0};
    // Workers waiting on `condition`; nobody to wake when zero.
    unsigned sleepers DRAVO_GUARDED_BY(mutex) = 0;
    ConditionVariable condition;  // a runner item arrived, or shutdown
  };

  ThreadedSchedulerPrivate(std::vector<ThreadedSchedulerBin> const& bins,
                           std::shared_ptr<PropertyNode> node);
  ~ThreadedSchedulerPrivate();

  void scheduleWithDebug(TaskFunction const& function, Priority const& priority,
                         std::shared_ptr<TaskInfo const> const& info) DRAVO_EXCLUDES(mutex_);
  void start() DRAVO_EXCLUDES(mutex_);
  void shutdown(bool wait) DRAVO_EXCLUDES(mutex_);
  void waitIdle() DRAVO_EXCLUDES(mutex_);
  void getQueuedTasks(std::vector<std::shared_ptr<TaskInfo const>>& out)
      DRAVO_EXCLUDES(strands_mutex_);

 private:
  // The strand of each owner, in the order of `std::owner_less`: by the
  // identity of the owner's control block, which the key's weak reference
  // keeps from being reused.
  using StrandMap = std::map<std::weak_ptr<void const>, std::shared_ptr<Strand>, std::owner_less<>>;

  // Puts `item` into `bin` (only the bin's mutex is taken) and wakes a
  // worker there if none is awake to find it.
  void pushRunner(Bin& bin, RunnerItem item);
  // The bin serving `priority`'s level; null (after an assertion) if none.
  Bin* binForPriority(Priority const& priority) const;
  void workerLoop(std::shared_ptr<Bin> bin, std::string thread_name, int index);
  // Waits for and pops the next runner item of `bin` into `elem`; false
  // when the worker must stop.
  bool waitForWork(Bin& bin, WorkerDiagnostics& diagnostics, std::optional<RunnerItem>& elem);
  // Returns once `bin` has a runner item, shutdown has begun or a short
  // while has passed, yielding the processor meanwhile.
  void lookForWork(Bin const& bin) const;
  // Counts `count` tasks as run; the scheduler is idle when none is left.
  void tasksDone(int32_t count) DRAVO_EXCLUDES(mutex_);
  // Queues the runner item for a strand's following task and takes the
  // item the calling worker runs next, in one visit to the bin: `next` itself
  // when it belongs to `bin` and would be the next item there anyway. Empty
  // when the worker must wait for work.
  std::optional<RunnerItem> reschedule(Bin& bin, RunnerItem next);
  // The strand of `owner`, made if needed, with `task` pushed onto it.
  Strand::PushResult pushToStrand(std::weak_ptr<void const> const& owner, ThreadedTask& task,
                                  std::shared_ptr<Strand>& strand) DRAVO_EXCLUDES(strands_mutex_);
  void joinWorkers() DRAVO_EXCLUDES(mutex_);
  void maintain() DRAVO_EXCLUDES(strands_mutex_);

  // Tells this scheduler apart in the per-thread cache of the last strand
  // used; unique in the process.
  const uint64_t id_;
  Mutex mutex_;
  ConditionVariable idle_condition_;    // `idle_` became true
  ConditionVariable joined_condition_;  // `joined_count_` grew
  // Written under `mutex_`; read without it by the workers, which must see
  // it while they hold only their bin's mutex.
  std::atomic<bool> shutting_down_{false};
  // A new scheduler has nothing to run.
  bool idle_ DRAVO_GUARDED_BY(mutex_) = true;
  bool started_ DRAVO_GUARDED_BY(mutex_) = false;
  const std::shared_ptr<PropertyNode> node_;
  // The sequence counter is written by every scheduling thread, the task
  // count also by every worker: each on a cache line of its own.
  alignas(64) std::atomic<uint64_t> task_counter_{0};
  const unsigned total_threads_;
  std::vector<std::unique_ptr<Thread>> threads_ DRAVO_GUARDED_BY(mutex_);
  // Per thread: some `shutdown` took on joining it. Each thread is joined by
  // exactly one caller; the others wait for `joined_count_`.
  std::vector<bool> join_claimed_ DRAVO_GUARDED_BY(mutex_);
  size_t joined_count_ DRAVO_GUARDED_BY(mutex_) = 0;
  // Tasks scheduled and not yet counted as run. The increment from 0 clears
  // `idle_` (under `mutex_`) before the task can run; the decrement to 0
  // sets it. Workers count the tasks they ran in batches, at the latest
  // before they look for work in their bin.
  alignas(64) std::atomic<int32_t> cb_count_{0};
  alignas(64) Mutex strands_mutex_;
  StrandMap strands_ DRAVO_GUARDED_BY(strands_mutex_);

  // Ascending by `min_priority`; fixed at construction.
  std::vector<std::shared_ptr<Bin>> bins_;
  TimerHandle maintenance_timer_ DRAVO_GUARDED_BY(mutex_);
};

}  // namespace dravo::media
