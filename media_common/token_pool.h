#pragma once
// Bounds how many buffers an output pad has in flight.
//
// A sender asks for a token before it sends a buffer; the buffer carries the
// token, and the token comes back when the last copy of the buffer goes.
// Requests that find no free token wait in a queue, oldest first; when more
// than the queue length wait, one is refused: the oldest with drop policy
// true, the newest with false. Every request is answered exactly once through
// its function, with a token or, when refused, with an empty reference; a
// request whose owner died is answered by doing nothing (its token goes
// straight back).
//
//     TokenPool pool(2, 4, true);  // 2 tokens, up to 4 waiting, drop oldest
//     pool.getToken(WeakFunction<void(TokenReference const&)>(owner, [](auto& token) {
//       if (!token.empty()) send(token);
//     }));
//
// Owner: copies of a `TokenPool` share one pool, which lives while any copy
// does. Tokens reach it weakly and are harmless after it is gone.
//
// Threads: every method may be called on any thread. A request is answered
// on the thread that made a token free: the `getToken` caller when one was
// free, else the thread that released the last copy of an earlier buffer or
// raised the number of tokens. Answers are given in queue order and with the
// pool's lock released, so they may call back into the pool.

#include <cstdint>
#include <deque>
#include <memory>

#include "common/mutex.h"
#include "common/weak_function.h"
#include "media_common/token_reference.h"

namespace dravo::media {

using TokenRequest = WeakFunction<void(TokenReference const&)>;

// The shared state behind `TokenPool`; see there.
class TokenPoolPrivate : public std::enable_shared_from_this<TokenPoolPrivate> {
 public:
  TokenPoolPrivate(unsigned int num_tokens, unsigned int queue_length, bool drop_oldest);

  void getToken(TokenRequest const& request);
  TokenReference tryGetToken();
  void setNumTokens(unsigned int num_tokens);
  void setQueueLength(unsigned int queue_length);
  void setDropPolicy(bool drop_oldest);

  unsigned int getNumTokens();
  unsigned int getNumTokensOutstanding();
  unsigned int getQueueLength();
  unsigned int getNumQueuedRequests();
  bool getDropPolicy();

 private:
  TokenReference takeToken() DRAVO_REQUIRES(mutex_);
  // Grants and refuses waiting requests; `lock` holds mutex_ on entry and on
  // exit and is released around every answer.
  void serviceQueue(MutexLock& lock) DRAVO_REQUIRES(mutex_);
  static void releaseToken(std::weak_ptr<TokenPoolPrivate> const& pool);

  Mutex mutex_;
  uint32_t total_tokens_ DRAVO_GUARDED_BY(mutex_);
  uint32_t used_tokens_ DRAVO_GUARDED_BY(mutex_) = 0;
  // 4294967295 means no practical limit.
  uint32_t queue_length_ DRAVO_GUARDED_BY(mutex_);
  // true: refuse the oldest waiting request; false: the newest.
  bool drop_oldest_ DRAVO_GUARDED_BY(mutex_);
  std::deque<TokenRequest> queue_ DRAVO_GUARDED_BY(mutex_);
};

class TokenPool {
 public:
  TokenPool(unsigned int num_tokens, unsigned int queue_length, bool drop_oldest);

  // Queues `request` and services the queue; the answer may come at once.
  void getToken(TokenRequest const& request);
  // A free token, or an empty reference; never queues.
  TokenReference tryGetToken();

  TokenPool& setNumTokens(unsigned int num_tokens);
  TokenPool& setQueueLength(unsigned int queue_length);
  TokenPool& setDropPolicy(bool drop_oldest);

  unsigned int getNumTokens() const;
  unsigned int getNumTokensOutstanding() const;
  unsigned int getQueueLength() const;
  unsigned int getNumQueuedRequests() const;
  bool getDropPolicy() const;

 private:
  std::shared_ptr<TokenPoolPrivate> impl_;
};

}  // namespace dravo::media
