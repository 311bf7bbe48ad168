// The worker side of the threaded scheduler: each worker thread pops runner
// items from its bin and lets their strands run one task each.

#include <sched.h>

#include <algorithm>
#include <utility>

#include "common/diagnostics/sample_history.h"
#include "common/diagnostics/watchdog.h"
#include "common/logging.h"
#include "common/string_util.h"
#include "media_common/threaded_scheduler_private.h"

DRAVO_LOGGER("threaded_scheduler");

namespace dravo::media {

namespace {
// How long a worker that found its bin empty looks for work before it
// sleeps, when work has been coming quickly: when its last sleep was
// shorter than `kQuickWork`. A worker whose work comes at a video frame's
// pace goes to sleep at once.
constexpr Duration kLookBeforeSleeping = Duration::fromNSec(50'000);
constexpr Duration kQuickWork = Duration::fromNSec(1'000'000);
}  // namespace

// A worker's progress monitor and its record of time spent waiting for
// work, published on the worker's property node. Lives on the worker's
// stack; used by that thread only.
class WorkerDiagnostics {
 public:
  WorkerDiagnostics(std::string const& thread_name, std::shared_ptr<PropertyNode> node)
      : watchdog_(stringPrintf("Threaded scheduler worker %s", thread_name.c_str()),
                  Duration::fromSec(5), Duration::fromSec(60), Duration::fromSec(1)),
        waiting_(200, Duration::fromMSec(10)),
        node_(std::move(node)) {}

  Watchdog& watchdog() { return watchdog_; }

  // Records one wait; returns the seconds spent waiting over the last
  // second when it is time to publish them again.
  std::optional<double> recordWait(Time begin, Time end) {
    last_wait_ = end - begin;
    waiting_.addAt(end, last_wait_.toSec());
    if (end - last_publish_ < kPublishInterval) return std::nullopt;
    last_publish_ = end;
    double total = 0;
    for (SampleHistory::Bucket const& bucket : waiting_.buckets())
      if (bucket.start >= end - Duration::fromSec(1)) total += bucket.sum;
    return total;
  }

  void publish(double total) { node_->setValue(total); }

  // True when the last wait for work was short (or there was none yet).
  bool workComesQuickly() const { return last_wait_ < kQuickWork; }

 private:
  static constexpr Duration kPublishInterval = Duration::fromNSec(200'000'000);

  Watchdog watchdog_;
  SampleHistory waiting_;
  const std::shared_ptr<PropertyNode> node_;
  Time last_publish_;
  Duration last_wait_;
};

void ThreadedSchedulerPrivate::workerLoop(std::shared_ptr<Bin> bin, std::string thread_name,
                                          int index) {
  WorkerDiagnostics diagnostics(thread_name,
                                bin->node->getNode(stringPrintf("thread%d", index), true));
  // This worker as its strands see it between two tasks. The tasks it ran
  // are counted in one go when it runs out of work in hand: the shared count
  // is not touched once per task.
  class Worker : public StrandWorker {
   public:
    Worker(ThreadedSchedulerPrivate& scheduler, Bin& bin) : scheduler_(scheduler), bin_(bin) {}
    bool taskDone() override {
      if (scheduler_.shutting_down_) return false;
      ++ran_;
      return true;
    }
    // A racing push into the bin may be missed; it is then served after
    // this task, as if it had come a moment later.
    bool mayContinue(Priority const& priority) override {
      return bin_.waiting.load(std::memory_order_relaxed) == 0 &&
             scheduler_.binForPriority(priority) == &bin_;
    }
    void countRun() {
      if (ran_ != 0) scheduler_.tasksDone(std::exchange(ran_, 0));
    }

   private:
    ThreadedSchedulerPrivate& scheduler_;
    Bin& bin_;
    int32_t ran_ = 0;
  } worker(*this, *bin);

  std::optional<RunnerItem> elem;  // kept from the previous round, if any
  for (;;) {
    if (!elem) {
      // Before looking for work: the scheduler may be idle now.
      worker.countRun();
      if (!waitForWork(*bin, diagnostics, elem)) return;
    }
    DRAVO_ASSERT(elem);
    if (!elem) continue;
    std::shared_ptr<Strand> strand = std::move(elem->strand);
    DRAVO_ASSERT(strand);
    int level = elem->priority.getLevel();
    elem.reset();
    if (!strand) continue;

    std::optional<RunnerItem> next;
    Strand::CallStatus status = strand->call(level, worker, next);
    strand.reset();
    if (shutting_down_ || status == Strand::CALL_STOPPED) return;
    if (status == Strand::CALL_RESCHEDULED) {
      DRAVO_ASSERT(next);
      if (next) elem = reschedule(*bin, std::move(*next));
    }
  }
}

bool ThreadedSchedulerPrivate::waitForWork(Bin& bin, WorkerDiagnostics& diagnostics,
                                           std::optional<RunnerItem>& elem) {
  if (diagnostics.workComesQuickly()) lookForWork(bin);
  MutexLock lock(bin.mutex);
  diagnostics.watchdog().kick();
  while (bin.runners.empty()) {
    if (shutting_down_) return false;
    diagnostics.watchdog().setIdle(true);
    Time begin = Time::now();
    ++bin.sleepers;
    bin.condition.timedWaitRelative(lock, Duration::fromMSec(500));
    --bin.sleepers;
    Time end = Time::now();
    diagnostics.watchdog().setIdle(false);
    if (std::optional<double> total = diagnostics.recordWait(begin, end)) {
      // Property listeners run synchronously and may schedule here: never
      // under the bin's mutex.
      lock.unlock();
      diagnostics.publish(*total);
      lock.relock();
    }
  }
  if (shutting_down_) return false;
  elem = bin.runners.pop();
  bin.waiting.store(bin.runners.size(), std::memory_order_relaxed);
  return true;
}

void ThreadedSchedulerPrivate::lookForWork(Bin const& bin) const {
  // Work often comes back within microseconds, from a thread feeding many
  // owners or a task's follow-up. A worker still looking for it is no
  // sleeper: nobody pays a system call to wake it, and it is not switched
  // out and back in. It yields at each look, so that on a busy machine the
  // threads that produce the work run first.
  auto no_work = [&] {
    return bin.waiting.load(std::memory_order_relaxed) == 0 && !shutting_down_;
  };
  if (!no_work()) return;
  Time const until = Time::now() + kLookBeforeSleeping;
  for (unsigned looks = 1; no_work(); ++looks) {
    sched_yield();
    if (looks % 8 == 0 && Time::now() > until) return;
  }
}

void ThreadedSchedulerPrivate::tasksDone(int32_t count) {
  int32_t cb_count = cb_count_.fetch_sub(count) - count;
  LOGF(5, "decr: cb count %d", cb_count);
  DRAVO_ASSERT(cb_count >= 0);
  // Only the decrement that reaches zero needs to look at idleness. The
  // count is re-read under the mutex: an increment from zero racing with
  // this one clears idle under the mutex too, before or after this check.
  if (cb_count != 0) return;
  MutexLock lock(mutex_);
  if (cb_count_ == 0) {
    idle_ = true;
    LOGF(5, "idle");
    idle_condition_.notifyAll();
  }
}

// No scheduler mutex here: the following task is still counted in
// `cb_count_`, and `idle_` is only ever set while that count is zero (every
// strand is unscheduled then, so the first push afterwards clears it). There
// is no idleness to leave.
std::optional<RunnerItem> ThreadedSchedulerPrivate::reschedule(Bin& bin, RunnerItem next) {
  Bin* next_bin = binForPriority(next.priority);
  if (next_bin != &bin) {
    if (next_bin) pushRunner(*next_bin, std::move(next));
    return std::nullopt;
  }
  bool wake = false;
  RunnerItem first;
  {
    MutexLock lock(bin.mutex);
    if (bin.runners.empty() || !bin.runners.front().runsBefore(next)) return next;
    // Trade places with the item that runs first: the bin keeps as many
    // items as it had, and a sleeping worker may take the one left.
    first = bin.runners.pop();
    bin.runners.push(std::move(next));
    wake = bin.sleepers != 0;
  }
  if (wake) bin.condition.notify();
  return first;
}

}  // namespace dravo::media
