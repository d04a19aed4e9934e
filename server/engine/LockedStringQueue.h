#pragma once

#include <platform/CriticalSection.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace engine {

// A list of texts shared between threads. AddTail locks by itself; a reader that takes several
// texts in a row holds the lock from Lock() to Unlock(). The lock is re-entrant, and every call
// takes it, so a single RemoveHead or GetCount without Lock() is still safe. To the analysis the
// queue itself is the lock that Lock() takes, so what its users keep under it can say so.
class CAPABILITY("mutex") LockedStringQueue {
public:
    // A text with what its writer noted beside it (the tracer: the line's level and when it was
    // traced; a text added without a time has none, rather than the clock's zero).
    struct Entry {
        std::string text;
        unsigned level = 0;
        std::optional<std::chrono::system_clock::time_point> at = std::nullopt;
    };

    LockedStringQueue() = default;
    // Lets go of what the destroying thread still holds, which only the hold count knows.
    ~LockedStringQueue() NO_THREAD_SAFETY_ANALYSIS;
    LockedStringQueue(const LockedStringQueue&) = delete;
    LockedStringQueue& operator=(const LockedStringQueue&) = delete;

    void AddTail(const std::string& text);
    void AddTail(std::string&& text);
    void AddTail(Entry entry);

    // Waits without time-out. Nested calls on one thread need as many Unlock() calls. The lock
    // the analysis sees is the queue; the one held is m_lock, which it cannot connect.
    void Lock() ACQUIRE() NO_THREAD_SAFETY_ANALYSIS;
    // The first text, removed; the empty text when there is none.
    std::string RemoveHead();
    // Releases one Lock() of the calling thread; does nothing when this thread holds none.
    void Unlock() RELEASE() NO_THREAD_SAFETY_ANALYSIS;
    // Moves every entry, oldest first, to the end of `into` in one step; how many it moved.
    std::size_t TakeAll(std::vector<Entry>& into);

    void RemoveAll();
    std::size_t GetCount() const;
    bool IsEmpty() const { return GetCount() == 0; }

private:
    mutable platform::CriticalSection m_lock;
    std::deque<Entry> m_texts GUARDED_BY(m_lock);
    // Who holds the explicit lock and how often; written only by the holder.
    std::atomic<std::thread::id> m_holder{};
    int m_nHeld = 0;
};

} // namespace engine
