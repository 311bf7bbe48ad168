#pragma once
// Clang thread-safety annotations; empty on other compilers.
//
// A clang build with -Wthread-safety checks them (see MEDIA_THREAD_SAFETY in
// the top-level CMakeLists.txt). Mark what each lock guards and what each
// function needs:
//
//     Mutex mutex_;
//     Mutex queue_mutex_ DRAVO_ACQUIRED_AFTER(mutex_);  // taken inside mutex_
//     int count_ DRAVO_GUARDED_BY(mutex_);
//     void bump() DRAVO_REQUIRES(mutex_);
//
// Sequence confinement is checked the same way: a member marked
// DRAVO_GUARDED_BY(sequence_checker_) may be touched only after
// DRAVO_DCHECK_RUN_ON(sequence_checker_) (common/sequence_checker.h).
//
// DRAVO_NO_THREAD_SAFETY_ANALYSIS switches the analysis off for one function.
// Use it only where the analysis cannot follow the code (a recursive mutex
// re-entered from a callback), and say why on the same line.

#if defined(__clang__)
#define DRAVO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define DRAVO_THREAD_ANNOTATION(x)
#endif

// Types: a lock (or a sequence) and an RAII holder of one.
#define DRAVO_CAPABILITY(name) DRAVO_THREAD_ANNOTATION(capability(name))
#define DRAVO_SCOPED_CAPABILITY DRAVO_THREAD_ANNOTATION(scoped_lockable)

// Data: what must be held to touch a member (or what it points to).
#define DRAVO_GUARDED_BY(m) DRAVO_THREAD_ANNOTATION(guarded_by(m))
#define DRAVO_PT_GUARDED_BY(m) DRAVO_THREAD_ANNOTATION(pt_guarded_by(m))

// Lock order: this lock is taken while the named ones are held (AFTER), or
// before any of them (BEFORE). Clang checks it with -Wthread-safety-beta only;
// the annotation documents the order either way.
#define DRAVO_ACQUIRED_AFTER(...) DRAVO_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define DRAVO_ACQUIRED_BEFORE(...) DRAVO_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))

// Functions: what they take, give back, need held, or need free.
#define DRAVO_ACQUIRE(...) DRAVO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define DRAVO_ACQUIRE_SHARED(...) DRAVO_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define DRAVO_RELEASE(...) DRAVO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define DRAVO_RELEASE_SHARED(...) DRAVO_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define DRAVO_RELEASE_GENERIC(...) DRAVO_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define DRAVO_TRY_ACQUIRE(...) DRAVO_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define DRAVO_REQUIRES(...) DRAVO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define DRAVO_REQUIRES_SHARED(...) DRAVO_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define DRAVO_EXCLUDES(...) DRAVO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// The function checks at run time that the capability is held and fails
// loudly otherwise; after the call the analysis treats it as held.
#define DRAVO_ASSERT_CAPABILITY(x) DRAVO_THREAD_ANNOTATION(assert_capability(x))
// The function returns a reference to the named capability.
#define DRAVO_RETURN_CAPABILITY(x) DRAVO_THREAD_ANNOTATION(lock_returned(x))

#define DRAVO_NO_THREAD_SAFETY_ANALYSIS DRAVO_THREAD_ANNOTATION(no_thread_safety_analysis)
