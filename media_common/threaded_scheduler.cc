#include "media_common/threaded_scheduler.h"

#include "common/deferred.h"
#include "common/logging.h"
#include "media_common/threaded_scheduler_private.h"

DRAVO_LOGGER("threaded_scheduler");

namespace dravo::media {

namespace {

// The last release may happen on one of the scheduler's own workers, which
// cannot join itself: destroy on the deferred thread instead.
struct DeferredSchedulerDeleter {
  void operator()(ThreadedScheduler* scheduler) const { deferredDelete(scheduler); }
};

}  // namespace

ThreadedSchedulerBin::ThreadedSchedulerBin(std::string name)
    : ThreadedSchedulerBin(std::move(name), Priority::lowest(), 1) {}

ThreadedSchedulerBin::ThreadedSchedulerBin(std::string name, Priority min_priority,
                                           unsigned num_threads)
    : ThreadedSchedulerBin(std::move(name), min_priority, num_threads, thread_priorities::kNormal) {
}

ThreadedSchedulerBin::ThreadedSchedulerBin(std::string name, Priority min_priority,
                                           unsigned num_threads,
                                           thread_priorities::ThreadPriority thread_priority)
    : name(std::move(name)),
      min_priority(min_priority),
      num_threads(num_threads),
      thread_priority(thread_priority) {}

ThreadedScheduler::ThreadedScheduler(std::vector<ThreadedSchedulerBin> const& bins,
                                     std::shared_ptr<PropertyNode> node)
    : impl_(std::make_shared<ThreadedSchedulerPrivate>(
          bins, node ? std::move(node) : PropertyNode::create())) {}

ThreadedScheduler::~ThreadedScheduler() {
  LOGF(5, "Destructing");
  shutdown(true);
  client_signal_.disconnect_all();
  impl_.reset();
}

void ThreadedScheduler::schedule(TaskFunction const& function, Priority const& priority,
                                 std::shared_ptr<TaskInfo const> const& info) {
  impl_->scheduleWithDebug(function, priority, info);
}

void ThreadedScheduler::scheduleWithDebug(TaskFunction const& function, Priority const& priority,
                                          std::shared_ptr<TaskInfo const> const& info) {
  impl_->scheduleWithDebug(function, priority, info);
}

void ThreadedScheduler::start() { impl_->start(); }

void ThreadedScheduler::shutdown(bool wait) { impl_->shutdown(wait); }

void ThreadedScheduler::waitIdle() { impl_->waitIdle(); }

void ThreadedScheduler::getQueuedTasks(std::vector<std::shared_ptr<TaskInfo const>>& tasks) {
  impl_->getQueuedTasks(tasks);
}

std::shared_ptr<Scheduler> createThreadedScheduler(std::vector<ThreadedSchedulerBin> const& bins,
                                                   std::shared_ptr<PropertyNode> const& node) {
  return std::shared_ptr<ThreadedScheduler>(new ThreadedScheduler(bins, node),
                                            DeferredSchedulerDeleter());
}

std::shared_ptr<Scheduler> createThreadedScheduler(unsigned num_threads,
                                                   std::shared_ptr<PropertyNode> const& node) {
  return createThreadedScheduler({ThreadedSchedulerBin("default", Priority::lowest(), num_threads)},
                                 node);
}

}  // namespace dravo::media
