#include "common/assertion.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "common/mutex.h"
#include "common/string_util.h"

namespace dravo {

namespace {

bool defaultHandler(AssertionInfo const& info) {
  fprintf(stderr, "%s\n  at %s:%d in %s\n", info.message.c_str(), info.file, info.line,
          info.function);
  fflush(stderr);
  return true;
}

struct HandlerSlot {
  Mutex mutex;
  AssertionHandler handler DRAVO_GUARDED_BY(mutex);
};

HandlerSlot& handlerSlot() {
  static HandlerSlot slot;
  return slot;
}

}  // namespace

AssertionHandler setAssertionHandler(AssertionHandler handler) {
  HandlerSlot& slot = handlerSlot();
  MutexLock lock(slot.mutex);
  std::swap(slot.handler, handler);
  return handler;
}

bool handleAssertion(const char* file, int line, const char* function, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AssertionInfo info{file, line, function, "Assertion failed: " + vstringPrintf(format, args)};
  va_end(args);
  // A copy, called with the lock released: the handler may assert again.
  AssertionHandler handler;
  {
    HandlerSlot& slot = handlerSlot();
    MutexLock lock(slot.mutex);
    handler = slot.handler;
  }
  return handler ? handler(info) : defaultHandler(info);
}

void terminateAfterAssertion() { abort(); }

}  // namespace dravo
