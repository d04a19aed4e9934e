#pragma once

// A re-entrant lock: the thread that holds it may take it again, and must release it as many
// times as it took it. The engine's code takes the same lock again from within calls made under
// it, so a plain mutex would deadlock there.
//
// Meets Lockable, so std::lock_guard, std::unique_lock and std::scoped_lock work with it as well
// as the CriticalSectionLock below. Annotated for the thread-safety analysis, which does not know
// that it is re-entrant (see ThreadAnnotations.h).

#include <platform/ThreadAnnotations.h>

#include <mutex>

namespace platform {

class CAPABILITY("mutex") CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Lock() ACQUIRE() { mutex_.lock(); }
    // Only by the thread that holds it.
    void Unlock() RELEASE() { mutex_.unlock(); }
    bool TryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

    void lock() ACQUIRE() { Lock(); }
    void unlock() RELEASE() { Unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return TryLock(); }

private:
    std::recursive_mutex mutex_;
};

// Holds the lock for its own lifetime.
class SCOPED_CAPABILITY CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& section) ACQUIRE(section) : section_(section) {
        section_.Lock();
    }
    ~CriticalSectionLock() RELEASE() { section_.Unlock(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& section_;
};

} // namespace platform
