#include "media_common/token_pool.h"

#include "common/check.h"

namespace dravo::media {

namespace {

// The pools this thread is servicing right now, innermost first. A token
// that comes back while its pool is being serviced on the same thread (a
// dead request's token, or one an answer dropped at once) is only counted
// back: the servicing loop further up the stack hands it on. Servicing it
// in place would nest one loop per such token.
struct ServicingFrame {
  TokenPoolPrivate const* pool;
  ServicingFrame const* outer;
};
thread_local ServicingFrame const* t_servicing = nullptr;

bool isServicedOnThisThread(TokenPoolPrivate const* pool) {
  for (ServicingFrame const* frame = t_servicing; frame; frame = frame->outer)
    if (frame->pool == pool) return true;
  return false;
}

// Marks `pool` as serviced on this thread for the scope's lifetime.
class ScopedServicing {
 public:
  explicit ScopedServicing(TokenPoolPrivate const* pool) : frame_{pool, t_servicing} {
    t_servicing = &frame_;
  }
  ~ScopedServicing() { t_servicing = frame_.outer; }
  ScopedServicing(ScopedServicing const&) = delete;
  ScopedServicing& operator=(ScopedServicing const&) = delete;

 private:
  ServicingFrame frame_;
};

}  // namespace

TokenPoolPrivate::TokenPoolPrivate(unsigned int num_tokens, unsigned int queue_length,
                                   bool drop_oldest)
    : total_tokens_(num_tokens), queue_length_(queue_length), drop_oldest_(drop_oldest) {}

void TokenPoolPrivate::getToken(TokenRequest const& request) {
  // An answer may drop the last handle to this pool; stay alive until done.
  auto keep_alive = shared_from_this();
  MutexLock lock(mutex_);
  if (queue_.empty() && used_tokens_ < total_tokens_) {
    // What servicing would do with the request at the front of an empty
    // queue, without queueing a copy of it first.
    ScopedServicing servicing(this);
    TokenReference token = takeToken();
    lock.unlock();
    request(token);
    token.reset();
    lock.relock();
    serviceQueue(lock);
    return;
  }
  queue_.push_back(request);
  serviceQueue(lock);
}

TokenReference TokenPoolPrivate::tryGetToken() {
  MutexLock lock(mutex_);
  if (used_tokens_ < total_tokens_) return takeToken();
  return TokenReference();
}

void TokenPoolPrivate::setNumTokens(unsigned int num_tokens) {
  auto keep_alive = shared_from_this();
  MutexLock lock(mutex_);
  total_tokens_ = num_tokens;
  serviceQueue(lock);
}

void TokenPoolPrivate::setQueueLength(unsigned int queue_length) {
  auto keep_alive = shared_from_this();
  MutexLock lock(mutex_);
  queue_length_ = queue_length;
  serviceQueue(lock);
}

void TokenPoolPrivate::setDropPolicy(bool drop_oldest) {
  MutexLock lock(mutex_);
  drop_oldest_ = drop_oldest;
}

unsigned int TokenPoolPrivate::getNumTokens() {
  MutexLock lock(mutex_);
  return total_tokens_;
}

unsigned int TokenPoolPrivate::getNumTokensOutstanding() {
  MutexLock lock(mutex_);
  return used_tokens_;
}

unsigned int TokenPoolPrivate::getQueueLength() {
  MutexLock lock(mutex_);
  return queue_length_;
}

unsigned int TokenPoolPrivate::getNumQueuedRequests() {
  MutexLock lock(mutex_);
  return static_cast<unsigned int>(queue_.size());
}

bool TokenPoolPrivate::getDropPolicy() {
  MutexLock lock(mutex_);
  return drop_oldest_;
}

TokenReference TokenPoolPrivate::takeToken() {
  ++used_tokens_;
  std::weak_ptr<TokenPoolPrivate> weak_pool = weak_from_this();
  return TokenReference([weak_pool] { releaseToken(weak_pool); });
}

void TokenPoolPrivate::releaseToken(std::weak_ptr<TokenPoolPrivate> const& pool) {
  std::shared_ptr<TokenPoolPrivate> self = pool.lock();
  if (!self) return;
  MutexLock lock(self->mutex_);
  --self->used_tokens_;
  if (!isServicedOnThisThread(self.get())) self->serviceQueue(lock);
}

// `lock` holds `mutex_`; the answers are called with `mutex_` released.
void TokenPoolPrivate::serviceQueue(MutexLock&) {
  // One loop for granting and refusing: while the lock is released for an
  // answer, other threads may free tokens or queue requests, and a free token
  // must always go to a waiting request before any request is refused.
  ScopedServicing servicing(this);
  for (;;) {
    if (used_tokens_ < total_tokens_ && !queue_.empty()) {
      TokenReference token = takeToken();
      DRAVO_CHECK(!token.empty());
      TokenRequest request = std::move(queue_.front());
      queue_.pop_front();
      ScopedUnlock<Mutex> unlock(mutex_);
      request(token);
      // Drop the token and the request (whose bound arguments may hold
      // tokens of this pool) before relocking: a last release re-enters the
      // pool and takes the lock itself.
      token.reset();
      request = TokenRequest();
      continue;
    }
    if (queue_.size() > queue_length_) {
      DRAVO_ASSERT(queue_.size() <= queue_length_ || total_tokens_ <= used_tokens_);
      TokenRequest refused;
      if (drop_oldest_) {
        refused = std::move(queue_.front());
        queue_.pop_front();
      } else {
        refused = std::move(queue_.back());
        queue_.pop_back();
      }
      ScopedUnlock<Mutex> unlock(mutex_);
      refused(TokenReference());
      refused = TokenRequest();
      continue;
    }
    return;
  }
}

TokenPool::TokenPool(unsigned int num_tokens, unsigned int queue_length, bool drop_oldest)
    : impl_(std::make_shared<TokenPoolPrivate>(num_tokens, queue_length, drop_oldest)) {}

void TokenPool::getToken(TokenRequest const& request) { impl_->getToken(request); }

TokenReference TokenPool::tryGetToken() { return impl_->tryGetToken(); }

TokenPool& TokenPool::setNumTokens(unsigned int num_tokens) {
  impl_->setNumTokens(num_tokens);
  return *this;
}

TokenPool& TokenPool::setQueueLength(unsigned int queue_length) {
  impl_->setQueueLength(queue_length);
  return *this;
}

TokenPool& TokenPool::setDropPolicy(bool drop_oldest) {
  impl_->setDropPolicy(drop_oldest);
  return *this;
}

unsigned int TokenPool::getNumTokens() const { return impl_->getNumTokens(); }
unsigned int TokenPool::getNumTokensOutstanding() const { return impl_->getNumTokensOutstanding(); }
unsigned int TokenPool::getQueueLength() const { return impl_->getQueueLength(); }
unsigned int TokenPool::getNumQueuedRequests() const { return impl_->getNumQueuedRequests(); }
bool TokenPool::getDropPolicy() const { return impl_->getDropPolicy(); }

}  // namespace dravo::media
