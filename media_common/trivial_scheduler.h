#pragma once
// The simplest scheduler: one task per deferred call of the support library.
//
// Tasks run one at a time on the deferred thread, highest priority first
// (idle last, higher level, older stamp, then first queued). Each pass runs
// exactly one task and then schedules the next pass, so other deferred calls
// can run between two tasks and a task that queues another never runs it
// inside itself. Any thread may queue, start, shut down and wait.
//
// A pending pass holds the private part strongly, so a pass already running
// completes even if the public scheduler is destroyed meanwhile.

#include <functional>
#include <memory>

#include "media_common/scheduler.h"

namespace dravo::media {

class TrivialSchedulerPrivate;

// Takes a main-loop pass of a trivial scheduler and runs it later, once,
// outside the call. Called with the scheduler's lock held.
using TrivialSchedulerPassRunner = std::function<void(std::function<void()> pass)>;

class TrivialScheduler : public Scheduler {
 public:
  TrivialScheduler();
  // Passes go to `run_pass` instead of the deferred thread.
  explicit TrivialScheduler(TrivialSchedulerPassRunner run_pass);
  ~TrivialScheduler() override;

  void scheduleWithDebug(TaskFunction const& function, Priority const& priority,
                         std::shared_ptr<TaskInfo const> const& info) override;
  void start() override;
  void shutdown(bool wait) override;
  void waitIdle() override;
  // Not supported by this scheduler: an assertion.
  void getQueuedTasks(std::vector<std::shared_ptr<TaskInfo const>>& tasks) override;

 private:
  std::shared_ptr<TrivialSchedulerPrivate> impl_;
};

// A new trivial scheduler, not started.
std::shared_ptr<Scheduler> createTrivialScheduler();
// The same, with its passes handed to `run_pass` rather than posted as
// deferred calls: whoever runs them runs the tasks, one per pass, on its own
// thread. Benchmarks use it to measure the scheduler without the deferred
// thread's wake-ups. `shutdown` cannot take back a pass handed out; the pass
// then finds the scheduler shut down and runs nothing.
std::shared_ptr<Scheduler> createTrivialScheduler(TrivialSchedulerPassRunner run_pass);

}  // namespace dravo::media
