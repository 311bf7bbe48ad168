#pragma once
// Contract failures, in two strengths.
//
// DRAVO_ASSERT and friends (common/assertion.h): a broken contract, reported
// through the assertion handler.
//
// DRAVO_CHECK(cond): a suspicious state that the code survives. Logs
// "Check failed <cond> " on the logger "check" at level 1 and goes on.
// DRAVO_CHECK_EQ(a, b) (and _NE, _LT, _LE, _GT, _GE) logs
// "Check failed: a == b (<a> vs. <b>)".

#include <sstream>

#include "common/assertion.h"
#include "common/logging.h"

namespace dravo::check_internal {
template <typename A, typename B>
void logComparison(const char* expression, A const& a, B const& b, const char* file, int line) {
  std::ostringstream text;
  text << std::boolalpha << "Check failed: " << expression << " (" << a << " vs. " << b << ")";
  logging::logToLogger("check", 1, file, line, text.str());
}
}  // namespace dravo::check_internal

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
