#pragma once
// Clang thread-safety annotations; empty on other compilers.

#if defined(__clang__)
#define DRAVO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define DRAVO_THREAD_ANNOTATION(x)
#endif

#define DRAVO_CAPABILITY(name) DRAVO_THREAD_ANNOTATION(capability(name))
#define DRAVO_SCOPED_CAPABILITY DRAVO_THREAD_ANNOTATION(scoped_lockable)
#define DRAVO_GUARDED_BY(m) DRAVO_THREAD_ANNOTATION(guarded_by(m))
#define DRAVO_PT_GUARDED_BY(m) DRAVO_THREAD_ANNOTATION(pt_guarded_by(m))
#define DRAVO_ACQUIRE(...) DRAVO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define DRAVO_RELEASE(...) DRAVO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define DRAVO_TRY_ACQUIRE(...) DRAVO_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define DRAVO_REQUIRES(...) DRAVO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define DRAVO_EXCLUDES(...) DRAVO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
