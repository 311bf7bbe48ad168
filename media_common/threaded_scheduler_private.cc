#include "media_common/threaded_scheduler_private.h"

#include <algorithm>

#include "common/diagnostics/scoped_profile.h"
#include "common/logging.h"
#include "common/string_util.h"

DRAVO_LOGGER("threaded_scheduler");

namespace dravo::media {

namespace {

unsigned countThreads(std::vector<ThreadedSchedulerBin> const& bins) {
  unsigned total = 0;
  for (ThreadedSchedulerBin const& bin : bins) total += bin.num_threads;
  return total;
}

std::atomic<uint64_t> g_next_scheduler_id{1};

// The strand a thread pushed to last: a thread that schedules for one owner
// again and again (a source feeding its sink, a task queueing its own
// follow-up) finds it without the owner map. A strand retired since is
// refused by its push, which sends the caller back to the map. The weak
// reference, whose upkeep costs atomic operations on a count the workers
// share, is taken only for a strand found twice in a row: a thread cycling
// through owners never pays for a cache it would not hit.
struct LastStrand {
  uint64_t scheduler_id = 0;
  // The strand found last in the map, only ever compared, never followed.
  Strand const* found = nullptr;
  std::weak_ptr<Strand> strand;  // empty unless `found` was found twice
};
thread_local LastStrand t_last_strand;

bool sameOwner(std::weak_ptr<void const> const& a, std::weak_ptr<void const> const& b) {
  return !a.owner_before(b) && !b.owner_before(a);
}

}  // namespace

ThreadedSchedulerPrivate::Bin::Bin(ThreadedSchedulerBin const& config,
                                   std::shared_ptr<PropertyNode> node)
    : node(std::move(node)),
      name(config.name),
      min_priority(config.min_priority),
      thread_priority(config.thread_priority),
      num_threads(config.num_threads) {}

ThreadedSchedulerPrivate::ThreadedSchedulerPrivate(std::vector<ThreadedSchedulerBin> const& bins,
                                                   std::shared_ptr<PropertyNode> node)
    : id_(g_next_scheduler_id.fetch_add(1)),
      node_(std::move(node)),
      total_threads_(countThreads(bins)) {
  DRAVO_ASSERT(!bins.empty());
  for (ThreadedSchedulerBin const& config : bins)
    bins_.push_back(std::make_shared<Bin>(config, node_->getNode("bins/" + config.name, true)));
  std::stable_sort(bins_.begin(), bins_.end(),
                   [](std::shared_ptr<Bin> const& a, std::shared_ptr<Bin> const& b) {
                     return a->min_priority < b->min_priority;
                   });
}

ThreadedSchedulerPrivate::~ThreadedSchedulerPrivate() {
  for (size_t i = 0; i < threads_.size(); ++i) DRAVO_ASSERT(!threads_[i]->isCurrent());
  maintenance_timer_.cancel();
  // Queued tasks are released with the bins and strands, on this thread and
  // with no lock held.
}

void ThreadedSchedulerPrivate::scheduleWithDebug(TaskFunction const& function,
                                                 Priority const& priority,
                                                 std::shared_ptr<TaskInfo const> const& info) {
  if (priority.isIdle()) {
    DRAVO_FAIL(
        "Idle priorities are not currently allowed in the threaded scheduler. If you have a "
        "use-case we can revisit this");
    return;
  }
  ScopedProfile profile(info ? info->getName() : "");
  LOGF(5, "schedule called");
  // Refuse before anything is counted, so that a refused task cannot keep
  // the scheduler from becoming idle.
  Bin* bin = binForPriority(priority);
  if (!bin) return;

  uint64_t sequence = task_counter_.fetch_add(1, std::memory_order_relaxed) + 1;
  int32_t cb_count = cb_count_.fetch_add(1) + 1;
  LOGF(5, "incr: cb count %d", cb_count);
  if (cb_count == 1) {
    // Leaving idle before the task can run, so that its decrement to 0 is
    // the one that sets idle again.
    MutexLock lock(mutex_);
    if (!shutting_down_) idle_ = false;
  }
  ThreadedTask task{function, priority, info, sequence, coarseNow()};
  std::shared_ptr<Strand> strand;
  Strand::PushResult pushed = Strand::PUSH_RETIRED;
  LastStrand& last = t_last_strand;
  if (last.scheduler_id != id_) {
    last = LastStrand();
    last.scheduler_id = id_;
  }
  if ((strand = last.strand.lock()) && sameOwner(strand->owner(), function.owner()))
    pushed = strand->push(task);
  if (pushed == Strand::PUSH_RETIRED) {
    pushed = pushToStrand(function.owner(), task, strand);
    if (strand.get() == last.found) {
      last.strand = strand;
    } else {
      last.found = strand.get();
      last.strand.reset();
    }
  }
  if (pushed == Strand::PUSH_NEEDS_RUNNER)
    pushRunner(*bin, RunnerItem{priority, sequence, std::move(strand)});
}

Strand::PushResult ThreadedSchedulerPrivate::pushToStrand(std::weak_ptr<void const> const& owner,
                                                          ThreadedTask& task,
                                                          std::shared_ptr<Strand>& strand) {
  // The push happens under the strands mutex too: the maintenance pass must
  // not retire a strand between finding it and pushing onto it.
  MutexLock lock(strands_mutex_);
  std::shared_ptr<Strand>& entry = strands_[owner];
  if (!entry) entry = std::make_shared<Strand>(owner);
  strand = entry;
  return strand->push(task);
}

void ThreadedSchedulerPrivate::pushRunner(Bin& bin, RunnerItem item) {
  LOGF(5, "scheduleNow");
  bool wake = false;
  {
    MutexLock lock(bin.mutex);
    bin.runners.push(std::move(item));
    bin.waiting.store(bin.runners.size(), std::memory_order_relaxed);
    wake = bin.sleepers != 0;
  }
  // Outside the lock, so the woken worker does not block on it at once. A
  // worker checks the queue under the lock before it waits, and counts
  // itself a sleeper there, so none misses the item; a worker still looking
  // for work is no sleeper and needs no wake-up.
  if (wake) bin.condition.notify();
}

ThreadedSchedulerPrivate::Bin* ThreadedSchedulerPrivate::binForPriority(
    Priority const& priority) const {
  for (auto bin = bins_.rbegin(); bin != bins_.rend(); ++bin)
    if ((*bin)->min_priority.getLevel() <= priority.getLevel()) return bin->get();
  DRAVO_FAIL("Threaded scheduler doesn't have a bin usable by min priority items");
  return nullptr;
}

void ThreadedSchedulerPrivate::start() {
  LOGF(5, "start");
  MutexLock lock(mutex_);
  DRAVO_ASSERT(!started_);
  if (started_) return;
  started_ = true;
  std::shared_ptr<ThreadedSchedulerPrivate> self = shared_from_this();
  for (std::shared_ptr<Bin> const& bin : bins_) {
    for (unsigned i = 0; i < bin->num_threads; ++i) {
      auto thread = std::make_unique<Thread>();
      std::string name = stringPrintf("scheduler_%s_%zu_minpriority_%d_%d", bin->name.c_str(),
                                      threads_.size(), bin->min_priority.getLevel(), i);
      thread->setName(name);
      // Set before the thread begins, which is when it applies the priority
      // to itself.
      thread->setPriority(bin->thread_priority);
      int index = static_cast<int>(i);
      thread->start([self, bin, name, index] { self->workerLoop(bin, name, index); });
      threads_.push_back(std::move(thread));
      join_claimed_.push_back(false);
    }
  }
  std::weak_ptr<ThreadedSchedulerPrivate> weak = self;
  maintenance_timer_ = createRepeatingTimer(Duration::fromMSec(100), [weak] {
    if (std::shared_ptr<ThreadedSchedulerPrivate> strong = weak.lock()) strong->maintain();
  });
}

void ThreadedSchedulerPrivate::shutdown(bool wait) {
  {
    MutexLock lock(mutex_);
    shutting_down_ = true;
    LOGF(5, "Scheduler shutting down.");
  }
  // Taking each bin's mutex orders the flag before any worker's next look at
  // it, so no worker goes back to sleep having missed it.
  for (std::shared_ptr<Bin> const& bin : bins_) {
    MutexLock lock(bin->mutex);
    bin->condition.notifyAll();
  }
  joinWorkers();
  TimerHandle timer;
  {
    MutexLock lock(mutex_);
    timer = maintenance_timer_;
  }
  timer.cancel();
  {
    MutexLock lock(mutex_);
    idle_ = true;
    idle_condition_.notifyAll();
  }
  if (wait) waitIdle();
}

void ThreadedSchedulerPrivate::joinWorkers() {
  std::vector<Thread*> mine;
  bool caller_is_worker = false;
  {
    MutexLock lock(mutex_);
    for (size_t i = 0; i < threads_.size(); ++i) {
      if (threads_[i]->isCurrent()) {
        caller_is_worker = true;
      } else if (!join_claimed_[i]) {
        join_claimed_[i] = true;
        mine.push_back(threads_[i].get());
      }
    }
  }
  // Thread objects live as long as this object; only their list may grow.
  for (Thread* thread : mine) thread->join();

  MutexLock lock(mutex_);
  joined_count_ += mine.size();
  joined_condition_.notifyAll();
  // A worker must not wait for the others: a concurrent shutdown may be
  // joining this very thread.
  if (caller_is_worker) return;
  size_t claimed =
      static_cast<size_t>(std::count(join_claimed_.begin(), join_claimed_.end(), true));
  while (joined_count_ < claimed) joined_condition_.wait(lock);
}

void ThreadedSchedulerPrivate::waitIdle() {
  MutexLock lock(mutex_);
  LOGF(5, "waitIdle");
  while (!idle_) idle_condition_.wait(lock);
}

void ThreadedSchedulerPrivate::getQueuedTasks(std::vector<std::shared_ptr<TaskInfo const>>& out) {
  MutexLock lock(strands_mutex_);
  for (auto const& [owner, strand] : strands_) strand->appendQueuedTasks(out);
}

void ThreadedSchedulerPrivate::maintain() {
  Time now = coarseNow();
  std::vector<std::shared_ptr<Strand>> collected;  // released unlocked
  MutexLock lock(strands_mutex_);
  for (auto it = strands_.begin(); it != strands_.end();) {
    if (it->second->shouldGC(now)) {
      collected.push_back(std::move(it->second));
      it = strands_.erase(it);
    } else {
      ++it;
    }
  }
  lock.unlock();
}

}  // namespace dravo::media
