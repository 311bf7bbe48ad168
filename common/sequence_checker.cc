#include "common/sequence_checker.h"

#include <atomic>

namespace dravo {

namespace {
thread_local SequenceToken t_current_sequence;
}  // namespace

SequenceToken SequenceToken::create() {
  static std::atomic<uint64_t> next{1};
  return SequenceToken(next.fetch_add(1, std::memory_order_relaxed));
}

SequenceToken SequenceToken::current() { return t_current_sequence; }

ScopedSequence::ScopedSequence(SequenceToken token) : previous_(t_current_sequence) {
  t_current_sequence = token;
}

ScopedSequence::~ScopedSequence() { t_current_sequence = previous_; }

bool SequenceChecker::isCurrent() const {
  if (!DRAVO_DCHECK_IS_ON) return true;
  SequenceToken const sequence = SequenceToken::current();
  std::thread::id const thread = std::this_thread::get_id();
  MutexLock lock(mutex_);
  if (!bound_) {
    bound_ = true;
    token_ = sequence;
    thread_ = thread;
    return true;
  }
  // Bound inside a sequence: any thread running that sequence will do.
  // Bound outside one: that thread, whatever it runs now.
  return token_.valid() ? sequence == token_ : thread == thread_;
}

void SequenceChecker::assertCurrent() const {
  DRAVO_ASSERT_MSG(isCurrent(), "Called on the wrong sequence");
}

void SequenceChecker::detach() {
  MutexLock lock(mutex_);
  bound_ = false;
}

}  // namespace dravo
