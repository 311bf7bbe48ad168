#pragma once
// Sequences, and a checker for state that is confined to one.
//
// A sequence is a series of tasks that never run at the same time, though not
// necessarily on one thread: the tasks of one owner on a threaded scheduler
// hop between workers. State touched only by such tasks needs no lock.
// `SequenceChecker` makes that rule visible to clang's thread-safety analysis
// and, in checked builds, enforces it at run time:
//
//     class Sink {
//       void onBuffer() {              // runs on the element's scheduler
//         DRAVO_DCHECK_RUN_ON(sequence_checker_);
//         ++frames_;
//       }
//       SequenceChecker sequence_checker_;
//       int frames_ DRAVO_GUARDED_BY(sequence_checker_) = 0;
//     };
//
// A checker is unbound when made. The first check binds it to the calling
// sequence: the `SequenceToken` that the running task's scheduler installed
// with a `ScopedSequence`, or the calling thread when no token is installed.
// A later check passes on any thread running that token, or on that thread;
// elsewhere it is the assertion "Called on the wrong sequence". `detach()`
// unbinds it, for state that moves to another sequence (built on one thread,
// then run on a scheduler).
//
// Checked builds: DRAVO_DCHECK_IS_ON is 1 unless the CMake option
// MEDIA_DCHECK is off (its default is off for the Release and MinSizeRel
// build types only, so tests always check). Without it every check passes
// at no cost and only the compile-time analysis remains.
//
// Scheduler side: a scheduler makes one token per sequence with
// `SequenceToken::create()` and wraps each task it runs in a
// `ScopedSequence scope(token);`.
//
// Threads: a checker may be checked from any thread (that is its purpose);
// tokens are plain values; the current token is per thread.

#include <cstdint>
#include <thread>

#include "common/mutex.h"
#include "common/thread_annotations.h"

#ifndef DRAVO_DCHECK_IS_ON
#define DRAVO_DCHECK_IS_ON 1
#endif

namespace dravo {

class SequenceToken {
 public:
  // The invalid token.
  SequenceToken() = default;

  // A token distinct from every other one made in this process.
  static SequenceToken create();
  // The token of the sequence the calling thread runs now, or the invalid one.
  static SequenceToken current();

  bool valid() const { return value_ != 0; }
  bool operator==(SequenceToken const&) const = default;

 private:
  explicit SequenceToken(uint64_t value) : value_(value) {}
  uint64_t value_ = 0;
};

// Declares that the calling thread runs a task of `token`'s sequence until
// this object goes; nests, restoring the previous token.
class ScopedSequence : NonCopyable {
 public:
  explicit ScopedSequence(SequenceToken token);
  ~ScopedSequence();

 private:
  SequenceToken previous_;
};

class DRAVO_CAPABILITY("sequence") SequenceChecker : NonCopyable {
 public:
  SequenceChecker() = default;

  // True when the caller runs on the bound sequence; binds an unbound
  // checker. Always true in unchecked builds.
  bool isCurrent() const;
  // Asserts isCurrent(); afterwards the analysis lets the caller touch
  // members guarded by this checker.
  void assertCurrent() const DRAVO_ASSERT_CAPABILITY(this);
  // The next check binds again.
  void detach();

 private:
  mutable Mutex mutex_;
  mutable bool bound_ DRAVO_GUARDED_BY(mutex_) = false;
  mutable SequenceToken token_ DRAVO_GUARDED_BY(mutex_);
  mutable std::thread::id thread_ DRAVO_GUARDED_BY(mutex_);
};

}  // namespace dravo

// Asserts, in checked builds, that the caller runs on `checker`'s sequence,
// and tells the analysis so for the rest of the scope.
#define DRAVO_DCHECK_RUN_ON(checker) (checker).assertCurrent()
