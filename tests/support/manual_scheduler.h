#pragma once
// A scheduler that runs nothing by itself: the test runs its tasks, one at a
// time, on the test thread, in the scheduler's priority order (first queued
// first among equals). Lets a test interleave other work between two tasks.

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "media_common/scheduler.h"

namespace dravo::testing {

class ManualScheduler : public media::Scheduler {
 public:
  void scheduleWithDebug(media::TaskFunction const& function, media::Priority const& priority,
                         std::shared_ptr<media::TaskInfo const> const& info) override {
    std::lock_guard lock(mutex_);
    // Ahead of the first task that runs later: after every equal one.
    auto at = std::find_if(tasks_.begin(), tasks_.end(),
                           [&](Task const& task) { return task.priority < priority; });
    tasks_.insert(at, {function, priority, info});
  }
  void start() override {}
  void shutdown(bool) override {
    std::lock_guard lock(mutex_);
    tasks_.clear();
  }
  void waitIdle() override {}
  void getQueuedTasks(std::vector<std::shared_ptr<media::TaskInfo const>>& out) override {
    std::lock_guard lock(mutex_);
    for (auto const& task : tasks_) out.push_back(task.info);
  }

  // Runs the next task; false when none is queued.
  bool runOne() {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) return false;
      task = std::move(tasks_.front());
      tasks_.erase(tasks_.begin());
    }
    task.function();
    return true;
  }
  // Runs tasks until none is left, including ones queued meanwhile.
  int runAll() {
    int count = 0;
    while (runOne()) ++count;
    return count;
  }

 private:
  struct Task {
    media::TaskFunction function;
    media::Priority priority{0, false};
    std::shared_ptr<media::TaskInfo const> info;
  };
  std::mutex mutex_;
  std::vector<Task> tasks_;  // in run order
};

}  // namespace dravo::testing
