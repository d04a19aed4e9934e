#pragma once

// A re-entrant lock: the thread that holds it may take it again, and must release it as many
// times as it took it. The engine's code takes the same lock again from within calls made under
// it, so a plain mutex would deadlock there.
//
// Meets Lockable, so std::lock_guard, std::unique_lock and std::scoped_lock work with it as well
// as the CriticalSectionLock below.

#include <mutex>

namespace platform {

class CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Lock() { mutex_.lock(); }
    // Only by the thread that holds it.
    void Unlock() { mutex_.unlock(); }
    bool TryLock() { return mutex_.try_lock(); }

    void lock() { Lock(); }
    void unlock() { Unlock(); }
    bool try_lock() { return TryLock(); }

private:
    std::recursive_mutex mutex_;
};

// Holds the lock for its own lifetime.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& section) : section_(section) { section_.Lock(); }
    ~CriticalSectionLock() { section_.Unlock(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& section_;
};

} // namespace platform
