#include "media_common/clock.h"

#include <cxxabi.h>

#include <cstdlib>
#include <deque>
#include <sstream>
#include <string>
#include <typeinfo>
#include <utility>

#include "common/condition_variable.h"
#include "common/logging.h"
#include "common/mutex.h"
#include "media_common/clock_private.h"

DRAVO_LOGGER("clock");

namespace dravo::media {

namespace {

// Where a blocking sleep waits for its timer's event.
struct Sleeper {
  Mutex mutex;
  ConditionVariable condition;
  bool done = false;
  bool result = false;
};

bool waitForTimer(std::shared_ptr<Sleeper> const& sleeper, ClockTimerHandle const& handle) {
  AutoHandle<ClockTimerHandleObject> timer(handle);
  MutexLock lock(sleeper->mutex);
  while (!sleeper->done) sleeper->condition.wait(lock);
  return sleeper->result;
  // `timer` cancels a still pending request on the way out.
}

Clock::Callback sleeperCallback(std::shared_ptr<Sleeper> const& sleeper) {
  return [sleeper](Clock::Event event) {
    MutexLock lock(sleeper->mutex);
    sleeper->done = true;
    sleeper->result = event == Clock::Normal;
    sleeper->condition.notifyAll();
  };
}

}  // namespace

Clock::Clock(ClockPrivate* impl) : impl_(impl) {}

Clock::Clock(std::shared_ptr<ClockPrivate> impl) : impl_(std::move(impl)) {}

const char* Clock::getTypeName() const {
  // One demangled name per implementation type, kept for the process; a
  // deque never moves its elements, so handed-out pointers stay valid.
  static Mutex mutex;
  static std::deque<std::pair<std::type_info const*, std::string>> names;
  ClockPrivate const& impl = *impl_;
  std::type_info const& type = typeid(impl);
  MutexLock lock(mutex);
  for (auto const& [known, name] : names)
    if (*known == type) return name.c_str();
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  names.emplace_back(&type, status == 0 && demangled ? demangled : type.name());
  std::free(demangled);
  return names.back().second.c_str();
}

ClockTime Clock::getNormalizedClockTime() const {
  ClockTime out;
  {
    RecursiveMutexLock lock(impl_->mutex());
    out = impl_->getNormalizedClockTime();
  }
  if (out.isFrozen() && out.time() != Time()) {
    std::ostringstream text;
    text << "getNormalizedClockTime tried to return unnormalized time " << out
         << " clock type: " << getTypeName();
    DRAVO_CLOCK_CHECK_MSG(!out.isFrozen() || out.time() == Time(), text.str());
  }
  LOGS(5) << " getNormalizedClockTime returning " << out;
  return out;
}

Time Clock::getTime() const { return getNormalizedClockTime().time(); }

bool Clock::isFrozen() const {
  LOGF(5, "isFrozen called impl_addr=%p", static_cast<void*>(impl_.get()));
  return getNormalizedClockTime().isFrozen();
}

ClockTimerHandle Clock::requestCallbackAtImpl(ClockTime const& t, Callback callback) const {
  LOGS(5) << "requestCallbackAtImpl called for " << t;
  ClockTime target = t;
  if (target.isFrozen()) target.time() = Time();
  RecursiveMutexLock lock(impl_->mutex());
  return impl_->requestCallbackAt(target, std::move(callback));
}

ClockTimerHandle Clock::requestCallbackInImpl(Duration d, Callback callback,
                                              FrozenBehavior behavior) const {
  LOGF(5, "requestCallbackInImpl called for %f", d.toSec());
  RecursiveMutexLock lock(impl_->mutex());
  return impl_->requestCallbackIn(d, std::move(callback), behavior);
}

ClockTimerHandle Clock::scheduleAt(ClockTime const& t, std::shared_ptr<Scheduler> const& scheduler,
                                   Priority const& priority,
                                   std::shared_ptr<TaskInfo const> const& info,
                                   WeakFunction<void(Event)> const& function) const {
  return requestCallbackAtImpl(t, scheduledWeakFunction(scheduler, priority, info, function));
}

namespace {
// Posts `function` as a task for a `Normal` event only; other events are
// dropped before anything is queued.
WeakFunction<void(Clock::Event)> postNormalOnly(std::shared_ptr<Scheduler> const& scheduler,
                                                Priority const& priority,
                                                std::shared_ptr<TaskInfo const> const& info,
                                                WeakFunction<void()> const& function) {
  WeakFunction<void(Clock::Event)> post = scheduledWeakFunction(
      scheduler, priority, info,
      WeakFunction<void(Clock::Event)>(function.owner(), [function](Clock::Event) { function(); }));
  return WeakFunction<void(Clock::Event)>(post.owner(), [post](Clock::Event event) {
    if (event == Clock::Normal) post(event);
  });
}
}  // namespace

ClockTimerHandle Clock::scheduleAtNormalOnly(ClockTime const& t,
                                             std::shared_ptr<Scheduler> const& scheduler,
                                             Priority const& priority,
                                             std::shared_ptr<TaskInfo const> const& info,
                                             WeakFunction<void()> const& function) const {
  return requestCallbackAtImpl(t, postNormalOnly(scheduler, priority, info, function));
}

ClockTimerHandle Clock::scheduleIn(Duration d, std::shared_ptr<Scheduler> const& scheduler,
                                   Priority const& priority,
                                   std::shared_ptr<TaskInfo const> const& info,
                                   WeakFunction<void(Event)> const& function,
                                   FrozenBehavior behavior) const {
  return requestCallbackInImpl(d, scheduledWeakFunction(scheduler, priority, info, function),
                               behavior);
}

ClockTimerHandle Clock::scheduleInNormalOnly(Duration d,
                                             std::shared_ptr<Scheduler> const& scheduler,
                                             Priority const& priority,
                                             std::shared_ptr<TaskInfo const> const& info,
                                             WeakFunction<void()> const& function,
                                             FrozenBehavior behavior) const {
  return requestCallbackInImpl(d, postNormalOnly(scheduler, priority, info, function), behavior);
}

bool Clock::sleep(Duration d, FrozenBehavior behavior) const {
  auto sleeper = std::make_shared<Sleeper>();
  return waitForTimer(sleeper, requestCallbackInImpl(d, sleeperCallback(sleeper), behavior));
}

bool Clock::sleepUntil(ClockTime const& t) const {
  auto sleeper = std::make_shared<Sleeper>();
  return waitForTimer(sleeper, requestCallbackAtImpl(t, sleeperCallback(sleeper)));
}

}  // namespace dravo::media
