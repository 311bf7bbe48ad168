#include "media_common/token_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media_common/buffer.h"

namespace dravo::media {
namespace {

// Records answers in order as "A+ B-" (granted, refused), with the thread of
// the last one; keeps granted tokens until released by name. Read only while
// no answer can be running.
struct Requester {
  TokenRequest request(std::string const& name) {
    return TokenRequest(owner, [this, name](TokenReference const& token) {
      summary += (summary.empty() ? "" : " ") + name + (token.empty() ? "-" : "+");
      last_thread = std::this_thread::get_id();
      if (!token.empty()) tokens[name] = token;
    });
  }
  // The token goes after the map has let go of it: its answer may add another.
  void release(std::string const& name) { tokens.extract(name); }

  std::shared_ptr<int> owner = std::make_shared<int>();  // reset to kill the requests
  std::string summary;
  std::thread::id last_thread;
  std::map<std::string, TokenReference> tokens;
};

TEST(TokenPoolTest, QueuedRequestsAreGrantedOnTheReleasingThreadOrByResizing) {
  TokenPool pool(1, 4294967295u, true);
  Requester requester;
  pool.getToken(requester.request("A"));
  pool.getToken(requester.request("B"));
  EXPECT_TRUE(pool.tryGetToken().empty());  // never queues
  EXPECT_EQ(requester.summary, "A+");
  std::thread::id releasing_thread;
  std::thread([&] {
    releasing_thread = std::this_thread::get_id();
    requester.release("A");
  }).join();
  EXPECT_EQ(requester.summary, "A+ B+");
  EXPECT_EQ(requester.last_thread, releasing_thread);

  for (char const* name : {"C", "D", "E", "F"}) pool.getToken(requester.request(name));
  pool.setQueueLength(2).setDropPolicy(false);
  EXPECT_EQ(requester.summary, "A+ B+ C- D-");
  pool.setNumTokens(3);
  EXPECT_EQ(requester.summary, "A+ B+ C- D- E+ F+");
  EXPECT_EQ(pool.getNumTokensOutstanding(), 3u);
}

TEST(TokenPoolTest, FullQueueRefusesTheOldestOrTheNewestByPolicy) {
  for (bool drop_oldest : {true, false}) {
    SCOPED_TRACE(drop_oldest);
    TokenPool pool(1, 2, drop_oldest);
    TokenReference held = pool.tryGetToken();
    Requester requester;
    for (char const* name : {"A", "B", "C", "D"}) pool.getToken(requester.request(name));
    EXPECT_EQ(requester.summary, drop_oldest ? "A- B-" : "C- D-");
    held.reset();
    requester.release(drop_oldest ? "C" : "A");
    EXPECT_EQ(requester.summary, drop_oldest ? "A- B- C+ D+" : "C- D- A+ B+");
  }
}

TEST(TokenPoolTest, AnswersMayReenterThePoolAndDropTheirRequest) {
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

  // A request owning the only copy of its buffer: once answered, the buffer
  // and its token go with the request, inside the pool's servicing.
  int sent = 0;
  for (int i = 0; i < 3; ++i) {
    pool.getToken(TokenRequest(
        owner, [buffer = std::make_shared<Buffer>(), &sent](TokenReference const& token) {
          buffer->addToken(token);
          ++sent;
        }));
  }
  EXPECT_EQ(sent, 3);
  EXPECT_EQ(pool.getNumTokensOutstanding(), 0u);
}

TEST(TokenPoolTest, ALongRunOfDeadRequestsIsServicedInOneLoopAndADeadPoolIsHarmless) {
  // A pad's pool queues without limit; each dead request's token comes back
  // while the pool is servicing.
  TokenReference survivor;
  {
    TokenPool pool(1, 4294967295u, true);
    TokenReference held = pool.tryGetToken();
    Requester dead, alive;
    TokenRequest dead_request = dead.request("dead");
    for (int i = 0; i < 100000; ++i) pool.getToken(dead_request);
    pool.getToken(alive.request("alive"));
    dead.owner.reset();
    held.reset();
    EXPECT_EQ(dead.summary, "");
    EXPECT_EQ(alive.summary, "alive+");
    EXPECT_EQ(pool.getNumQueuedRequests(), 0u);
    alive.release("alive");
    survivor = pool.tryGetToken();
    TokenPool copy = pool;  // copies share the pool; it dies with the last
  }
  survivor.reset();  // released after the pool is gone
}

TEST(TokenPoolTest, EveryRequestIsAnsweredOnceUnderConcurrentUse) {
  TokenPool pool(2, 3, true);
  auto owner = std::make_shared<int>();
  constexpr int kThreads = 4, kRequestsPerThread = 500;
  std::vector<std::atomic<int>> answers(kThreads * kRequestsPerThread);
  std::mutex mutex;
  std::vector<TokenReference> kept;
  // Releases the kept tokens outside the lock (a release may answer a queued
  // request, which keeps its token); false when there were none.
  auto releaseKept = [&] {
    std::vector<TokenReference> to_release;
    std::lock_guard lock(mutex);
    to_release.swap(kept);
    return !to_release.empty();
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRequestsPerThread; ++i) {
        int id = t * kRequestsPerThread + i;
        pool.getToken(TokenRequest(owner, [&, id](TokenReference const& token) {
          answers[id].fetch_add(1);
          std::lock_guard lock(mutex);
          if (!token.empty()) kept.push_back(token);  // returned later, often by another thread
        }));
        releaseKept();
      }
    });
  for (auto& thread : threads) thread.join();
  // Each round grants only requests still queued, so this ends.
  while (releaseKept()) {
  }
  int granted_or_refused_once = static_cast<int>(std::count_if(
      answers.begin(), answers.end(), [](std::atomic<int> const& count) { return count == 1; }));
  EXPECT_EQ(granted_or_refused_once, kThreads * kRequestsPerThread);
  EXPECT_EQ(pool.getNumTokensOutstanding(), 0u);
  EXPECT_EQ(pool.getNumQueuedRequests(), 0u);
}

}  // namespace
}  // namespace dravo::media
