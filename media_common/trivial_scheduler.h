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

#include <memory>

#include "media_common/scheduler.h"

namespace dravo::media {

class TrivialSchedulerPrivate;

class TrivialScheduler : public Scheduler {
 public:
  TrivialScheduler();
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

}  // namespace dravo::media
