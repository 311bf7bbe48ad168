#include "common/sequence_checker.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/capture.h"

namespace dravo {
namespace {

// Runs `body` on a new thread, inside `token`'s sequence when it is valid.
template <typename F>
void runOnOtherThread(SequenceToken token, F body) {
  std::thread([&] {
    if (token.valid()) {
      ScopedSequence scope(token);
      body();
    } else {
      body();
    }
  }).join();
}

class SequenceCheckerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DRAVO_DCHECK_IS_ON) GTEST_SKIP() << "sequence checks are compiled out (MEDIA_DCHECK=OFF)";
  }
};

TEST_F(SequenceCheckerTest, ThreadBoundCheckerRefusesOtherThreadsUntilDetached) {
  SequenceChecker checker;
  EXPECT_TRUE(checker.isCurrent());  // binds to this thread
  bool elsewhere = true;
  runOnOtherThread(SequenceToken(), [&] { elsewhere = checker.isCurrent(); });
  EXPECT_FALSE(elsewhere);
  EXPECT_TRUE(checker.isCurrent());

  checker.detach();
  runOnOtherThread(SequenceToken(), [&] { elsewhere = checker.isCurrent(); });
  EXPECT_TRUE(elsewhere);
  EXPECT_FALSE(checker.isCurrent());
}

TEST_F(SequenceCheckerTest, SequenceBoundCheckerFollowsItsTokenAcrossThreads) {
  SequenceToken const mine = SequenceToken::create();
  SequenceToken const other = SequenceToken::create();
  ASSERT_TRUE(mine.valid() && !(mine == other));
  SequenceChecker checker;
  {
    ScopedSequence scope(mine);
    EXPECT_TRUE(checker.isCurrent());
    {
      ScopedSequence nested(other);
      EXPECT_FALSE(checker.isCurrent());
    }
    EXPECT_TRUE(SequenceToken::current() == mine);
  }
  EXPECT_FALSE(SequenceToken::current().valid());
  EXPECT_FALSE(checker.isCurrent()) << "this thread outside the sequence";

  bool same_token = false, other_token = true, no_token = true;
  runOnOtherThread(mine, [&] { same_token = checker.isCurrent(); });
  runOnOtherThread(other, [&] { other_token = checker.isCurrent(); });
  runOnOtherThread(SequenceToken(), [&] { no_token = checker.isCurrent(); });
  EXPECT_TRUE(same_token);
  EXPECT_FALSE(other_token || no_token);
}

TEST_F(SequenceCheckerTest, RunOnFromTheWrongSequenceIsAnAssertion) {
  SequenceChecker checker;
  DRAVO_DCHECK_RUN_ON(checker);
  testing::AssertionCapture assertions;
  runOnOtherThread(SequenceToken::create(), [&] { DRAVO_DCHECK_RUN_ON(checker); });
  EXPECT_EQ(assertions.messages(),
            std::vector<std::string>{"Assertion failed: Called on the wrong sequence"});
}

}  // namespace
}  // namespace dravo
