#pragma once
// Broken contracts: DRAVO_ASSERT, DRAVO_ASSERT_MSG, DRAVO_FAIL.
//
// DRAVO_ASSERT(cond) / DRAVO_ASSERT_MSG(cond, format, ...) report
// "Assertion failed: " plus the condition (or the formatted text), with file,
// line and function, through the assertion handler; when the handler returns
// true the process aborts. The default handler writes the report to stderr
// and returns true. Tests install a handler that records the report and
// returns false, so the code after the assertion runs on. Assertions are
// compiled in every build type.
//
// This header depends on nothing else in the library, so that the lowest
// layers (mutexes, logging) can assert. The weaker DRAVO_CHECK family, which
// logs, is in common/check.h.
//
// Handlers may be called on any thread; setAssertionHandler is thread-safe.

#include <functional>
#include <string>

namespace dravo {

struct AssertionInfo {
  const char* file;
  int line;
  const char* function;
  std::string message;  // begins with "Assertion failed: "
};
using AssertionHandler = std::function<bool(AssertionInfo const&)>;

// Installs `handler` (empty restores the default) and returns the previous one.
AssertionHandler setAssertionHandler(AssertionHandler handler);

// Formats "Assertion failed: " + text and passes it to the handler; returns
// what the handler returns (true: the caller stops the process).
bool handleAssertion(const char* file, int line, const char* function, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

[[noreturn]] void terminateAfterAssertion();

}  // namespace dravo

#define DRAVO_ASSERT(cond)                                                              \
  do {                                                                                  \
    if (!(cond) && ::dravo::handleAssertion(__FILE__, __LINE__, __func__, "%s", #cond)) \
      ::dravo::terminateAfterAssertion();                                               \
  } while (0)

#define DRAVO_ASSERT_MSG(cond, ...)                                                     \
  do {                                                                                  \
    if (!(cond) && ::dravo::handleAssertion(__FILE__, __LINE__, __func__, __VA_ARGS__)) \
      ::dravo::terminateAfterAssertion();                                               \
  } while (0)

// Unconditional: the code reached a state that must not happen.
#define DRAVO_FAIL(...) DRAVO_ASSERT_MSG(false, __VA_ARGS__)
