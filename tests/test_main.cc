#include <gtest/gtest.h>

#include "common/deferred.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  int const result = RUN_ALL_TESTS();
  // Some objects die as deferred calls (a threaded scheduler is deleted on
  // the deferred thread). Let the last test's finish before the process ends,
  // so that they are freed rather than dropped with the queue.
  dravo::waitForDeferredCalls();
  return result;
}
