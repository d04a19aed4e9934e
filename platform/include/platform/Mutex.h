#pragma once

// std::mutex with the annotations of ThreadAnnotations.h, which libstdc++'s own lacks, and the
// two holders the code uses. Inline and no larger than what they wrap.
//
// A condition variable waits on UniqueLock::Native(); its predicate is a lambda declared
// REQUIRES(the mutex), since the analysis sees a lambda as a function of its own.

#include <platform/ThreadAnnotations.h>

#include <mutex>

namespace platform {

class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

    // Only for a UniqueLock to hold.
    std::mutex& Native() { return mutex_; }

private:
    std::mutex mutex_;
};

// Holds the mutex for its own lifetime.
class SCOPED_CAPABILITY LockGuard {
public:
    explicit LockGuard(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~LockGuard() RELEASE() { mutex_.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Mutex& mutex_;
};

// Holds the mutex from its construction, may let it go and take it again, releases it at its end
// when held; a std::condition_variable waits on Native().
class SCOPED_CAPABILITY UniqueLock {
public:
    explicit UniqueLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.Native()) {}
    ~UniqueLock() RELEASE() {}
    UniqueLock(const UniqueLock&) = delete;
    UniqueLock& operator=(const UniqueLock&) = delete;

    void lock() ACQUIRE() { lock_.lock(); }
    void unlock() RELEASE() { lock_.unlock(); }

    std::unique_lock<std::mutex>& Native() { return lock_; }

private:
    std::unique_lock<std::mutex> lock_;
};

} // namespace platform
