#pragma once
// Contract failures, in two strengths.
//
// DRAVO_ASSERT(cond) / DRAVO_ASSERT_MSG(cond, format, ...): a broken contract.
// Reports "Assertion failed: " plus the condition (or the formatted text),
// with file, line and function, through the assertion handler; when the
// handler returns true the process aborts. The default handler logs the
// report to stderr and returns true. Tests install a handler that records the
// report and returns false, so the code after the assertion runs on.
//
// DRAVO_CHECK(cond): a suspicious state that the code survives. Logs
// "Check failed <cond> " on the logger "check" at level 1 and goes on.
// DRAVO_CHECK_EQ(a, b) (and _NE, _LT, _LE, _GT, _GE) logs
// "Check failed: a == b (<a> vs. <b>)".
//
// Handlers may be called on any thread; setAssertionHandler is thread-safe.

#include <functional>
#include <sstream>
#include <string>

#include "common/logging.h"

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

namespace check_internal {
template <typename A, typename B>
void logComparison(const char* expression, A const& a, B const& b, const char* file, int line) {
  std::ostringstream text;
  text << std::boolalpha << "Check failed: " << expression << " (" << a << " vs. " << b << ")";
  logging::logToLogger("check", 1, file, line, text.str());
}
}  // namespace check_internal

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

#define DRAVO_CHECK(cond)                                                                       \
  do {                                                                                          \
    if (!(cond))                                                                                \
      ::dravo::logging::logToLogger("check", 1, __FILE__, __LINE__, "Check failed " #cond " "); \
  } while (0)

#define DRAVO_CHECK_OP(a, op, b)                                                                  \
  do {                                                                                            \
    auto const& dravo_check_a__ = (a);                                                            \
    auto const& dravo_check_b__ = (b);                                                            \
    if (!(dravo_check_a__ op dravo_check_b__))                                                    \
      ::dravo::check_internal::logComparison(#a " " #op " " #b, dravo_check_a__, dravo_check_b__, \
                                             __FILE__, __LINE__);                                 \
  } while (0)

#define DRAVO_CHECK_EQ(a, b) DRAVO_CHECK_OP(a, ==, b)
#define DRAVO_CHECK_NE(a, b) DRAVO_CHECK_OP(a, !=, b)
#define DRAVO_CHECK_LT(a, b) DRAVO_CHECK_OP(a, <, b)
#define DRAVO_CHECK_LE(a, b) DRAVO_CHECK_OP(a, <=, b)
#define DRAVO_CHECK_GT(a, b) DRAVO_CHECK_OP(a, >, b)
#define DRAVO_CHECK_GE(a, b) DRAVO_CHECK_OP(a, >=, b)
