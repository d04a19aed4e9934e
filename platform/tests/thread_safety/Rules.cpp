// Compiled by check.sh with clang's -Wthread-safety: RULE 0 keeps every rule and must compile; each
// other RULE breaks one and must fail with a thread-safety error.

#include <platform/CriticalSection.h>
#include <platform/Mutex.h>

#include <condition_variable>

namespace {

class Counter {
public:
    void Add() EXCLUDES(m_lock) {
        platform::LockGuard guard(m_lock);
        AddLocked();
    }
    void AddLocked() REQUIRES(m_lock) { ++m_count; }
    void WaitForSome() EXCLUDES(m_lock) {
        platform::UniqueLock lock(m_lock);
        m_changed.wait(lock.Native(), [this]() REQUIRES(m_lock) { return m_count > 0; });
        m_count = 0;
        lock.unlock();
        lock.lock();
        ++m_count;
    }
    platform::CriticalSection& ListLock() RETURN_CAPABILITY(m_listLock) { return m_listLock; }
    int Items() const REQUIRES(m_listLock) { return m_items; }

#if RULE == 1 // a guarded member written without its lock
    void Break() {
        m_count = 1;
    }
#elif RULE == 2 // a REQUIRES function called without the lock
    void Break() {
        AddLocked();
    }
#elif RULE == 3 // an EXCLUDES function called with the lock held
    void Break() {
        platform::LockGuard guard(m_lock);
        Add();
    }
#elif RULE == 4 // read after the unique lock let go
    int Break() {
        platform::UniqueLock lock(m_lock);
        lock.unlock();
        return m_count;
    }
#elif RULE == 5 // a predicate that reads without saying it runs under the lock
    void Break() {
        platform::UniqueLock lock(m_lock);
        m_changed.wait(lock.Native(), [this] { return m_count > 0; });
    }
#elif RULE == 6 // a critical section's member read after its lock's scope
    int Break() {
        { platform::CriticalSectionLock guard(m_listLock); }
        return m_items;
    }
#elif RULE == 7 // the lock handed out by an accessor is another object's
    int Break(Counter& other) {
        platform::CriticalSectionLock guard(other.ListLock());
        return Items();
    }
#endif

private:
    platform::Mutex m_lock;
    std::condition_variable m_changed;
    int m_count GUARDED_BY(m_lock) = 0;
    platform::CriticalSection m_listLock;
    int m_items GUARDED_BY(m_listLock) = 0;
};

} // namespace

int ReadThroughAccessor(Counter& counter) {
    platform::CriticalSectionLock guard(counter.ListLock());
    return counter.Items();
}
