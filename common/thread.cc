#include "common/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace dravo {

struct Thread::State {
  Mutex mutex;
  std::string name DRAVO_GUARDED_BY(mutex);
  thread_priorities::ThreadPriority priority DRAVO_GUARDED_BY(mutex) = thread_priorities::kNormal;
  std::thread::id id DRAVO_GUARDED_BY(mutex);
  bool started DRAVO_GUARDED_BY(mutex) = false;
};

namespace {
thread_local Thread* t_current = nullptr;
}  // namespace

Thread::Thread() : state_(std::make_shared<State>()) {}

Thread::~Thread() {
  DRAVO_ASSERT_MSG(!thread_.joinable(), "Thread destroyed without join()");
  if (thread_.joinable()) thread_.detach();
}

void Thread::applyName(std::string const& name) {
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

void Thread::applyPriority(thread_priorities::ThreadPriority priority) {
  // Nice values: kNormal is 0, each step is 5. Failures (raising without the
  // privilege) are ignored on purpose: priority is a hint.
  int nice_value = (thread_priorities::kNormal - priority) * 5;
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), nice_value);
}

void Thread::setName(std::string const& name) {
  MutexLock lock(state_->mutex);
  state_->name = name;
  if (state_->id == std::this_thread::get_id()) applyName(name);
  // A running thread other than the caller: the kernel name can be set from
  // outside only through the native handle.
  else if (state_->started && thread_.joinable())
    pthread_setname_np(thread_.native_handle(), name.substr(0, 15).c_str());
}

std::string Thread::getName() const {
  MutexLock lock(state_->mutex);
  return state_->name;
}

void Thread::setPriority(thread_priorities::ThreadPriority priority) {
  MutexLock lock(state_->mutex);
  state_->priority = priority;
  if (state_->id == std::this_thread::get_id()) applyPriority(priority);
}

void Thread::start(std::function<void()> body) {
  MutexLock lock(state_->mutex);
  DRAVO_ASSERT_MSG(!state_->started, "Thread started twice");
  state_->started = true;
  thread_ = std::thread([this, state = state_, body = std::move(body)] {
    std::string name;
    thread_priorities::ThreadPriority priority;
    {
      MutexLock lock(state->mutex);
      state->id = std::this_thread::get_id();
      name = state->name;
      priority = state->priority;
    }
    t_current = this;
    if (!name.empty()) applyName(name);
    if (priority != thread_priorities::kNormal) applyPriority(priority);
    body();
    // The system hands a finished thread's id to the next new thread, which
    // must never look like this one.
    MutexLock lock(state->mutex);
    state->id = std::thread::id();
  });
}

void Thread::join() {
  DRAVO_ASSERT_MSG(!isCurrent(), "A thread cannot join itself");
  if (thread_.joinable()) thread_.join();
}

bool Thread::isStarted() const {
  MutexLock lock(state_->mutex);
  return state_->started;
}

bool Thread::isCurrent() const {
  MutexLock lock(state_->mutex);
  return state_->started && state_->id == std::this_thread::get_id();
}

Thread* Thread::current() {
  if (!t_current) {
    // Adopt a thread we did not start; the object lives as long as the thread.
    thread_local Thread adopted;
    {
      MutexLock lock(adopted.state_->mutex);
      adopted.state_->id = std::this_thread::get_id();
      adopted.state_->started = true;
    }
    t_current = &adopted;
  }
  return t_current;
}

}  // namespace dravo
