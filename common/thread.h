#pragma once
// An OS thread with a name and a priority.
//
// The owner calls `start` once and `join` before destroying a started thread
// (destroying a running, unjoined thread is an assertion). `Thread::current()`
// gives the calling thread's object; threads not started through `Thread`
// (the main thread, library threads) get one made on first use.

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/mutex.h"

namespace dravo {

namespace thread_priorities {
// Larger is more urgent. Raising above kNormal needs privileges on Linux and
// is silently kept at the nearest allowed value.
enum ThreadPriority { kLowest = 0, kLow = 1, kNormal = 2, kHigh = 3, kHighest = 4 };
}  // namespace thread_priorities

class Thread : NonCopyable {
 public:
  Thread();
  ~Thread();

  // Names the thread for debuggers and `top`; the kernel keeps 15 bytes.
  // Before `start` the name is applied when the thread begins.
  void setName(std::string const& name);
  std::string getName() const;
  void setPriority(thread_priorities::ThreadPriority priority);

  void start(std::function<void()> body);
  void join();
  bool isStarted() const;
  bool isCurrent() const;

  static Thread* current();

 private:
  struct State;
  static void applyName(std::string const& name);
  static void applyPriority(thread_priorities::ThreadPriority priority);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace dravo
