#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace engine {

// A list of texts shared between threads. AddTail locks by itself; a reader that takes several
// texts in a row holds the lock from Lock() to Unlock(). The lock is re-entrant, and every call
// takes it, so a single RemoveHead or GetCount without Lock() is still safe.
class LockedStringQueue {
public:
    // A text with what its writer noted beside it (the tracer: the line's level and when it was
    // traced).
    struct Entry {
        std::string text;
        unsigned level = 0;
        std::chrono::system_clock::time_point at{};
    };

    LockedStringQueue() = default;
    ~LockedStringQueue();
    LockedStringQueue(const LockedStringQueue&) = delete;
    LockedStringQueue& operator=(const LockedStringQueue&) = delete;

    void AddTail(const std::string& text);
    void AddTail(std::string&& text);
    void AddTail(Entry entry);

    // Waits without time-out. Nested calls on one thread need as many Unlock() calls.
    void Lock();
    // The first text, removed; the empty text when there is none.
    std::string RemoveHead();
    // Releases one Lock() of the calling thread; does nothing when this thread holds none.
    void Unlock();
    // Moves every entry, oldest first, to the end of `into` in one step; how many it moved.
    std::size_t TakeAll(std::vector<Entry>& into);

    void RemoveAll();
    std::size_t GetCount() const;
    bool IsEmpty() const { return GetCount() == 0; }

private:
    mutable std::recursive_mutex m_lock;
    std::deque<Entry> m_texts;
    // Who holds the explicit lock and how often; written only by the holder.
    std::atomic<std::thread::id> m_holder{};
    int m_nHeld = 0;
};

} // namespace engine
