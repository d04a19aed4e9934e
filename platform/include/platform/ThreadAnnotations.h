#pragma once

// The lock rules in the declarations, checked by clang's -Wthread-safety (the build option
// VELTRANE_THREAD_SAFETY); other compilers see nothing. GUARDED_BY names the lock a member is
// read and written under, REQUIRES the locks a function expects its caller to hold, EXCLUDES the
// ones it takes itself, RETURN_CAPABILITY an accessor that hands out a lock.
//
// The analysis knows no re-entrant lock: a CriticalSection taken again further down a call chain
// is fine, but a function that takes one must not be declared EXCLUDES it when its callers may
// already hold it.

#if defined(__clang__)
#define VELTRANE_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define VELTRANE_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) VELTRANE_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY VELTRANE_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) VELTRANE_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) VELTRANE_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) VELTRANE_THREAD_ATTRIBUTE(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) VELTRANE_THREAD_ATTRIBUTE(acquired_after(__VA_ARGS__))
#define REQUIRES(...) VELTRANE_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) VELTRANE_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VELTRANE_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VELTRANE_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) VELTRANE_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) VELTRANE_THREAD_ATTRIBUTE(assert_capability(x))
#define RETURN_CAPABILITY(x) VELTRANE_THREAD_ATTRIBUTE(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS VELTRANE_THREAD_ATTRIBUTE(no_thread_safety_analysis)
