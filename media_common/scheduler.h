#pragma once
// Where every pipeline task runs.
//
// A task is a `WeakFunction` (it does nothing once its owner is gone), a
// `Priority` and an optional `TaskInfo`. A scheduler decides the order and
// the thread: the trivial scheduler runs one task per deferred call of the
// support library; the threaded scheduler runs them on worker threads, one
// owner's tasks never at the same time.
//
// All operations may be called from any thread. Tasks queued before `start`
// wait; after `shutdown` queued tasks never run.

#include <memory>
#include <vector>

#include "common/non_copyable.h"
#include "common/sigslot.h"
#include "common/weak_function.h"
#include "media_common/priority.h"
#include "media_common/task_info.h"

namespace dravo::media {

using TaskFunction = WeakFunction<void()>;

class Scheduler : NonCopyable {
 public:
  virtual ~Scheduler();

  // Queues a task; forwards to `scheduleWithDebug`.
  virtual void schedule(TaskFunction const& function, Priority const& priority,
                        std::shared_ptr<TaskInfo const> const& info);
  // Queues a task: the real entry point.
  virtual void scheduleWithDebug(TaskFunction const& function, Priority const& priority,
                                 std::shared_ptr<TaskInfo const> const& info) = 0;
  virtual void start() = 0;
  // Stops running tasks; with `wait` returns only once nothing runs any more.
  virtual void shutdown(bool wait) = 0;
  // Blocks until the scheduler has nothing more to run (or is shut down).
  virtual void waitIdle() = 0;
  // Appends the task info of every queued task.
  virtual void getQueuedTasks(std::vector<std::shared_ptr<TaskInfo const>>& tasks) = 0;

  // A signal for the client's own use: the library neither emits it nor
  // connects to it. Its connections are dropped with the scheduler.
  sigslot::signal0<sigslot::multi_threaded_local> client_signal_;
};

namespace weak_function_private {

// A weak function that, when called, posts the call as a task on a scheduler
// instead of running it. The call's arguments are copied into the task.
template <typename... Args>
class ScheduledWeakFunction {
 public:
  ScheduledWeakFunction(std::shared_ptr<Scheduler> scheduler, Priority priority,
                        std::shared_ptr<TaskInfo const> info, WeakFunction<void(Args...)> function)
      : scheduler_(std::move(scheduler)),
        priority_(priority),
        info_(std::move(info)),
        function_(std::move(function)) {}

  void operator()(Args... args) const {
    if (function_.expired()) return;
    auto function = function_;
    scheduler_->schedule(TaskFunction(function.owner(), [function, args...] { function(args...); }),
                         priority_, info_);
  }

 private:
  std::shared_ptr<Scheduler> scheduler_;
  Priority priority_;
  std::shared_ptr<TaskInfo const> info_;
  WeakFunction<void(Args...)> function_;
};

}  // namespace weak_function_private

// A weak function whose calls become tasks on `scheduler`; the owner of
// `function` is also the owner of the returned function.
template <typename... Args>
WeakFunction<void(Args...)> scheduledWeakFunction(std::shared_ptr<Scheduler> scheduler,
                                                  Priority const& priority,
                                                  std::shared_ptr<TaskInfo const> info,
                                                  WeakFunction<void(Args...)> function) {
  auto owner = function.owner();
  return WeakFunction<void(Args...)>(
      owner, weak_function_private::ScheduledWeakFunction<Args...>(
                 std::move(scheduler), priority, std::move(info), std::move(function)));
}

}  // namespace dravo::media
