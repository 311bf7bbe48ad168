#include "common/check.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "common/string_util.h"

namespace dravo {

namespace {

bool defaultHandler(AssertionInfo const& info) {
  fprintf(stderr, "%s\n  at %s:%d in %s\n", info.message.c_str(), info.file, info.line,
          info.function);
  fflush(stderr);
  return true;
}

std::mutex& handlerMutex() {
  static std::mutex mutex;
  return mutex;
}

AssertionHandler& handlerSlot() {
  static AssertionHandler handler;
  return handler;
}

}  // namespace

AssertionHandler setAssertionHandler(AssertionHandler handler) {
  std::lock_guard lock(handlerMutex());
  std::swap(handlerSlot(), handler);
  return handler;
}

bool handleAssertion(const char* file, int line, const char* function, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AssertionInfo info{file, line, function, "Assertion failed: " + vstringPrintf(format, args)};
  va_end(args);
  AssertionHandler handler;
  {
    std::lock_guard lock(handlerMutex());
    handler = handlerSlot();
  }
  return handler ? handler(info) : defaultHandler(info);
}

void terminateAfterAssertion() { abort(); }

}  // namespace dravo
