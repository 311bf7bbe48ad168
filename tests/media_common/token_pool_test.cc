#include "media_common/token_pool.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media_common/buffer.h"

namespace dravo::media {
namespace {

// Records, per named request, the answer it got and the thread it ran on.
class Requester {
 public:
  struct Answer {
    std::string name;
    bool granted;
    std::thread::id thread;
  };

  TokenRequest request(std::string const& name) {
    return TokenRequest(owner_, [this, name](TokenReference const& token) {
      std::lock_guard lock(mutex_);
      answers_.push_back({name, !token.empty(), std::this_thread::get_id()});
      if (!token.empty()) tokens_[name] = token;
    });
  }

  std::vector<Answer> answers() const {
    std::lock_guard lock(mutex_);
    return answers_;
  }
  // "A+ B-": granted (+) and refused (-) requests in answer order.
  std::string summary() const {
    std::string text;
    for (auto const& answer : answers())
      text += (text.empty() ? "" : " ") + answer.name + (answer.granted ? "+" : "-");
    return text;
  }
  // Drops the token granted to `name`.
  void release(std::string const& name) {
    TokenReference token;
    {
      std::lock_guard lock(mutex_);
      token = tokens_[name];
      tokens_.erase(name);
    }
    ASSERT_FALSE(token.empty()) << name;
  }
  void killOwner() { owner_.reset(); }

 private:
  std::shared_ptr<int> owner_ = std::make_shared<int>();
  mutable std::mutex mutex_;
  std::vector<Answer> answers_;
  std::map<std::string, TokenReference> tokens_;
};

TEST(TokenPoolTest, SecondRequestWaitsAndIsGrantedOnTheReleasingThread) {
  TokenPool pool(1, 4294967295u, true);
  Requester requester;
  pool.getToken(requester.request("A"));
  EXPECT_EQ(requester.summary(), "A+");
  EXPECT_EQ(requester.answers()[0].thread, std::this_thread::get_id());

  pool.getToken(requester.request("B"));
  EXPECT_EQ(requester.summary(), "A+");
  EXPECT_EQ(pool.getNumQueuedRequests(), 1u);

  std::thread::id releasing_thread;
  std::thread releaser([&] {
    releasing_thread = std::this_thread::get_id();
    requester.release("A");
  });
  releaser.join();
  EXPECT_EQ(requester.summary(), "A+ B+");
  EXPECT_EQ(requester.answers()[1].thread, releasing_thread);
  EXPECT_EQ(pool.getNumTokensOutstanding(), 1u);
  EXPECT_EQ(pool.getNumQueuedRequests(), 0u);
}

TEST(TokenPoolTest, DropOldestRefusesTheFrontOfAFullQueue) {
  TokenPool pool(1, 2, true);
  TokenReference held = pool.tryGetToken();
  Requester requester;
  pool.getToken(requester.request("A"));
  pool.getToken(requester.request("B"));
  EXPECT_EQ(requester.summary(), "");
  pool.getToken(requester.request("C"));
  EXPECT_EQ(requester.summary(), "A-");
  pool.getToken(requester.request("D"));
  EXPECT_EQ(requester.summary(), "A- B-");

  held.reset();
  EXPECT_EQ(requester.summary(), "A- B- C+");
  requester.release("C");
  EXPECT_EQ(requester.summary(), "A- B- C+ D+");
}

TEST(TokenPoolTest, DropNewestRefusesArrivalsAtAFullQueue) {
  TokenPool pool(1, 2, false);
  TokenReference held = pool.tryGetToken();
  Requester requester;
  pool.getToken(requester.request("A"));
  pool.getToken(requester.request("B"));
  pool.getToken(requester.request("C"));
  EXPECT_EQ(requester.summary(), "C-");
  pool.getToken(requester.request("D"));
  EXPECT_EQ(requester.summary(), "C- D-");

  held.reset();
  requester.release("A");
  EXPECT_EQ(requester.summary(), "C- D- A+ B+");
}

TEST(TokenPoolTest, RaisingTheTokenCountGrantsWaitingRequestsInOrder) {
  TokenPool pool(1, 4294967295u, true);
  TokenReference held = pool.tryGetToken();
  Requester requester;
  pool.getToken(requester.request("A"));
  pool.getToken(requester.request("B"));
  EXPECT_EQ(pool.getNumQueuedRequests(), 2u);

  pool.setNumTokens(3);
  EXPECT_EQ(requester.summary(), "A+ B+");
  EXPECT_EQ(pool.getNumTokensOutstanding(), 3u);
}

TEST(TokenPoolTest, ShorteningTheQueueRefusesTheSurplus) {
  TokenPool pool(0, 10, true);
  Requester requester;
  for (char const* name : {"A", "B", "C"}) pool.getToken(requester.request(name));
  pool.setQueueLength(1).setDropPolicy(false);
  EXPECT_EQ(requester.summary(), "A- B-");
  EXPECT_FALSE(pool.getDropPolicy());
  EXPECT_EQ(pool.getQueueLength(), 1u);
}

TEST(TokenPoolTest, TryGetTokenNeverQueues) {
  TokenPool pool(1, 4, true);
  TokenReference first = pool.tryGetToken();
  EXPECT_FALSE(first.empty());
  Requester requester;
  pool.getToken(requester.request("A"));
  EXPECT_TRUE(pool.tryGetToken().empty());
  EXPECT_EQ(pool.getNumQueuedRequests(), 1u);
  EXPECT_EQ(pool.getNumTokensOutstanding(), 1u);
}

TEST(TokenPoolTest, TokenReturnsWithTheLastCopyOfTheBufferThatHoldsIt) {
  TokenPool pool(1, 4, true);
  auto buffer = std::make_shared<Buffer>();
  buffer->addToken(pool.tryGetToken());
  auto downstream_copy = std::make_shared<Buffer>(*buffer);
  buffer.reset();
  EXPECT_EQ(pool.getNumTokensOutstanding(), 1u);
  downstream_copy.reset();
  EXPECT_EQ(pool.getNumTokensOutstanding(), 0u);
}

TEST(TokenPoolTest, ReleasingATokenAfterThePoolIsGoneDoesNothing) {
  TokenReference survivor;
  {
    TokenPool pool(1, 4, true);
    survivor = pool.tryGetToken();
    TokenPool copy = pool;  // copies share the pool; it dies with the last
  }
  survivor.reset();
  SUCCEED();
}

TEST(TokenPoolTest, RequestOfADeadOwnerIsSkippedAndItsTokenComesBack) {
  TokenPool pool(1, 4, true);
  TokenReference held = pool.tryGetToken();
  Requester dead;
  Requester alive;
  pool.getToken(dead.request("dead"));
  pool.getToken(alive.request("alive"));
  dead.killOwner();
  held.reset();
  EXPECT_EQ(dead.summary(), "");
  EXPECT_EQ(alive.summary(), "alive+");
  EXPECT_EQ(pool.getNumTokensOutstanding(), 1u);
}

TEST(TokenPoolTest, AnswersMayCallBackIntoThePool) {
  TokenPool pool(1, 4, true);
  auto owner = std::make_shared<int>();
  std::vector<std::string> log;
  // Like a pad whose send triggers the next send: the answer drops its token
  // at once and requests another one.
  std::function<void(int)> request_next = [&](int n) {
    pool.getToken(TokenRequest(owner, [&, n](TokenReference const& token) {
      log.push_back(std::to_string(n) + (token.empty() ? "-" : "+"));
      if (n < 3) request_next(n + 1);
    }));
  };
  request_next(1);
  EXPECT_EQ(log, (std::vector<std::string>{"1+", "2+", "3+"}));
  EXPECT_EQ(pool.getNumTokensOutstanding(), 0u);
}

TEST(TokenPoolTest, RequestHoldingTheOnlyCopyOfItsBufferReleasesWithoutDeadlock) {
  TokenPool pool(1, 4, true);
  auto owner = std::make_shared<int>();
  auto sent = std::make_shared<int>(0);
  for (int i = 0; i < 3; ++i) {
    // The request owns the buffer; once answered, the buffer and its token
    // go with the request itself, inside the pool's servicing.
    auto buffer = std::make_shared<Buffer>();
    pool.getToken(TokenRequest(owner, [buffer, sent](TokenReference const& token) {
      buffer->addToken(token);
      ++*sent;
    }));
  }
  EXPECT_EQ(*sent, 3);
  EXPECT_EQ(pool.getNumTokensOutstanding(), 0u);
}

TEST(TokenPoolTest, EveryRequestIsAnsweredOnceUnderConcurrentUse) {
  TokenPool pool(2, 3, true);
  auto owner = std::make_shared<int>();
  std::mutex mutex;
  int granted = 0;
  int refused = 0;
  std::vector<TokenReference> kept;
  constexpr int kThreads = 4;
  constexpr int kRequestsPerThread = 500;

  auto worker = [&] {
    for (int i = 0; i < kRequestsPerThread; ++i) {
      pool.getToken(TokenRequest(owner, [&](TokenReference const& token) {
        std::lock_guard lock(mutex);
        if (token.empty()) {
          ++refused;
        } else {
          ++granted;
          kept.push_back(token);  // returned later by another thread
        }
      }));
      std::vector<TokenReference> to_release;
      {
        std::lock_guard lock(mutex);
        to_release.swap(kept);
      }
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) threads.emplace_back(worker);
  for (auto& thread : threads) thread.join();

  // Requests still queued are granted as the last kept tokens come back.
  for (;;) {
    std::vector<TokenReference> to_release;
    {
      std::lock_guard lock(mutex);
      if (granted + refused == kThreads * kRequestsPerThread && kept.empty()) break;
      to_release.swap(kept);
    }
  }
  EXPECT_EQ(granted + refused, kThreads * kRequestsPerThread);
  EXPECT_GT(granted, 0);
  EXPECT_EQ(pool.getNumTokensOutstanding(), 0u);
  EXPECT_EQ(pool.getNumQueuedRequests(), 0u);
}

}  // namespace
}  // namespace dravo::media
